#pragma once

#include <sqlite3.h>

#include <QFile>
#include <QString>

// A connection of its own to the file that holds a transaction open, as Dorvik or SolvanePlus
// would while it saves: `begin` is the statement that takes the lock ("BEGIN IMMEDIATE",
// "BEGIN EXCLUSIVE", ...).
class OtherProgramLock {
public:
    OtherProgramLock(const QString& path, const char* begin) {
        const QByteArray name = QFile::encodeName(path);
        if (sqlite3_open_v2(name.constData(), &db_, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
            locked_ = sqlite3_exec(db_, begin, nullptr, nullptr, nullptr) == SQLITE_OK;
        }
    }
    ~OtherProgramLock() {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }
    OtherProgramLock(const OtherProgramLock&) = delete;
    OtherProgramLock& operator=(const OtherProgramLock&) = delete;
    bool Locked() const { return locked_; }

private:
    sqlite3* db_ = nullptr;
    bool locked_ = false;
};
