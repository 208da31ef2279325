#pragma once

// The SQLite driver's pieces shared by its files: statements, errors, values and the declared
// types of STRICT tables. OpenSqliteDatabase (Drivers.h) is the driver's entry point.

#include <sqlite3.h>

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "data/Engine.h"

namespace dao::detail::sqlite {

// The engine's error number for a failure that SQLite reports with this extended result code and
// message: a statement that cannot run, a row that cannot be saved, a lock, a full disk.
int32_t ErrorNumber(int extendedCode, const QString& message);

// The primary result code of an extended one (SQLITE_BUSY of SQLITE_BUSY_SNAPSHOT, say).
constexpr int PrimaryCode(int extendedCode) {
    constexpr int kPrimaryCodeBits = 0xff;
    return extendedCode & kPrimaryCodeBits;
}

// Whether another connection's lock stopped the call.
constexpr bool IsLockCode(int extendedCode) {
    return PrimaryCode(extendedCode) == SQLITE_BUSY || PrimaryCode(extendedCode) == SQLITE_LOCKED;
}

// SQLite's message for the last failure on a connection.
QString ErrorMessage(sqlite3* db);

// An error for SQLite's code and message, about `file` and, when known, `table`.
Error MakeError(int code, const QString& message, const QString& file, const QString& table = {});
Error TableLockedError(const QString& file, const QString& table);
Error ClosedError();
Error NoCurrentRecordError();
Error NothingPendingError();

// A name quoted for a statement.
QByteArray QuoteName(const QString& name);

// A prepared statement, finalized when it goes.
class Statement {
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}
    Statement& operator=(Statement&& other) noexcept {
        if (this != &other) {
            Finalize();
            stmt_ = std::exchange(other.stmt_, nullptr);
        }
        return *this;
    }
    ~Statement() { Finalize(); }

    sqlite3_stmt* get() const { return stmt_; }
    sqlite3_stmt** out() {
        Finalize();
        return &stmt_;
    }
    void Finalize() {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// Steps a statement until it returns no more rows; SQLite's last result code.
int StepToEnd(sqlite3_stmt* stmt);

// Whether a failure is a value that a column's type refuses.
bool IsTypeRefusal(int code);

// Reads a column into `out`, whose text buffer is reused.
void ReadColumn(sqlite3_stmt* stmt, int column, Value& out);

// Binds without copying: the value outlives the statement's step.
int BindValue(sqlite3_stmt* stmt, int parameter, const Value& v);

// The declared type of a STRICT table's column.
enum class StrictType : uint8_t { Any, Integer, Real, Text, Blob };

// The declared type of each column when the table is STRICT; empty for any other table, and
// whenever the types cannot be read (the save still decides then).
std::vector<StrictType> StrictColumnTypes(sqlite3* db, const QString& table, sqlite3_stmt* select,
                                          int16_t fieldCount);

// Whether a STRICT column of this type refuses the value for certain.
bool StrictRefuses(StrictType column, const Value& v);

const char* StrictTypeName(StrictType type);
const char* ValueTypeName(const Value& v);

}  // namespace dao::detail::sqlite
