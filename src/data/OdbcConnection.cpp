// One open ODBC connection: its transaction, its commit in groups of rows, its release, and the
// INSERTs prepared once per set of written columns.

#include "data/OdbcConnection.h"

#include <QDir>
#include <QSqlDriver>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QtGlobal>
#include <optional>
#include <utility>

#include "data/OdbcRecordset.h"
#include "data/SqlText.h"

namespace dao::detail::odbc {

Connection::Connection(QString name, QString path, OdbcTarget target, const QSqlDatabase& db)
    : name_(std::move(name)),
      path_(std::move(path)),
      target_(target),
      db_(db),
      identity_(IdentityOf(path_)) {
    const QSqlDriver* driver = db_.driver();
    transactions_ = driver != nullptr && driver->hasFeature(QSqlDriver::Transactions);
}

Connection::~Connection() {
    try {
        Shutdown();
    } catch (const Error& e) {
        // Nobody is left to tell: the handles were dropped without Close.
        qWarning("%s", e.what());
    }
}

QString Connection::QuoteName(const QString& name) const {
    if (target_ == OdbcTarget::Access) {
        return QLatin1Char('[') + name + QLatin1Char(']');
    }
    return QLatin1Char('"') + QString(name).replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
           QLatin1Char('"');
}

void Connection::Begin(Operation operation) {
    if (!transactions_ || inTransaction_) {
        return;
    }
    if (!db_.transaction()) {
        throw Failed(Diagnose(db_), operation);
    }
    inTransaction_ = true;
    savedRows_ = 0;
}

void Connection::RowSaved() {
    if (!inTransaction_) {
        return;
    }
    if (++savedRows_ >= kRowsPerCommit) {
        Commit();
    }
}

void Connection::Commit() {
    if (!inTransaction_) {
        return;
    }
    inTransaction_ = false;
    ++generation_;
    const qsizetype rows = savedRows_;
    savedRows_ = 0;
    if (db_.commit()) {
        try {
            CheckIdentity();
        } catch (Error& e) {
            throw e.WithRowsLost(rows);
        }
        return;
    }
    const Diagnostic failure = Diagnose(db_);
    db_.rollback();
    const Error cause = Failed(failure, Operation::Commit);
    throw Error(cause.Number(), ErrorKind::CommitFailed,
                {.file = QDir::toNativeSeparators(path_), .details = {QString::number(rows)}},
                &cause)
        .WithRowsLost(rows);
}

void Connection::Rollback() {
    if (!inTransaction_) {
        return;
    }
    inTransaction_ = false;
    ++generation_;
    savedRows_ = 0;
    db_.rollback();
}

QStringList Connection::KeyColumns(const QString& table) {
    const QSqlIndex index = db_.primaryIndex(sql::Unquoted(table));
    QStringList keys;
    for (int i = 0; i < index.count(); ++i) {
        keys << QuoteName(ColumnName(index.fieldName(i)));
    }
    if (keys.isEmpty() && target_ == OdbcTarget::Sqlite) {
        keys << QStringLiteral("rowid");
    }
    return keys;
}

void Connection::Shutdown() {
    if (!open_) {
        return;
    }
    for (OdbcRecordset* rs : std::exchange(recordsets_, {})) {
        rs->Detach();
    }
    std::optional<Error> failure;
    try {
        const bool committing = inTransaction_;
        Commit();
        if (!committing) {
            CheckIdentity();
        }
    } catch (const Error& e) {
        failure = e;
    }
    open_ = false;
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
    if (failure) {
        throw *failure;
    }
}

bool InsertCache::Insert(Connection& c, const QString& table, const QStringList& columns,
                         const QVariantList& values, Diagnostic* failure) {
    QString key;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        key += columns[i];
        key += values[i].isValid() ? QLatin1Char('\x1f') : QLatin1Char('\x1e');
    }
    auto it = queries_.find(key);
    if (it == queries_.end()) {
        if (queries_.size() >= kMaxCachedInserts) {
            queries_.clear();
        }
        QString sql = QStringLiteral("INSERT INTO ") + table;
        if (columns.isEmpty() && !c.IsSqlite()) {
            // Jet's SQL has no DEFAULT VALUES; a row needs at least one column written.
            // https://learn.microsoft.com/en-us/office/client-developer/access/desktop-database-reference/insert-into-statement-microsoft-access-sql
            failure->message = QStringLiteral("INSERT INTO %1: no column written").arg(table);
            return false;
        }
        if (columns.isEmpty()) {
            sql += QStringLiteral(" DEFAULT VALUES");
        } else {
            QStringList marks;
            for (const QVariant& v : values) {
                marks << (v.isValid() ? QStringLiteral("?") : QStringLiteral("NULL"));
            }
            sql += QStringLiteral(" (") + columns.join(QStringLiteral(", ")) +
                   QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) +
                   QLatin1Char(')');
        }
        auto query = std::make_unique<QSqlQuery>(c.Db());
        query->setForwardOnly(true);
        if (!query->prepare(sql)) {
            *failure = Diagnose(*query);
            return false;
        }
        it = queries_.emplace(key, std::move(query)).first;
    }
    QSqlQuery& query = *it->second;
    int position = 0;
    for (const QVariant& v : values) {
        if (v.isValid()) {
            query.bindValue(position++, v);
        }
    }
    if (!query.exec()) {
        *failure = Diagnose(query);
        return false;
    }
    lastChanged_ = query.numRowsAffected();
    return true;
}

}  // namespace dao::detail::odbc
