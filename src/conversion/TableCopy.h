#pragma once

// The table copy behind `CopyData`: replaces the destination table's rows with the source
// table's, field by field by name, and goes on past every failure, so that the recipe goes on.
// It returns what happened (TableCopyOutcome) for its caller to word; it shows and logs nothing
// itself, and only tells its caller, while it goes on, of each error the first time it meets it.
// It knows which source rows it did not save (CopyLedger); it records a row refused at its write
// or save in the run's journal at once, with its values, and the delete it runs.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "conversion/Controls.h"
#include "conversion/CopyLedger.h"
#include "conversion/OpenClose.h"
#include "conversion/Platform.h"
#include "conversion/RunJournal.h"
#include "data/Engine.h"

enum class CopySide { Source, Dest };

// Why a copy ended before writing any row, with the destination's rows left in place.
struct CopyRefusal {
    enum class Reason {
        MissingColumns,   // source columns the destination lacks: `missingColumns`
        NoSpace,          // too little room for the source's rows: `bytesAvailable`, `bytesNeeded`
        FirstRowRefused,  // the trial of the first row met `error`, which every row would meet
        ValuesDiffer,     // the first row read back differs from the source's: `error` says where
        DeleteFailed,     // the delete of the destination's rows raised `error`
        DeleteUnchecked,  // the rows left after the delete could not be counted: `error`
        RowsLeft,         // the delete left `rowsLeft` rows
    };
    Reason reason = Reason::MissingColumns;
    ErrorInfo error;  // number 0 when no error refused
    QStringList missingColumns;
    qint64 bytesAvailable = 0;
    qint64 bytesNeeded = 0;
    int64_t rowsLeft = 0;
};

// The errors of one number that a copy met: the first, and how many in all.
struct ErrorOccurrences {
    ErrorInfo first;
    int64_t count = 0;
};

// What one table copy did.
struct TableCopyOutcome {
    // The query that read the source and opened the destination.
    QString query;
    // The side whose table could not be opened; the copy ended there.
    std::optional<CopySide> openFailed;
    std::optional<CopyRefusal> refusal;
    // Every error the copy met, by number, and the first of all.
    std::map<int32_t, ErrorOccurrences> errors;
    ErrorInfo firstError;
    // The first error that showed another program's lock, or the destination file gone; either
    // stops the copy.
    std::optional<ErrorInfo> lockedBy;
    std::optional<ErrorInfo> movedBy;
    // The source's columns, as the copy matched them.
    QStringList sourceColumns;
    CopyLedger ledger;
    // The table's counts, once both tables were opened and their columns matched; the ledger is
    // settled then. The destination's rows are counted only for a journal (-1 otherwise).
    std::optional<TableCopyCounts> counts;
    bool destCounted = false;

    // Counts an error; true when it is the first of its number.
    bool NoteError(const ErrorInfo& error);
    bool HadErrors() const { return openFailed || refusal || !errors.empty(); }
    // Whether the destination, counted after the copy, holds other rows than those copied.
    bool CountsDisagree() const { return destCounted && counts && !counts->Agree(); }
};

// What a copy tells its caller while it goes on.
class CopyListener {
public:
    virtual ~CopyListener() = default;
    // The copy met an error of a number it had not met before; it goes on after the call.
    virtual void FirstMet(const ErrorInfo& error) = 0;
};

class TableCopy {
public:
    // A null journal records nothing.
    TableCopy(Platform& platform, ProgressBar& progress, dao::DatabaseHandle& sourceDb,
              dao::DatabaseHandle& destDb, const QString& tableName, RunJournal* journal,
              CopyListener& listener);

    // An error raised while a failure is handled leaves the copy.
    TableCopyOutcome Run();

private:
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
    // Opens both recordsets and matches their columns; false when the copy must not touch the
    // destination.
    bool OpenBoth();
    // Opens one side through the reporting procedure, which shows its failure.
    template <class Open>
    bool OpenSide(Open&& open, CopySide side);
    bool MapColumns();
    // Reads the source's row count for the progress bar and the ledger.
    void CountSource();
    // Whether the destination's file system has room for the source's rows.
    bool SpaceEnough();
    // Writes the first source row into the destination and takes it back; false when the
    // destination refuses it for a reason that every row would share.
    bool FirstRowFits();
    // Compares the first row with what the trial read back; refuses the table on a difference.
    bool StoredAsWritten(const std::vector<dao::Value>& row, const std::vector<dao::Value>& stored);
    bool ProbeAllows();
    static bool RefusedForItsValues(int32_t number, bool rowHasNull);
    // Deletes the destination's rows; false when rows are still there.
    bool EmptyDestination();
    int64_t DestRowCount();
    // Ends the table's copy before any row is written.
    void Refuse(const CopyRefusal& refusal);
    void CopyRows();
    void CopyRow();
    // The row being copied was not saved: it is recorded at once, with its values.
    void RowFailedNow(const ErrorInfo& error);
    // After the copy: the rows it did not save that are not listed yet.
    void SettleLedger();
    // The error that ended the loop before the source's end.
    ErrorInfo StopError() const;
    std::vector<dao::Value> CurrentSourceValues();
    // The destination's row count for the journal; -1 without one, or when it cannot be read.
    int64_t DestRowsOrUnknown();
    TableCopyCounts Counts(int64_t destBefore, int64_t destAfter) const;
    void CloseRecordsets();

    Platform& platform_;
    ProgressBar& progress_;
    dao::DatabaseHandle& sourceDb_;
    dao::DatabaseHandle& destDb_;
    const QString& tableName_;
    RunJournal* journal_;
    CopyListener& listener_;

    dao::RecordsetHandle sourceRs_;
    dao::RecordsetHandle destRs_;
    // The destination position of each source field, resolved once from the names.
    std::vector<int16_t> destPositions_;
    // The field value on its way from source to destination, kept across fields and rows so
    // that a text reuses the memory of the one before.
    dao::Value field_;

    TableCopyOutcome outcome_;
    ErrorInfo lastError_;
    // The source's row count, as read before the copy; 0 until then.
    int64_t recordCount_ = 0;
    bool counted_ = false;
    // The first error that the row being copied met.
    std::optional<ErrorInfo> rowError_;
};
