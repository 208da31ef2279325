#pragma once

// The table copy behind `CopyData`: replaces the destination table's rows with the source
// table's, field by field by name, and reports every failure itself, so that the recipe goes on.
// It knows which source rows it did not save, by their position in the order it read them, and
// records them with the table's counts in the run's journal.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <vector>

#include "conversion/Controls.h"
#include "conversion/OpenClose.h"
#include "conversion/Platform.h"
#include "conversion/RunJournal.h"
#include "data/Engine.h"

class TableCopy {
public:
    // runHadErrors is set as soon as the copy reports a failure, even when an error then
    // leaves the copy. A null journal records nothing.
    TableCopy(Platform& platform, LogPane& log, ProgressBar& progress,
              dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb, const QString& tableName,
              bool& runHadErrors, RunJournal* journal);

    void Run();

private:
    struct Occurrence {
        ErrorInfo first;
        int64_t count = 0;
    };
    // Source rows, by position, that are known to have failed but whose values are read only
    // after the copy, in one more pass over the source.
    struct UnsavedRows {
        int64_t first = 0;
        int64_t last = 0;
        ErrorInfo error;
    };

    // Runs one step; a failure goes to the handler and the caller continues with the step
    // that follows. An error raised inside the handler leaves the copy.
    template <class Step>
    bool Try(Step&& step) {
        try {
            step();
            return true;
        } catch (...) {
            Handle();
            return false;
        }
    }
    void Handle();
    // Opens both recordsets and matches their columns; false, after reporting why, when the
    // copy must not touch the destination.
    bool OpenBoth();
    // Opens one side through the reporting procedure, logging logText and the query on failure.
    template <class Open>
    bool OpenSide(Open&& open, const QString& logText);
    bool MapColumns();
    // Reads the source's row count for the progress bar and the log.
    void CountSource();
    // Whether the destination's file system has room for the source's rows; false, after
    // saying how much it has and needs, when the copy must not empty the table.
    bool SpaceEnough();
    // Writes the first source row into the destination and takes it back; false, after saying
    // why, when the destination refuses it for a reason that every row would share.
    bool FirstRowFits();
    bool ProbeAllows();
    static bool RefusedForItsValues(int32_t number, bool rowHasNull);
    // Shows why the table is not copied, with the destination left as it was, and notes it.
    void RefuseBeforeDelete(const QString& boxReason, const QString& logReason, int32_t number);
    // Deletes the destination's rows; false, after noting why, when rows are still there.
    bool EmptyDestination();
    int64_t DestRowCount();
    // Ends the table's copy before any row is written, for the reason given; `number` is the
    // refusing error's, 0 when there is none.
    void Refuse(const QString& reason, int32_t number);
    void CopyRows();
    void CopyRow();
    // The row being copied was not saved: it is recorded at once, with its values.
    void RowFailedNow(const ErrorInfo& error);
    // A failure took back the last `count` saved rows.
    void TakeBack(int64_t count, const ErrorInfo& error);
    // After the copy: the rows it did not save that are not recorded yet (those taken back, not
    // reached, or saved into a file that was moved, or every row of a refused copy).
    void ListUnsavedRows();
    void RecordUnsaved();
    // The error that ended the loop before the source's end.
    ErrorInfo StopError() const;
    std::vector<dao::Value> CurrentSourceValues();
    void KeepWindowAlive();
    // The destination's row count; -1 when it cannot be read. Nothing is shown.
    int64_t DestRowsOrUnknown();
    void RecordCounts(int64_t destAfter);
    // " (실패한 행: <file>)" when this table's rows were listed in the journal's file.
    QString FailedRowsNote() const;
    void LogOutcome();
    void CloseRecordsets();
    void AddLog(const QString& line) { log_.AddLog(line); }

    Platform& platform_;
    LogPane& log_;
    ProgressBar& progress_;
    dao::DatabaseHandle& sourceDb_;
    dao::DatabaseHandle& destDb_;
    const QString& tableName_;

    QString selectSql_;
    dao::RecordsetHandle sourceRs_;
    dao::RecordsetHandle destRs_;
    // The destination position of each source field, resolved once from the names.
    std::vector<int16_t> destPositions_;
    // The field value on its way from source to destination, kept across fields and rows so
    // that a text reuses the memory of the one before.
    dao::Value field_;

    std::map<int32_t, Occurrence> errors_;
    ErrorInfo firstError_;
    ErrorInfo lastError_;
    // Why the copy ended before writing any row; empty while it goes on.
    QString refusal_;
    int64_t recordCount_ = 0;
    int64_t rowsRead_ = 0;
    int64_t rowsSaved_ = 0;
    bool& runHadErrors_;
    RunJournal* journal_;
    // Another process holds the file locked: every further save would wait for the lock and fail.
    bool locked_ = false;
    // The destination file was moved or deleted under the run: nothing written to it counts.
    bool moved_ = false;
    ErrorInfo lockError_;
    ErrorInfo movedError_;
    int32_t refusalNumber_ = 0;
    bool counted_ = false;

    // What the journal is told. The source's column names, as MapColumns read them.
    QStringList sourceColumns_;
    // Positions of read rows that were not saved or were taken back, in increasing order.
    std::vector<int64_t> failedPositions_;
    std::vector<UnsavedRows> unsaved_;
    // The row being copied, and the first error it met.
    bool rowInProgress_ = false;
    bool rowFailed_ = false;
    ErrorInfo rowError_;
    int64_t listed_ = 0;
    int64_t destBefore_ = -1;
};
