#pragma once

// An action statement run and counted the same way for both drivers. The statement runs as
// written in a transaction of its own. When the values of some of its rows refuse it (a duplicate
// key, a CHECK rule, a STRICT column's type, a trigger that raises), it has applied nothing: the
// classic engine leaves such rows out and applies the rest, so the statement is rolled back and
// run again one row at a time, counting the rows left out: INSERT ... VALUES row by row,
// INSERT ... SELECT over the selected rows, UPDATE and DELETE over the keys of the rows they
// select. A statement that ran whole but changed fewer rows than it selected (a trigger that
// ignores rows) counts the difference as left out.

#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <optional>
#include <vector>

#include "data/Engine.h"

namespace dao::detail {

// What one statement did: the rows it changed, or the error with which its rows' values refused
// it (the statement then changed nothing).
struct StatementResult {
    int64_t changed = 0;  // negative when the driver cannot tell
    std::optional<Error> refused;
};

// What a driver provides.
class RowByRowTarget {
public:
    virtual ~RowByRowTarget() = default;

    // Whether INSERT ... SELECT is replayed (its rows read first, then inserted one by one).
    virtual bool ReplaysInsertSelect() const = 0;
    // Whether the database knows SQLite's OR IGNORE, which leaves the refused rows out of a
    // statement that cannot be replayed.
    virtual bool KnowsOrIgnore() const = 0;
    // The key columns that tell a table's rows apart, quoted for a statement; empty when none.
    virtual QStringList KeyColumns(const QString& tableAsWritten) = 0;
    // The columns of a table in their order, quoted for a statement.
    virtual QStringList ColumnsOf(const QString& tableAsWritten) = 0;
    // Every row of a query, nulls as invalid variants.
    virtual std::vector<QVariantList> ReadAll(const QString& select) = 0;
    // The number a "SELECT count(*) ..." returns; nullopt when the driver cannot count it.
    virtual std::optional<int64_t> Count(const QString& countSelect) = 0;
    // Runs a statement with `parameters` bound to its markers in order. Refused when its rows'
    // values make it fail; any other failure throws.
    virtual StatementResult Run(const QString& statement, const QVariantList& parameters) = 0;
    // The error for a row that the destination ignored without a word.
    virtual Error IgnoredError() const = 0;

    // The transaction a statement and a replay run in. Begin returns false when the target cannot
    // undo a statement that fails half way: nothing is replayed then.
    virtual bool Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() noexcept = 0;
};

// Runs `sql` on the target and counts its rows. A refused statement that cannot be replayed (a
// form not replayed, a table whose rows cannot be told apart) runs again with OR IGNORE where the
// database knows it, its rows left out counted against the rows it selected. Throws when the
// statement cannot run at all, or is refused and neither way applies: nothing is changed then.
ExecuteOutcome RunCounted(const QString& sql, RowByRowTarget& target);

}  // namespace dao::detail
