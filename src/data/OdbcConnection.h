#pragma once

// One open ODBC connection, shared by the database object and its recordsets, with the
// transaction that saved rows are committed in, and the INSERTs a recordset prepares once.

#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "data/Drivers.h"
#include "data/OdbcDriver.h"

namespace dao::detail::odbc {

// Saved rows are committed in groups: one commit per row is slow on every engine, one transaction
// for a whole table holds locks and journal for too long (Jet has a lock count limit per file).
constexpr qsizetype kRowsPerCommit = 1000;

// Distinct column sets of the prepared INSERTs a recordset keeps; a copy uses one or a few.
constexpr std::size_t kMaxCachedInserts = 64;

class OdbcRecordset;

// The QSqlDatabase connection of one open database, shared by the database object and its
// recordsets. It ends when the database is closed or, without a Close, when the last of them is
// dropped; every QSqlQuery on it is destroyed before the connection is removed.
class Connection {
public:
    Connection(QString name, QString path, OdbcTarget target, const QSqlDatabase& db);

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ~Connection();

    bool IsOpen() const { return open_; }
    QSqlDatabase& Db() { return db_; }
    const QString& Path() const { return path_; }
    bool SupportsTransactions() const { return transactions_; }
    // Whether the database behind the driver is SQLite's (tests only).
    bool IsSqlite() const { return target_ == OdbcTarget::Sqlite; }
    // How the database behind the driver matches names without regard to letter case.
    NameFolding Folding() const {
        return target_ == OdbcTarget::Access ? NameFolding::Unicode : NameFolding::Ascii;
    }
    // Changes with every commit or rollback; a reading cursor may not survive one.
    quint64 Generation() const { return generation_; }

    QString QuoteName(const QString& name) const;

    // The file's format and the driver that serves it, as messages name them ("Jet 4,
    // Microsoft Access Driver (*.mdb)"); empty for SQLite.
    const QString& Via() const { return via_; }
    void SetVia(QString via) { via_ = std::move(via); }

    // The engine's error for a failure on this connection, naming the file and how it was
    // reached.
    Error Failed(const Diagnostic& diagnostic, Operation operation,
                 const QString& table = {}) const {
        return ToError(diagnostic, operation, table, path_, via_);
    }

    // Fails with errFileMoved when the path no longer names the file that was opened.
    void CheckIdentity() const { CheckSameFile(path_, identity_); }

    bool HasRecordsets() const { return !recordsets_.empty(); }
    bool IsAccess() const { return target_ == OdbcTarget::Access; }
    void Register(OdbcRecordset* rs) { recordsets_.push_back(rs); }
    void Unregister(OdbcRecordset* rs) { std::erase(recordsets_, rs); }

    // Starts a transaction unless one is running (or the driver has none: then every statement
    // commits by itself).
    void Begin(Operation operation);

    // A row was saved inside the running transaction.
    void RowSaved();

    // Commits the running transaction, if any. A failed commit is rolled back (the driver's state
    // is unknown after it) and reported with the number of saved rows it took along.
    void Commit();
    void Rollback();

    // Closes the recordsets still open on this connection, commits, and releases the connection
    // (always); a failed commit is thrown after the release.
    void Shutdown();

    // The key columns of a table, quoted for a statement: the primary key, or the driver's best
    // unique row identifier, or SQLite's rowid; empty when there is none.
    QStringList KeyColumns(const QString& table);

private:
    QString name_;
    QString path_;
    OdbcTarget target_;
    QString via_;
    QSqlDatabase db_;
    bool open_ = true;
    bool transactions_ = false;
    bool inTransaction_ = false;
    qsizetype savedRows_ = 0;
    quint64 generation_ = 0;
    std::vector<OdbcRecordset*> recordsets_;
    std::optional<FileIdentity> identity_;
};

// INSERT statements prepared once per set of written columns and reused for every row with the
// same set. Null values are written as a literal NULL, so a statement is keyed by its columns and
// by which of them are null.
class InsertCache {
public:
    // Inserts one row; on failure fills `failure` and returns false.
    bool Insert(Connection& c, const QString& table, const QStringList& columns,
                const QVariantList& values, Diagnostic* failure);

    void Clear() { queries_.clear(); }

    // The rows the last successful Insert stored, as the driver counts them (-1 when unknown).
    int64_t LastChanged() const { return lastChanged_; }

private:
    std::map<QString, std::unique_ptr<QSqlQuery>> queries_;
    int64_t lastChanged_ = -1;
};

}  // namespace dao::detail::odbc
