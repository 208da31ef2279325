// The SQLite driver's database: action statements, recordsets, and the opening of a file with
// the checks that tell at once what would fail later.

#include <QFile>
#include <QFileInfo>
#include <QVariant>
#include <algorithm>
#include <chrono>

#include "data/SqlText.h"
#include "data/SqliteConnection.h"
#include "data/SqliteExecute.h"
#include "data/SqliteRecordset.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace dao::detail {

namespace sqlite {

namespace {

// ---- Database

class SqliteDatabase final : public Database {
public:
    explicit SqliteDatabase(std::shared_ptr<Connection> conn) : conn_(std::move(conn)) {}
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    ~SqliteDatabase() override {
        // Dropped without Close: what is saved is committed. Recordsets still open keep the
        // file open until they go.
        conn_->CommitQuietly();
        if (!conn_->HasRecordsets()) {
            conn_->CloseQuietly();
        }
    }

    void Execute(const QString& sql) override {
        conn_->CheckOpen();
        SetLastExecute({});
        conn_->Commit();
        conn_->PrepareForWriting();
        // The statement commits as it completes; over a whole table that takes seconds.
        ExecuteOutcome outcome;
        conn_->Options().KeepBusyWhile([&] { outcome = ExecuteCounted(*conn_, sql); });
        SetLastExecute(std::move(outcome));
    }

    std::shared_ptr<Recordset> OpenTable(const QString& tableName, int32_t type) override {
        return Open("SELECT * FROM " + QuoteName(tableName), tableName, type);
    }

    QString Name() const override { return conn_->Path(); }

    QStringList TableNames() override {
        const std::shared_ptr<Recordset> rs = Open(
            "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE "
            "'sqlite\\_%' ESCAPE '\\'",
            QString(), dbOpenSnapshot);
        QStringList names;
        for (; !rs->Eof(); rs->MoveNext()) {
            names << rs->FieldValue(0).toString();
        }
        rs->Close();
        return names;
    }

    QStringList Describe() override {
        return {QStringLiteral("형식: SQLite 3"),
                QStringLiteral("드라이버: SQLite C API %1")
                    .arg(QString::fromLatin1(sqlite3_libversion()))};
    }

    void BackupTo(const QString& path) override {
        conn_->CheckOpen();
        conn_->Commit();
        conn_->CheckIdentity();
        // The copy is written beside its final name and renamed once it is whole.
        const QString partial = path + QStringLiteral(".partial");
        QFile::remove(partial);
        try {
            conn_->Options().KeepBusyWhile([&] { BackupInto(partial, path); });
        } catch (...) {
            QFile::remove(partial);
            throw;
        }
        QFile::remove(path);
        if (!QFile::rename(partial, path)) {
            QFile::remove(partial);
            throw Error(errCannotOpenFile, ErrorKind::CopyFailed,
                        {.file = conn_->Path(), .details = {path}});
        }
    }

    bool CanRestoreFrom() const override { return true; }

    void Checkpoint() override {
        conn_->CheckOpen();
        conn_->Commit();
        // A file in rollback-journal mode has no log: SQLite does nothing and says so.
        // https://www.sqlite.org/c3ref/wal_checkpoint_v2.html
        conn_->Options().KeepBusyWhile([&] {
            sqlite3_wal_checkpoint_v2(conn_->Db(), "main", SQLITE_CHECKPOINT_TRUNCATE, nullptr,
                                      nullptr);
        });
    }

    void RestoreFrom(const QString& path) override {
        conn_->CheckOpen();
        conn_->Commit();
        conn_->CheckIdentity();
        conn_->PrepareForWriting();
        conn_->Options().KeepBusyWhile([&] { RestoreInto(path); });
    }

    void Close() override { conn_->Close(); }

protected:
    std::shared_ptr<Recordset> OpenQuery(const QString& source, int32_t type) override {
        if (type == dbOpenDynaset) {
            conn_->CheckOpen();
            throw Error(errInvalidArgument, ErrorKind::DynasetNeedsTable, {.details = {source}});
        }
        return Open(source.toUtf8(), QString(), type);
    }

private:
    // SQLite's online backup from this connection into a new file at `target`, in one step: the
    // step holds a read lock on the source for its length, so the copy is one consistent state.
    // Errors name the copy as `named`.
    void BackupInto(const QString& target, const QString& named) {
        sqlite3* copy = nullptr;
        const QByteArray name = QFileInfo(target).absoluteFilePath().toUtf8();
        int rc = sqlite3_open_v2(name.constData(), &copy,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(copy,
                                 static_cast<int>(conn_->Options().engine.busyTimeout.count()));
            sqlite3_backup* backup = sqlite3_backup_init(copy, "main", conn_->Db(), "main");
            if (backup == nullptr) {
                rc = sqlite3_extended_errcode(copy);
            } else {
                // Another program's write lock is waited out for the busy timeout, as a save is.
                const auto deadline =
                    std::chrono::steady_clock::now() + conn_->Options().engine.busyTimeout;
                do {
                    rc = sqlite3_backup_step(backup, -1);
                    if (IsLockCode(rc) && std::chrono::steady_clock::now() < deadline) {
                        sqlite3_sleep(50);
                        rc = SQLITE_OK;
                    }
                } while (rc == SQLITE_OK);
                sqlite3_backup_finish(backup);
                rc = rc == SQLITE_DONE ? sqlite3_extended_errcode(copy) : rc;
            }
        }
        const QString message = copy != nullptr ? ErrorMessage(copy) : QString();
        sqlite3_close(copy);
        if (rc == SQLITE_OK || rc == SQLITE_DONE) {
            return;
        }
        if (IsLockCode(rc)) {
            throw Error(errDatabaseLocked, ErrorKind::FileLocked, {.file = conn_->Path()});
        }
        if (PrimaryCode(rc) == SQLITE_FULL) {
            throw Error(errDiskFull, ErrorKind::DiskFull, {.file = named, .driverText = message});
        }
        throw Error(errCannotOpenFile, ErrorKind::CopyFailed,
                    {.file = conn_->Path(), .driverText = message, .details = {named}});
    }

    // SQLite's online backup from the file at `from` into this connection's database, in one
    // step: the destination is written in one transaction of this connection, journal or
    // write-ahead log included, and a failure rolls it back whole.
    void RestoreInto(const QString& from) {
        sqlite3* source = nullptr;
        const QByteArray name = QFileInfo(from).absoluteFilePath().toUtf8();
        int rc = sqlite3_open_v2(name.constData(), &source,
                                 SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        QString message;
        if (rc == SQLITE_OK) {
            sqlite3_backup* backup = sqlite3_backup_init(conn_->Db(), "main", source, "main");
            if (backup == nullptr) {
                rc = sqlite3_extended_errcode(conn_->Db());
                message = ErrorMessage(conn_->Db());
            } else {
                rc = sqlite3_backup_step(backup, -1);
                const int finished = sqlite3_backup_finish(backup);
                if (rc == SQLITE_DONE) {
                    rc = finished;
                }
                if (rc != SQLITE_OK && rc != SQLITE_DONE) {
                    message = QString::fromUtf8(sqlite3_errstr(rc));
                }
            }
        } else {
            message = source != nullptr ? ErrorMessage(source) : QString();
        }
        sqlite3_close(source);
        if (rc == SQLITE_OK || rc == SQLITE_DONE) {
            return;
        }
        if (IsLockCode(rc)) {
            throw Error(errDatabaseLocked, ErrorKind::FileLocked, {.file = conn_->Path()});
        }
        if (PrimaryCode(rc) == SQLITE_FULL) {
            throw Error(errDiskFull, ErrorKind::DiskFull,
                        {.file = conn_->Path(), .driverText = message});
        }
        throw Error(errCannotOpenFile, ErrorKind::CopyFailed,
                    {.file = from, .driverText = message, .details = {conn_->Path()}});
    }

    // Opens `sql`, which reads `table` whole, or another query when `table` is empty.
    std::shared_ptr<Recordset> Open(const QByteArray& sql, const QString& table, int32_t type) {
        conn_->CheckOpen();
        CheckRecordsetType(type);
        conn_->Commit();
        Statement select;
        try {
            select = Prepare(*conn_, sql, table);
        } catch (const Error& e) {
            // Preparing reads the schema again when another process has changed it.
            if (e.Number() == errRecordLocked) {
                throw TableLockedError(conn_->Path(), table);
            }
            throw;
        }
        if (sqlite3_stmt_readonly(select.get()) == 0) {
            throw Error(errInvalidArgument, ErrorKind::NotASelect,
                        {.details = {QString::fromUtf8(sql)}});
        }
        auto rs = std::make_shared<SqliteRecordset>(conn_, type == dbOpenDynaset, table,
                                                    std::move(select));
        rs->Start();
        return rs;
    }

    std::shared_ptr<Connection> conn_;
};

Error FileError(int32_t number, ErrorKind kind, const QString& path, const QString& message = {}) {
    return Error(number, kind, {.file = path, .driverText = message});
}

// Steps `sql` to its first row and puts the row's first value into `value`; SQLite's code.
int FirstValue(sqlite3* db, const char* sql, QByteArray& value) {
    Statement query;
    int code = sqlite3_prepare_v2(db, sql, -1, query.out(), nullptr);
    if (code == SQLITE_OK) {
        code = sqlite3_step(query.get()) == SQLITE_ROW ? SQLITE_OK : sqlite3_extended_errcode(db);
    }
    if (code == SQLITE_OK) {
        value = QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(query.get(), 0)));
    }
    return code;
}

// The header was checked before; reading the schema proves that no other process holds the file
// locked, and SQLite's quick check that its pages and indexes hold together: a damaged file is
// refused at open, before the caller changes anything, rather than found half way through its
// work. The check reads the whole file once: 0.65 s for a source of 1,000,000 products (220 MB)
// in the page cache, 4.6 s from a cold cache on this machine's disk.
void CheckReadable(sqlite3* db, const QString& path) {
    QByteArray verdict;
    int code = FirstValue(db, "SELECT count(*) FROM sqlite_master", verdict);
    if (code == SQLITE_OK) {
        code = FirstValue(db, "PRAGMA quick_check", verdict);
        if (code == SQLITE_OK && verdict != "ok") {
            throw FileError(errUnrecognisedFormat, ErrorKind::DamagedFile, path);
        }
    }
    if (code == SQLITE_OK) {
        return;
    }
    switch (PrimaryCode(code)) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            throw FileError(errDatabaseLocked, ErrorKind::FileLocked, path);
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_FORMAT:
            throw FileError(errUnrecognisedFormat, ErrorKind::DamagedFile, path);
        default:
            throw FileError(errCannotOpenFile, ErrorKind::CannotOpen, path, ErrorMessage(db));
    }
}

void CheckWritable(sqlite3* db, const QString& path) {
    if (sqlite3_db_readonly(db, "main") == 1) {
        throw FileError(errCannotOpenFile, ErrorKind::FileNotWritable, path);
    }
#ifdef Q_OS_UNIX
    // Saving writes a journal next to the file: in a folder that cannot be written every save
    // would fail, perhaps after the other database of a run has been changed.
    const QString folder = QFileInfo(path).absolutePath();
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0) {
        throw Error(errCannotOpenFile, ErrorKind::FolderNotWritable,
                    {.file = path, .details = {folder}});
    }
#endif
}

// Another process's write lock (Dorvik or SolvanePlus still running) does not stop reading, so it
// would show only at the first save. Taking the write lock once and giving it back sees it now,
// before anything is changed.
void CheckNotLocked(Connection& conn, bool exclusive) {
    // Exclusive: the write lock is taken for good, so that no other connection can read or
    // write until this one closes (https://www.sqlite.org/pragma.html#pragma_locking_mode).
    if (const int lock = conn.Exec(exclusive ? "BEGIN EXCLUSIVE" : "BEGIN IMMEDIATE");
        lock != SQLITE_OK) {
        if (IsLockCode(lock)) {
            throw FileError(errDatabaseLocked, ErrorKind::FileLocked, conn.Path());
        }
        throw conn.ErrorNow(lock);
    }
    conn.Exec(exclusive ? "COMMIT" : "ROLLBACK");
}

}  // namespace

}  // namespace sqlite

std::shared_ptr<Database> OpenSqliteDatabase(const QString& path, const OpenOptions& options) {
    using namespace sqlite;
    // An absolute path never reads as a "file:" URI, which this SQLite build would otherwise
    // accept.
    const QByteArray name = QFileInfo(path).absoluteFilePath().toUtf8();
    sqlite3* db = nullptr;
    // Read and write only: never create the file.
    const int rc = sqlite3_open_v2(
        name.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
        nullptr);
    if (rc != SQLITE_OK) {
        const QString message =
            db != nullptr ? ErrorMessage(db) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        throw FileError(errCannotOpenFile, ErrorKind::CannotOpen, path, message);
    }
    auto conn = std::make_shared<Connection>(db, path, options);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, static_cast<int>(options.engine.busyTimeout.count()));
    // Set before the first read, so that a file in WAL mode keeps its index in this process and
    // no other connection can open it beside this one.
    if (options.exclusive && conn->Exec("PRAGMA locking_mode=EXCLUSIVE") != SQLITE_OK) {
        throw FileError(errCannotOpenFile, ErrorKind::CannotOpen, path, ErrorMessage(db));
    }
    // The quick check reads the whole file: a window waiting on it keeps painting.
    options.KeepBusyWhile([&] { CheckReadable(db, path); });
    CheckWritable(db, path);
    CheckNotLocked(*conn, options.exclusive);
    return std::make_shared<SqliteDatabase>(std::move(conn));
}

// SQLite's Unix VFS opens paths up to its limit only, and writing needs room for the journal's
// name after the file's own ("-journal"). A longer path would open and then fail at the first
// write, or not open at all with a message that says nothing of its length.
void CheckSqlitePathLength(const QString& path) {
    constexpr int kJournalSuffix = 8;
    const sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
    if (vfs == nullptr) {
        return;
    }
    const QFileInfo info(path);
    const QString resolved = info.canonicalFilePath();  // SQLite resolves links too
    const qsizetype length =
        std::max((resolved.isEmpty() ? info.absoluteFilePath() : resolved).toUtf8().size(),
                 info.absoluteFilePath().toUtf8().size());
    const int longest = vfs->mxPathname - kJournalSuffix;
    if (length > longest) {
        throw Error(errPathTooLong, ErrorKind::PathTooLong,
                    {.file = path, .details = {QString::number(length), QString::number(longest)}});
    }
}

}  // namespace dao::detail
