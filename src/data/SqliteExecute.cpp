// Action statements on an SQLite file: the driver's side of the counted run and its replay.

#include "data/SqliteExecute.h"

#include <QByteArray>
#include <map>

#include "data/RowByRow.h"
#include "data/SqlText.h"

namespace dao::detail::sqlite {

namespace {

QVariant ColumnVariant(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            return QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt, column)));
        case SQLITE_FLOAT:
            return QVariant(sqlite3_column_double(stmt, column));
        case SQLITE_TEXT:
            return QVariant(
                QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(stmt, column)),
                                  sqlite3_column_bytes(stmt, column)));
        case SQLITE_BLOB:
            return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, column)),
                                       sqlite3_column_bytes(stmt, column)));
        default:
            return {};
    }
}

int BindVariant(sqlite3_stmt* stmt, int parameter, const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Double:
            return sqlite3_bind_double(stmt, parameter, v.toDouble());
        case QMetaType::QString: {
            const QByteArray text = v.toString().toUtf8();
            return sqlite3_bind_text64(stmt, parameter, text.constData(),
                                       static_cast<sqlite3_uint64>(text.size()), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
        }
        case QMetaType::QByteArray: {
            const QByteArray bytes = v.toByteArray();
            return sqlite3_bind_blob64(stmt, parameter, bytes.constData(),
                                       static_cast<sqlite3_uint64>(bytes.size()), SQLITE_TRANSIENT);
        }
        default:
            return v.isValid() ? sqlite3_bind_int64(stmt, parameter, v.toLongLong())
                               : sqlite3_bind_null(stmt, parameter);
    }
}

// Whether a failure concerns the values of the rows rather than the statement: the constraints
// that OR IGNORE would skip (a unique key, NOT NULL, CHECK) and a STRICT column's type. A trigger
// that raises fails the statement, as it does under OR IGNORE; so does a failure that took the
// whole transaction with it, after which nothing could be replayed.
bool IsRowRefusal(sqlite3* db, int code) {
    switch (code) {
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_PRIMARYKEY:
        case SQLITE_CONSTRAINT_ROWID:
        case SQLITE_CONSTRAINT_NOTNULL:
        case SQLITE_CONSTRAINT_CHECK:
            break;
        default:
            if (!IsTypeRefusal(code)) {
                return false;
            }
    }
    return sqlite3_get_autocommit(db) == 0;
}

class SqliteRowByRow final : public RowByRowTarget {
public:
    SqliteRowByRow(Connection& conn, QString table) : conn_(conn), table_(std::move(table)) {}

    bool ReplaysInsertSelect() const override { return true; }
    bool KnowsOrIgnore() const override { return true; }

    // The rowid; a table without one is told apart by its primary key.
    QStringList KeyColumns(const QString& table) override {
        Statement probe;
        const QByteArray rowid = "SELECT rowid FROM " + table.toUtf8() + " WHERE 0";
        if (sqlite3_prepare_v2(conn_.Db(), rowid.constData(), -1, probe.out(), nullptr) ==
            SQLITE_OK) {
            return {QStringLiteral("rowid")};
        }
        const Statement info = Prepare(
            conn_, "SELECT name FROM pragma_table_info(?) WHERE pk > 0 ORDER BY pk", table_);
        const QByteArray name = sql::Unquoted(table).toUtf8();
        sqlite3_bind_text(info.get(), 1, name.constData(), static_cast<int>(name.size()),
                          SQLITE_TRANSIENT);
        QStringList keys;
        while (sqlite3_step(info.get()) == SQLITE_ROW) {
            keys << sql::DoubleQuoted(QString::fromUtf8(
                reinterpret_cast<const char*>(sqlite3_column_text(info.get(), 0))));
        }
        return keys;
    }

    QStringList ColumnsOf(const QString& table) override {
        const Statement probe = Prepare(conn_, "SELECT * FROM " + table.toUtf8() + " WHERE 0");
        QStringList columns;
        for (int i = 0; i < sqlite3_column_count(probe.get()); ++i) {
            columns << sql::DoubleQuoted(QString::fromUtf8(sqlite3_column_name(probe.get(), i)));
        }
        return columns;
    }

    std::vector<QVariantList> ReadAll(const QString& select) override {
        const Statement query = Prepare(conn_, select.toUtf8());
        const int columns = sqlite3_column_count(query.get());
        std::vector<QVariantList> rows;
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(query.get())) == SQLITE_ROW) {
            QVariantList row;
            row.reserve(columns);
            for (int i = 0; i < columns; ++i) {
                row << ColumnVariant(query.get(), i);
            }
            rows.push_back(std::move(row));
        }
        if (rc != SQLITE_DONE) {
            throw conn_.ErrorNow(sqlite3_extended_errcode(conn_.Db()), table_);
        }
        return rows;
    }

    std::optional<int64_t> Count(const QString& countSelect) override {
        Statement query;
        if (sqlite3_prepare_v2(conn_.Db(), countSelect.toUtf8().constData(), -1, query.out(),
                               nullptr) != SQLITE_OK ||
            sqlite3_step(query.get()) != SQLITE_ROW) {
            return std::nullopt;
        }
        return sqlite3_column_int64(query.get(), 0);
    }

    StatementResult Run(const QString& statement, const QVariantList& parameters) override {
        auto it = prepared_.find(statement);
        if (it == prepared_.end()) {
            it = prepared_.emplace(statement, Prepare(conn_, statement.toUtf8(), table_)).first;
        }
        sqlite3_stmt* stmt = it->second.get();
        int position = 0;
        for (const QVariant& v : parameters) {
            BindVariant(stmt, ++position, v);
        }
        const int step = StepToEnd(stmt);
        const int code = sqlite3_extended_errcode(conn_.Db());
        StatementResult result;
        if (step == SQLITE_DONE) {
            result.changed = sqlite3_changes64(conn_.Db());
        } else if (IsRowRefusal(conn_.Db(), code)) {
            result.refused = conn_.ErrorNow(code, table_);
        } else {
            const Error e = conn_.ErrorNow(code, table_);
            sqlite3_reset(stmt);
            throw e;
        }
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        return result;
    }

    Error IgnoredError() const override {
        return Error(errRowIgnored, ErrorKind::RowIgnored, {.file = conn_.Path(), .table = table_});
    }

    bool Begin() override {
        if (const int rc = conn_.Exec("BEGIN IMMEDIATE"); rc != SQLITE_OK) {
            throw conn_.ErrorNow(rc);
        }
        return true;
    }

    void Commit() override {
        prepared_.clear();
        if (const int rc = conn_.Exec("COMMIT"); rc != SQLITE_OK) {
            const Error e = conn_.ErrorNow(rc);
            Rollback();
            throw e;
        }
        conn_.CheckIdentity();
    }

    void Rollback() noexcept override {
        prepared_.clear();
        if (sqlite3_get_autocommit(conn_.Db()) == 0) {
            conn_.Exec("ROLLBACK");
        }
    }

private:
    Connection& conn_;
    QString table_;
    std::map<QString, Statement> prepared_;
};

}  // namespace

ExecuteOutcome ExecuteCounted(Connection& conn, const QString& sql) {
    SqliteRowByRow target(conn, sql::TableOfStatement(sql));
    return RunCounted(sql, target);
}

}  // namespace dao::detail::sqlite
