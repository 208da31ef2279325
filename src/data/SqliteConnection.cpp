// One open SQLite file: its batches of saved rows, their commit, and the release of the file.

#include "data/SqliteConnection.h"

#include <QtGlobal>
#include <algorithm>
#include <optional>

#include "data/SqlText.h"
#include "data/SqliteRecordset.h"

namespace dao::detail::sqlite {

namespace {

// The page cache of a connection that writes, in KiB. SQLite's default of 2 MiB is far smaller
// than the indexes that the rows of a copy are inserted into, so most inserts would spill pages to
// the file and read them back. The setting lasts for the connection only; nothing is stored in
// the file. Connections that only read keep the default, so a snapshot never holds more than a
// small cache of the table.
constexpr int kWritingCacheKiB = 64 * 1024;

// True when the rest of a statement text holds nothing but blanks, comments and semicolons.
bool OnlySeparators(const char* tail) {
    return sql::Reader(QString::fromUtf8(tail)).Count() == 0;
}

}  // namespace

Connection::~Connection() {
    if (db_ != nullptr) {
        CommitQuietly();
        CloseQuietly();
    }
}

void Connection::CheckOpen() const {
    if (db_ == nullptr) {
        throw ClosedError();
    }
}

Error Connection::ErrorNow(int code, const QString& table) const {
    return MakeError(code, ErrorMessage(db_), path_, table);
}

void Connection::PrepareForWriting() {
    if (!writing_) {
        writing_ = true;
        const QByteArray pragma = "PRAGMA cache_size = -" + QByteArray::number(kWritingCacheKiB);
        Exec(pragma.constData());  // only a cache size: a failure changes nothing else
    }
}

void Connection::BeginBatch() {
    if (batchOpen_) {
        return;
    }
    PrepareForWriting();
    int rc = SQLITE_OK;
    // Waits out another program's lock for up to the busy timeout.
    options_.KeepBusyWhile([&] { rc = Exec("BEGIN IMMEDIATE"); });
    if (rc != SQLITE_OK) {
        throw ErrorNow(rc);
    }
    batchOpen_ = true;
    batchRows_ = 0;
    batchStart_ = std::chrono::steady_clock::now();
    if (!chained_) {
        seriesStart_ = batchStart_;
    }
}

void Connection::RowSaved() {
    ++batchRows_;
    const CommitBatchPolicy& policy = options_.engine.batches;
    const auto minimum = std::max<std::chrono::steady_clock::duration>(policy.minimumTime,
                                                                       batchStart_ - seriesStart_);
    if (batchRows_ >= policy.maximumRows ||
        std::chrono::steady_clock::now() - batchStart_ >= minimum) {
        try {
            Commit();
        } catch (Error& e) {
            // The row being saved fails with its batch; the others were saved earlier.
            e.WithRowsLost(e.RowsLost() - 1);
            throw;
        }
        chained_ = true;
    }
}

void Connection::Commit() {
    chained_ = false;  // a commit of its own ends the series; RowSaved continues it
    if (!batchOpen_ || db_ == nullptr) {
        batchOpen_ = false;
        return;
    }
    int rc = SQLITE_OK;
    // Writing out a large batch and syncing the file can take a second or more.
    options_.KeepBusyWhile([&] { rc = Exec("COMMIT"); });
    const int64_t rows = batchRows_;
    if (rc == SQLITE_OK) {
        batchOpen_ = false;
        batchRows_ = 0;
        try {
            CheckIdentity();
        } catch (Error& e) {
            throw e.WithRowsLost(rows);
        }
        return;
    }
    const Error cause = ErrorNow(rc);
    if (sqlite3_get_autocommit(db_) == 0) {
        Exec("ROLLBACK");
    }
    batchOpen_ = false;
    batchRows_ = 0;
    throw Error(cause.Number(), ErrorKind::CommitFailed,
                {.file = path_, .details = {QString::number(rows)}}, &cause)
        .WithRowsLost(rows);
}

void Connection::CommitQuietly() noexcept {
    if (!batchOpen_ || db_ == nullptr) {
        return;
    }
    if (Exec("COMMIT") == SQLITE_OK) {
        batchOpen_ = false;
        batchRows_ = 0;
    }
}

int64_t Connection::TakeRolledBackRows() noexcept {
    if (!batchOpen_ || sqlite3_get_autocommit(db_) == 0) {
        return -1;
    }
    const int64_t rows = batchRows_;
    batchOpen_ = false;
    batchRows_ = 0;
    return rows;
}

void Connection::Unregister(SqliteRecordset* rs) noexcept {
    recordsets_.erase(std::remove(recordsets_.begin(), recordsets_.end(), rs), recordsets_.end());
}

void Connection::ReleaseRecordsets() noexcept {
    const std::vector<SqliteRecordset*> open = recordsets_;
    for (SqliteRecordset* rs : open) {
        rs->Release();
    }
}

void Connection::Close() {
    if (db_ == nullptr) {
        return;
    }
    ReleaseRecordsets();
    std::optional<Error> failure;
    try {
        const bool committing = batchOpen_;
        Commit();
        if (!committing) {
            CheckIdentity();
        }
    } catch (const Error& e) {
        failure = e;
    }
    CloseQuietly();
    if (failure) {
        throw *failure;
    }
}

void Connection::CloseQuietly() noexcept {
    if (db_ == nullptr) {
        return;
    }
    ReleaseRecordsets();
    if (batchOpen_) {
        // Only reached from a destructor whose commit failed; closing rolls the rows back.
        qWarning("%s: %lld saved rows could not be committed and were rolled back",
                 qUtf8Printable(path_), static_cast<long long>(batchRows_));
    }
    // Every statement is finalized by now; close_v2 only guards against one that was not.
    if (sqlite3_close(db_) != SQLITE_OK) {
        sqlite3_close_v2(db_);
    }
    db_ = nullptr;
    batchOpen_ = false;
}

Statement Prepare(Connection& conn, const QByteArray& sql, const QString& table) {
    Statement stmt;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(conn.Db(), sql.constData(), static_cast<int>(sql.size()),
                                      stmt.out(), &tail);
    if (rc != SQLITE_OK) {
        throw conn.ErrorNow(rc, table);
    }
    if (stmt.get() == nullptr) {
        throw Error(errSyntax, ErrorKind::NoStatement);
    }
    if (tail != nullptr && !OnlySeparators(tail)) {
        throw Error(errSyntax, ErrorKind::OneStatementOnly,
                    {.details = {QString::fromUtf8(tail).trimmed()}});
    }
    return stmt;
}

}  // namespace dao::detail::sqlite
