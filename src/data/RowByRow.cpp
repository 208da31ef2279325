// The row-by-row replay of an action statement, over what a driver provides (RowByRow.h).

#include "data/RowByRow.h"

#include <optional>

#include "data/SqlText.h"

namespace dao::detail {

namespace {

// The statement with its markers for the non-null values and NULL for the others, since drivers
// treat a bound typed null differently; `values` keeps the non-null ones, in order.
QString InsertStatement(const QString& table, const QStringList& columns, QVariantList& values) {
    QStringList marks;
    QVariantList bound;
    for (const QVariant& v : values) {
        marks << (v.isValid() ? QStringLiteral("?") : QStringLiteral("NULL"));
        if (v.isValid()) {
            bound << v;
        }
    }
    values = bound;
    return QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (") +
           columns.join(QStringLiteral(", ")) + QStringLiteral(") VALUES (") +
           marks.join(QStringLiteral(", ")) + QLatin1Char(')');
}

void ReplayValues(const sql::InsertShape& insert, RowByRowTarget& target) {
    for (const QString& row : insert.valueRows) {
        target.RunRow(insert.head + QStringLiteral(" VALUES ") + row, {});
    }
}

// INSERT ... SELECT: the selected rows are read first (the target may be among the tables read),
// then inserted one by one. False when the columns and the selected values do not pair up.
bool ReplaySelect(const sql::InsertShape& insert, const QStringList& columns,
                  RowByRowTarget& target) {
    for (QVariantList& row : target.ReadAll(insert.select)) {
        if (row.size() != columns.size()) {
            return false;
        }
        const QString statement = InsertStatement(insert.table, columns, row);
        target.RunRow(statement, row);
    }
    return true;
}

// UPDATE and DELETE one row at a time, each row found by its key.
void ReplayByKey(const sql::ChangeShape& change, const QStringList& keys, RowByRowTarget& target) {
    QString select = QStringLiteral("SELECT ") + keys.join(QStringLiteral(", ")) +
                     QStringLiteral(" FROM ") + change.table;
    if (!change.condition.isEmpty()) {
        select += QStringLiteral(" WHERE ") + change.condition;
    }
    for (const QVariantList& row : target.ReadAll(select)) {
        QStringList tests;
        QVariantList bound;
        for (qsizetype i = 0; i < keys.size() && i < row.size(); ++i) {
            tests << keys[i] +
                         (row[i].isValid() ? QStringLiteral(" = ?") : QStringLiteral(" IS NULL"));
            if (row[i].isValid()) {
                bound << row[i];
            }
        }
        QString statement = change.head + QStringLiteral(" WHERE ");
        if (!change.condition.isEmpty()) {
            statement += QLatin1Char('(') + change.condition + QStringLiteral(") AND ");
        }
        target.RunRow(statement + tests.join(QStringLiteral(" AND ")), bound);
    }
}

// What a replay does, decided before anything runs.
struct Plan {
    std::optional<sql::InsertShape> insert;
    std::optional<sql::ChangeShape> change;
    QStringList columns;  // INSERT ... SELECT: the columns written
    QStringList keys;     // UPDATE, DELETE: the key columns
};

std::optional<Plan> MakePlan(const QString& sql, RowByRowTarget& target) {
    Plan plan;
    plan.insert = sql::ReadInsert(sql);
    if (plan.insert) {
        if (plan.insert->select.isEmpty()) {
            return plan;
        }
        if (!target.ReplaysInsertSelect()) {
            return std::nullopt;
        }
        plan.columns = plan.insert->columns.isEmpty() ? target.ColumnsOf(plan.insert->table)
                                                      : plan.insert->columns;
        return plan;
    }
    plan.change = sql::ReadUpdate(sql);
    if (!plan.change) {
        plan.change = sql::ReadDelete(sql);
    }
    if (!plan.change) {
        return std::nullopt;
    }
    plan.keys = target.KeyColumns(plan.change->table);
    if (plan.keys.isEmpty()) {
        return std::nullopt;  // rows cannot be told apart
    }
    return plan;
}

}  // namespace

bool ReplayRowByRow(const QString& sql, RowByRowTarget& target) {
    const std::optional<sql::InsertShape> single = sql::ReadInsert(sql);
    if (single && single->valueRows.size() == 1) {
        return true;  // its one row is the one left out
    }
    const std::optional<Plan> plan = MakePlan(sql, target);
    if (!plan || !target.Begin()) {
        return false;
    }
    bool replayed = true;
    try {
        if (plan->change) {
            ReplayByKey(*plan->change, plan->keys, target);
        } else if (plan->insert->select.isEmpty()) {
            ReplayValues(*plan->insert, target);
        } else {
            replayed = ReplaySelect(*plan->insert, plan->columns, target);
        }
    } catch (...) {
        target.Rollback();
        throw;
    }
    if (!replayed) {
        target.Rollback();
        return false;
    }
    target.Commit();
    return true;
}

}  // namespace dao::detail
