#pragma once

// One open SQLite file: the connection shared by the database object and its recordsets, and the
// batches in which the rows saved through dynasets are committed.

#include <sqlite3.h>

#include <QByteArray>
#include <QString>
#include <chrono>
#include <optional>
#include <vector>

#include "data/Drivers.h"
#include "data/SqliteDriver.h"

namespace dao::detail::sqlite {

class SqliteRecordset;

// One open file: the SQLite connection, shared by the database object and its recordsets, so
// that a recordset stays usable while its database handle is dropped.
class Connection {
public:
    Connection(sqlite3* db, QString path, const OpenOptions& options)
        : db_(db), path_(std::move(path)), options_(options), identity_(IdentityOf(path_)) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection();

    sqlite3* Db() const { return db_; }
    const QString& Path() const { return path_; }
    bool IsOpen() const { return db_ != nullptr; }
    void CheckOpen() const;
    Error ErrorNow(int code, const QString& table = {}) const;

    // Fails with errFileMoved when the path no longer names the file that was opened: what was
    // written since went into a file that is gone or no longer the database.
    void CheckIdentity() const { CheckSameFile(path_, identity_); }

    // Runs a statement that returns no rows; the result is SQLite's extended code.
    int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

    // Called before the connection writes anything.
    void PrepareForWriting();

    // Opens the batch that saved rows go into, unless one is open, waiting out another program's
    // lock for up to the busy timeout.
    void BeginBatch();

    const OpenOptions& Options() const { return options_; }

    // A row has been saved in the open batch; commits when the batch is due.
    //
    // Rows saved through a dynaset are grouped into one transaction per connection, as the classic
    // engine does. A commit syncs the file and writes back every page the batch touched. Rows
    // rarely arrive in key order: a table with an index on a name or a code gets its inserts spread
    // over the whole index, so after every commit the next batch journals most of that index again,
    // and a fixed batch costs more the larger the table grows. Measured on a 1,000,000-row product
    // copy with one such index, committing every 10,000 rows or half a second made the copy twice
    // as slow as one transaction, and every 100,000 rows or 2 seconds still wrote 17% more than one
    // transaction. So a batch is due after 2 seconds, but one that follows earlier batches of the
    // same series of saves (one copy) runs at least as long as they did together: the batches of a
    // long copy double in length, their commits grow with the logarithm of its length, and the same
    // copy writes 6% more than one transaction. A failure takes back at most the last 2
    // seconds or the later half of the series. No row count ends a batch unless one is set.
    void RowSaved();

    // Commits the rows saved so far. A failed commit is rolled back, so that what the error says
    // (those rows are not saved) is what the file holds.
    void Commit();

    // For destructors, which cannot report: a failed commit stays pending, so that a later
    // commit point (Close of the database) retries it and reports the outcome.
    void CommitQuietly() noexcept;

    // After a failed save: SQLite may have rolled back the whole transaction by itself (a full
    // disk, an I/O error, a trigger's RAISE(ROLLBACK)). Returns how many earlier rows were lost
    // with it, or -1 when the transaction is intact.
    int64_t TakeRolledBackRows() noexcept;

    void Register(SqliteRecordset* rs) { recordsets_.push_back(rs); }
    void Unregister(SqliteRecordset* rs) noexcept;
    bool HasRecordsets() const { return !recordsets_.empty(); }

    // Closes the recordsets still open on this file, commits and releases the file. A failed
    // commit is reported after everything is released.
    void Close();
    void CloseQuietly() noexcept;

private:
    void ReleaseRecordsets() noexcept;

    sqlite3* db_;
    QString path_;
    OpenOptions options_;
    bool writing_ = false;
    bool batchOpen_ = false;
    int64_t batchRows_ = 0;
    std::chrono::steady_clock::time_point batchStart_;
    // The start of the first batch of the series that the open batch belongs to; chained_ says
    // that the last batch was committed because it was due, so the next one continues its series.
    std::chrono::steady_clock::time_point seriesStart_;
    bool chained_ = false;
    std::vector<SqliteRecordset*> recordsets_;
    std::optional<FileIdentity> identity_;
};

// Prepares one statement on the connection; `table` is named by its errors.
Statement Prepare(Connection& conn, const QByteArray& sql, const QString& table = {});

}  // namespace dao::detail::sqlite
