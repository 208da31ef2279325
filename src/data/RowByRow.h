#pragma once

// Running an action statement again one row at a time, for both drivers. A statement that some
// rows' values make fail as a whole (SQLite checks a STRICT column's type before OR IGNORE
// applies; the Access driver fails a whole statement for one bad row) has applied nothing. The
// classic engine leaves such rows out and applies the rest, so the statement is run again in one
// transaction, one row at a time, leaving out the rows that fail for their values:
// INSERT ... VALUES row by row, INSERT ... SELECT over the selected rows, UPDATE and DELETE over
// the keys of the rows they select.

#include <QString>
#include <QStringList>
#include <QVariant>
#include <vector>

namespace dao::detail {

// What a driver provides for a replay.
class RowByRowTarget {
public:
    virtual ~RowByRowTarget() = default;

    // Whether INSERT ... SELECT is replayed (its rows read first, then inserted one by one).
    virtual bool ReplaysInsertSelect() const = 0;
    // The key columns that tell a table's rows apart, quoted for a statement; empty when none.
    virtual QStringList KeyColumns(const QString& tableAsWritten) = 0;
    // The columns of a table in their order, quoted for a statement.
    virtual QStringList ColumnsOf(const QString& tableAsWritten) = 0;
    // Every row of a query, nulls as invalid variants.
    virtual std::vector<QVariantList> ReadAll(const QString& select) = 0;
    // Runs a statement for one row with `parameters` bound to its markers in order. A row that
    // its values make fail is left out; any other failure throws.
    virtual void RunRow(const QString& statement, const QVariantList& parameters) = 0;

    // The transaction the replay runs in. Begin returns false when the target cannot undo a
    // replay that fails half way, and the statement's own error then stands.
    virtual bool Begin() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() noexcept = 0;
};

// Replays `sql` on the target. False, with nothing changed, for a form it does not replay (or a
// table whose rows cannot be told apart): the statement's own error then stands. A failure other
// than a refused row undoes the whole replay and is thrown.
bool ReplayRowByRow(const QString& sql, RowByRowTarget& target);

}  // namespace dao::detail
