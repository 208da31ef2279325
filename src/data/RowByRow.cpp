// Action statements run and counted for both drivers, and their row-by-row replay (RowByRow.h).

#include "data/RowByRow.h"

#include <algorithm>

#include "data/SqlText.h"

namespace dao::detail {

namespace {

// The rows of a replay, as they are run.
class Tally {
public:
    explicit Tally(RowByRowTarget& target) : target_(target) {}

    void Row(const QString& statement, const QVariantList& parameters) {
        StatementResult result = target_.Run(statement, parameters);
        if (result.refused) {
            LeftOut(1, std::move(*result.refused));
        } else if (result.changed == 0) {
            LeftOut(1, target_.IgnoredError());
        } else {
            outcome_.affected += result.changed < 0 ? 1 : result.changed;  // ran, so stored
        }
    }

    void LeftOut(int64_t rows, Error why) {
        outcome_.leftOut += rows;
        if (!outcome_.firstLeftOut) {
            outcome_.firstLeftOut = std::move(why);
        }
    }

    ExecuteOutcome& Outcome() { return outcome_; }

private:
    RowByRowTarget& target_;
    ExecuteOutcome outcome_;
};

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

void ReplayValues(const sql::InsertShape& insert, Tally& tally) {
    for (const QString& row : insert.valueRows) {
        tally.Row(insert.head + QStringLiteral(" VALUES ") + row, {});
    }
}

// INSERT ... SELECT: the selected rows are read first (the target may be among the tables read),
// then inserted one by one. False when the columns and the selected values do not pair up.
bool ReplaySelect(const sql::InsertShape& insert, const QStringList& columns,
                  RowByRowTarget& target, Tally& tally) {
    for (QVariantList& row : target.ReadAll(insert.select)) {
        if (row.size() != columns.size()) {
            return false;
        }
        const QString statement = InsertStatement(insert.table, columns, row);
        tally.Row(statement, row);
    }
    return true;
}

QString SelectFrom(const QString& what, const sql::ChangeShape& change) {
    QString select = QStringLiteral("SELECT ") + what + QStringLiteral(" FROM ") + change.table;
    if (!change.condition.isEmpty()) {
        select += QStringLiteral(" WHERE ") + change.condition;
    }
    return select;
}

// UPDATE and DELETE one row at a time, each row found by its key.
void ReplayByKey(const sql::ChangeShape& change, const QStringList& keys, RowByRowTarget& target,
                 Tally& tally) {
    for (const QVariantList& row :
         target.ReadAll(SelectFrom(keys.join(QStringLiteral(", ")), change))) {
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
        tally.Row(statement + tests.join(QStringLiteral(" AND ")), bound);
    }
}

// What a replay does, decided before anything runs.
struct Plan {
    std::optional<sql::InsertShape> insert;
    std::optional<sql::ChangeShape> change;
    QStringList columns;  // INSERT ... SELECT: the columns written
    QStringList keys;     // UPDATE, DELETE: the key columns
};

std::optional<sql::ChangeShape> ReadChange(const QString& sql) {
    std::optional<sql::ChangeShape> change = sql::ReadUpdate(sql);
    return change ? change : sql::ReadDelete(sql);
}

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
    plan.change = ReadChange(sql);
    if (!plan.change) {
        return std::nullopt;
    }
    plan.keys = target.KeyColumns(plan.change->table);
    if (plan.keys.isEmpty()) {
        return std::nullopt;  // rows cannot be told apart
    }
    return plan;
}

// Replays `sql` in a transaction of its own; nullopt, with nothing changed, for a form it does
// not replay. A failure other than a refused row undoes the whole replay and is thrown.
std::optional<ExecuteOutcome> Replay(const QString& sql, RowByRowTarget& target) {
    const std::optional<Plan> plan = MakePlan(sql, target);
    if (!plan || !target.Begin()) {
        return std::nullopt;
    }
    Tally tally(target);
    bool replayed = true;
    try {
        if (plan->change) {
            ReplayByKey(*plan->change, plan->keys, target, tally);
        } else if (plan->insert->select.isEmpty()) {
            ReplayValues(*plan->insert, tally);
        } else {
            replayed = ReplaySelect(*plan->insert, plan->columns, target, tally);
        }
    } catch (...) {
        target.Rollback();
        throw;
    }
    if (!replayed) {
        target.Rollback();
        return std::nullopt;
    }
    target.Commit();
    return std::move(tally.Outcome());
}

// The rows a statement should change, where that can be told before it runs: the rows of its
// VALUES list, or those its SELECT or WHERE selects.
std::optional<int64_t> ExpectedRows(const QString& sql, RowByRowTarget& target) {
    if (const std::optional<sql::InsertShape> insert = sql::ReadInsert(sql)) {
        if (insert->select.isEmpty()) {
            return static_cast<int64_t>(insert->valueRows.size());
        }
        return target.Count(QStringLiteral("SELECT count(*) FROM (") + insert->select +
                            QStringLiteral(") AS selected"));
    }
    if (const std::optional<sql::ChangeShape> change = ReadChange(sql)) {
        return target.Count(SelectFrom(QStringLiteral("count(*)"), *change));
    }
    return std::nullopt;
}

// Runs a statement with OR IGNORE, whose rows left out are told only by their number: the first
// reason is the one that refused the statement as written.
ExecuteOutcome RunIgnoring(const QString& ignoring, RowByRowTarget& target, Error refusal) {
    target.Begin();
    ExecuteOutcome outcome;
    try {
        const std::optional<int64_t> expected = ExpectedRows(ignoring, target);
        StatementResult result = target.Run(ignoring, {});
        if (result.refused) {
            throw *result.refused;
        }
        target.Commit();
        outcome.affected = std::max<int64_t>(result.changed, 0);
        outcome.leftOut = std::max<int64_t>(expected.value_or(1) - outcome.affected, 1);
    } catch (...) {
        target.Rollback();
        throw;
    }
    outcome.firstLeftOut = std::move(refusal);
    return outcome;
}

}  // namespace

ExecuteOutcome RunCounted(const QString& sql, RowByRowTarget& target) {
    const bool own = target.Begin();
    StatementResult whole;
    std::optional<int64_t> expected;
    try {
        expected = ExpectedRows(sql, target);
        whole = target.Run(sql, {});
        if (!whole.refused) {
            target.Commit();
        }
    } catch (...) {
        target.Rollback();
        throw;
    }
    if (!whole.refused) {
        ExecuteOutcome outcome;
        if (whole.changed < 0) {
            return outcome;  // the driver cannot count: nothing to compare
        }
        outcome.affected = whole.changed;
        if (expected && *expected > whole.changed) {
            outcome.leftOut = *expected - whole.changed;
            outcome.firstLeftOut = target.IgnoredError();
        }
        return outcome;
    }
    target.Rollback();
    const std::optional<sql::InsertShape> single = sql::ReadInsert(sql);
    if (single && single->valueRows.size() == 1) {
        // Its one row is the one left out.
        return {0, 1, std::move(whole.refused)};
    }
    if (own) {
        if (std::optional<ExecuteOutcome> replayed = Replay(sql, target)) {
            return std::move(*replayed);
        }
    }
    const QString ignoring = sql::WithOrIgnore(sql);
    if (!target.KnowsOrIgnore() || ignoring == sql) {
        throw *whole.refused;
    }
    return RunIgnoring(ignoring, target, std::move(*whole.refused));
}

}  // namespace dao::detail
