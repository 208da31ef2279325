#pragma once

// The conversion's side of one table copy: it shows each error the copy meets the first time,
// and when the copy returns, it words what the copy did (its boxes and log lines), lists in the
// run's journal the rows the copy did not save that are not listed yet, and records the table's
// counts there.

#include <QString>
#include <cstdint>

#include "conversion/Controls.h"
#include "conversion/Platform.h"
#include "conversion/RunJournal.h"
#include "conversion/TableCopy.h"
#include "data/Engine.h"

class CopyReport : public CopyListener {
public:
    // A null journal records nothing.
    CopyReport(Platform& platform, LogPane& log, ProgressBar& progress, const QString& tableName,
               RunJournal* journal);

    // "Error N (...) in procedure CopyData of Form Form1", while the copy waits.
    void FirstMet(const ErrorInfo& error) override;

    // Why the table was not copied, as the log and the failed rows' list say it.
    static QString RefusalReason(const CopyRefusal& refusal);

    // Tells what the copy did, in the order the copy met it. A failure of the telling itself is
    // noted in the outcome and shown as the copy's own failures are.
    void Tell(TableCopyOutcome& outcome, dao::DatabaseHandle& sourceDb);

private:
    template <class Step>
    void Guarded(TableCopyOutcome& outcome, Step&& step);
    // The box of a refusal that has one; the refusal of missing columns is logged with it.
    void ShowRefusal(const CopyRefusal& refusal);
    void LogOutcome(const TableCopyOutcome& outcome);
    // " (실패한 행: <file>)" when this table's rows were listed in the journal's file.
    QString FailedRowsNote(const TableCopyOutcome& outcome) const;
    // The rows not listed while the copy read, their values read in one more pass over the
    // source.
    void ListUnsavedRows(const TableCopyOutcome& outcome, dao::DatabaseHandle& sourceDb);
    void KeepWindowAlive(int64_t listed);

    Platform& platform_;
    LogPane& log_;
    ProgressBar& progress_;
    const QString& tableName_;
    RunJournal* journal_;
};
