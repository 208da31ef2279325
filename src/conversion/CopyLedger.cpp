#include "conversion/CopyLedger.h"

#include <QtGlobal>
#include <algorithm>

void CopyLedger::RowRead() {
    Q_ASSERT(!settled_ && !rowInProgress_);
    ++rowsRead_;
    rowInProgress_ = true;
}

void CopyLedger::RowSaved() {
    Q_ASSERT(rowInProgress_);
    ++saved_;
    rowInProgress_ = false;
    Q_ASSERT(ReadRowsAccountedFor());
}

void CopyLedger::RowRefused(const ErrorInfo& error) {
    Q_ASSERT(rowInProgress_);
    // The row being copied is the last one read, so the positions stay in increasing order.
    listedWhileReading_.push_back(rowsRead_);
    List(rowsRead_, rowsRead_, RowLoss::Refused, error);
    rowInProgress_ = false;
    Q_ASSERT(ReadRowsAccountedFor());
}

int64_t CopyLedger::TakeBack(int64_t count, const ErrorInfo& error) {
    Q_ASSERT(!settled_);
    const int64_t lost = std::min(saved_, count);
    if (lost <= 0) {
        return 0;
    }
    // The rows taken back are the last `lost` saved ones: walking back from the last row read
    // (not the one being copied, which was never saved), past the rows listed already. Every
    // other row read is saved, so the walk finds exactly `lost` of them.
    std::vector<int64_t> taken;
    for (int64_t position = rowsRead_ - (rowInProgress_ ? 1 : 0);
         position >= 1 && static_cast<int64_t>(taken.size()) < lost; --position) {
        if (!std::binary_search(listedWhileReading_.begin(), listedWhileReading_.end(), position)) {
            taken.push_back(position);
        }
    }
    Q_ASSERT(static_cast<int64_t>(taken.size()) == lost);
    std::reverse(taken.begin(), taken.end());
    const auto middle =
        listedWhileReading_.insert(listedWhileReading_.end(), taken.begin(), taken.end());
    std::inplace_merge(listedWhileReading_.begin(), middle, listedWhileReading_.end());
    for (const int64_t position : taken) {
        List(position, position, RowLoss::TakenBack, error);
    }
    saved_ -= lost;
    Q_ASSERT(ReadRowsAccountedFor());
    return lost;
}

void CopyLedger::LostWithMovedFile(const ErrorInfo& error) {
    Q_ASSERT(!settled_ && !rowInProgress_);
    // Whatever was saved went into a file that is no longer where the products look: the rows
    // between those listed already.
    int64_t from = 1;
    for (const int64_t listed : listedWhileReading_) {
        List(from, listed - 1, RowLoss::LostWithMovedFile, error);
        from = listed + 1;
    }
    List(from, rowsRead_, RowLoss::LostWithMovedFile, error);
    saved_ = 0;
    Q_ASSERT(ReadRowsAccountedFor());
}

void CopyLedger::LeftUnread(int64_t sourceRows, const ErrorInfo& error) {
    Q_ASSERT(!settled_ && !rowInProgress_);
    List(rowsRead_ + 1, sourceRows, RowLoss::LeftUnread, error);
    Settle(sourceRows);
}

void CopyLedger::RefusedBeforeDelete(int64_t sourceRows, const ErrorInfo& error) {
    // Refused before the first row was read: there is nothing else to list.
    Q_ASSERT(!settled_ && rowsRead_ == 0 && listed_ == 0);
    List(1, sourceRows, RowLoss::RefusedBeforeDelete, error);
    Settle(sourceRows);
}

void CopyLedger::Settle(int64_t sourceRows) {
    Q_ASSERT(sourceRows >= 0);
    settled_ = true;
    sourceRows_ = std::max(sourceRows, rowsRead_);
    // The rule the ledger keeps: every source row is either copied or listed, never both. The
    // rows read are accounted for by the steps above; those never read were listed just now.
    Q_ASSERT(listed_ + saved_ == sourceRows_);
}

int64_t CopyLedger::SourceRows() const {
    Q_ASSERT(settled_);
    return sourceRows_;
}

int64_t CopyLedger::Listed(RowLoss loss) const {
    int64_t rows = 0;
    for (const UnsavedRows& run : runs_) {
        rows += run.loss == loss ? run.Count() : 0;
    }
    return rows;
}

std::vector<UnsavedRows> CopyLedger::InOrder() const {
    std::vector<UnsavedRows> ordered = runs_;
    std::sort(ordered.begin(), ordered.end(),
              [](const UnsavedRows& a, const UnsavedRows& b) { return a.first < b.first; });
    return ordered;
}

void CopyLedger::List(int64_t first, int64_t last, RowLoss loss, const ErrorInfo& error) {
    if (first > last) {
        return;
    }
    Q_ASSERT(first >= 1);
    if (!runs_.empty() && runs_.back().last + 1 == first && runs_.back().loss == loss &&
        runs_.back().error.number == error.number) {
        runs_.back().last = last;
    } else {
        runs_.push_back({first, last, loss, error});
    }
    listed_ += last - first + 1;
}

bool CopyLedger::ReadRowsAccountedFor() const {
    return listed_ + saved_ + (rowInProgress_ ? 1 : 0) == rowsRead_;
}
