#pragma once

// The ledger of a table copy: which source rows it did not save, by their 1-based position in the
// order it read the source, and why. It is the one place that keeps the rule "rows listed + rows
// copied = the source's rows"; the copy tells it what happens to each row, and the log line, the
// journal's counts and failed-rows.csv all read their numbers from it.

#include <cstdint>
#include <vector>

#include "conversion/OpenClose.h"

// Why a source row was not saved.
enum class RowLoss {
    Refused,              // its field write or its save failed; listed at once, with its values
    TakenBack,            // saved, then taken back by a commit that failed
    LeftUnread,           // never read: a lock, a moved file or a failing read stopped the copy
    LostWithMovedFile,    // saved into a file that was moved or deleted under the run
    RefusedBeforeDelete,  // the copy was refused before the destination was emptied
};

// Consecutive source rows not saved for the same loss and error number. A run keeps the error of
// its first row.
struct UnsavedRows {
    int64_t first = 0;
    int64_t last = 0;
    RowLoss loss = RowLoss::Refused;
    ErrorInfo error;

    int64_t Count() const { return last - first + 1; }
};

// While the copy reads, every row read is saved, listed or being copied; once settled, every
// source row is saved or listed: Listed() + Copied() == SourceRows(). Each step that changes the
// counts asserts it.
class CopyLedger {
public:
    // ---- While the copy reads: one row at a time, each saved or refused before the next.

    // The next source row is read and being copied; its position is RowsRead().
    void RowRead();
    // The row being copied was saved.
    void RowSaved();
    // The row being copied was refused at its field write or its save.
    void RowRefused(const ErrorInfo& error);
    // A commit that failed took back the last `count` saved rows (no more than were saved).
    // Returns how many it took back.
    int64_t TakeBack(int64_t count, const ErrorInfo& error);

    // ---- When the copy has ended: exactly one of the last two settles the ledger.

    // The destination file was moved or deleted under the run: every saved row is lost.
    void LostWithMovedFile(const ErrorInfo& error);
    // The source has `sourceRows` rows (as counted before the copy; 0 when unknown): those never
    // read are listed.
    void LeftUnread(int64_t sourceRows, const ErrorInfo& error);
    // No row was written: every one of the source's `sourceRows` rows is listed.
    void RefusedBeforeDelete(int64_t sourceRows, const ErrorInfo& error);

    int64_t RowsRead() const { return rowsRead_; }
    bool RowInProgress() const { return rowInProgress_; }
    int64_t Copied() const { return saved_; }
    int64_t Listed() const { return listed_; }
    int64_t Listed(RowLoss loss) const;
    bool Settled() const { return settled_; }
    // The source's rows, once settled: its count before the copy, or the rows read when more.
    int64_t SourceRows() const;
    // Every row listed, by increasing position.
    std::vector<UnsavedRows> InOrder() const;

private:
    void List(int64_t first, int64_t last, RowLoss loss, const ErrorInfo& error);
    void Settle(int64_t sourceRows);
    // Each row read is saved, listed or being copied.
    bool ReadRowsAccountedFor() const;

    int64_t rowsRead_ = 0;
    bool rowInProgress_ = false;
    int64_t saved_ = 0;
    int64_t listed_ = 0;
    // Positions listed while the copy read (refused or taken back), increasing, so that a take-back
    // can walk past them.
    std::vector<int64_t> listedWhileReading_;
    // Every listed row, as runs in the order they were listed.
    std::vector<UnsavedRows> runs_;
    bool settled_ = false;
    int64_t sourceRows_ = 0;
};
