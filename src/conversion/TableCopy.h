#pragma once

// The table copy behind `CopyData`: replaces the destination table's rows with the source
// table's, field by field by name, and reports every failure itself, so that the recipe goes on.

#include <QString>
#include <cstdint>
#include <map>
#include <vector>

#include "conversion/Controls.h"
#include "conversion/OpenClose.h"
#include "conversion/Platform.h"
#include "data/Engine.h"

class TableCopy {
public:
    // runHadErrors is set as soon as the copy reports a failure, even when an error then
    // leaves the copy.
    TableCopy(Platform& platform, LogPane& log, ProgressBar& progress,
              dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb, const QString& tableName,
              bool& runHadErrors);

    void Run();

private:
    struct Occurrence {
        ErrorInfo first;
        int64_t count = 0;
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
    void RefuseBeforeDelete(const QString& boxReason, const QString& logReason);
    // Deletes the destination's rows; false, after noting why, when rows are still there.
    bool EmptyDestination();
    int64_t DestRowCount();
    // Ends the table's copy before any row is written, for the reason given.
    void Refuse(const QString& reason);
    void CopyRows();
    void CopyRow();
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
    // Another process holds the file locked: every further save would wait for the lock and fail.
    bool locked_ = false;
    // The destination file was moved or deleted under the run: nothing written to it counts.
    bool moved_ = false;
};
