#pragma once

// What a run records beside its log pane, as it goes: every statement it executes, every source
// row a table copy did not save, and each table copy's counts. The run's record in its run folder
// (report.txt, failed-rows.csv) implements it; a copy made without a run folder records nothing.

#include <QString>
#include <QStringList>
#include <chrono>
#include <cstdint>
#include <vector>

#include "conversion/OpenClose.h"
#include "data/Engine.h"

// The counts of one table copy, as the report states them; -1 where a count could not be read.
struct TableCopyCounts {
    QString tableName;
    int64_t sourceRows = -1;
    int64_t destBefore = -1;
    int64_t copied = 0;
    int64_t failed = 0;
    int64_t destAfter = -1;

    // Whether the destination holds, after the copy, exactly the rows copied: fewer or more (a
    // trigger's, another program's) is a table that did not end as the log says. A copy that
    // found no source rows leaves the destination as it was.
    bool Agree() const { return destAfter == copied || (sourceRows == 0 && failed == 0); }
};

class RunJournal {
public:
    virtual ~RunJournal() = default;

    // A statement the run executed on one product's database (kSourceProduct or kDestProduct),
    // letter for letter, with the rows it changed and how long it took. A statement that raised
    // has rows -1.
    virtual void StatementExecuted(const QString& product, const QString& sql, int64_t rows,
                                   std::chrono::milliseconds elapsed) = 0;

    // A source row that the copy of `tableName` did not save: its 1-based position in the order
    // the copy read the source, why, and the row as the source holds it (empty `values` when it
    // could not be read).
    virtual void RowFailed(const QString& tableName, int64_t position, const ErrorInfo& error,
                           const QStringList& columns, const std::vector<dao::Value>& values) = 0;

    // A table copy has ended.
    virtual void TableCopied(const TableCopyCounts& counts) = 0;

    // The file the failed rows went to, once it holds one; empty before.
    virtual QString FailedRowsPath() const = 0;
};
