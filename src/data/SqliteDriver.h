#pragma once

// The SQLite driver of the engine, over SQLite's C API. OpenSqliteDatabase (Drivers.h) is its
// entry point; what is declared here are the pieces worth testing on their own.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace dao::detail::sqlite {

// Turns a leading UPDATE or INSERT into UPDATE OR IGNORE / INSERT OR IGNORE, so that rows that
// break a constraint are left out instead of failing the statement. Leading blanks and comments
// are allowed; a statement that already has an OR clause, or is of another kind, is returned
// unchanged.
QByteArray WithOrIgnore(const QByteArray& sql);

// The engine's error number for a failure that SQLite reports with this extended result code and
// message: a statement that cannot run, a row that cannot be saved, a lock, a full disk.
int32_t ErrorNumber(int extendedCode, const QString& message);

}  // namespace dao::detail::sqlite

namespace dao::testing {
// How long an open, a read or a write waits for another process's lock, in milliseconds
// (2000 unless changed). Tests shorten it so that a lock test does not wait the full time.
void SetSqliteBusyTimeout(int milliseconds);
int SqliteBusyTimeout();
// After how many rows, or how long after the first, saved rows are committed (no row limit and
// 2000 ms unless changed; a batch that continues a series of batches runs at least as long as
// they did together). Tests lower them to see batches commit without saving that much.
void SetSqliteBatchLimits(int64_t rows, int milliseconds);
}  // namespace dao::testing
