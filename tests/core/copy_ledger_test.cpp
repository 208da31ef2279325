// The table copy's ledger, without a database: which source rows it lists as not saved, why,
// and that listed and copied rows are always exactly the source's rows.

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <vector>

#include "conversion/CopyLedger.h"
#include "conversion/RunJournal.h"

namespace {

const ErrorInfo kDuplicate{3022, QStringLiteral("중복"), 0};
const ErrorInfo kLocked{3260, QStringLiteral("잠김"), 0};
const ErrorInfo kMoved{3043, QStringLiteral("옮겨짐"), 0};

// A run as the tests write it: first, last, why, and the error's number.
struct ListedRun {
    int64_t first;
    int64_t last;
    RowLoss loss;
    int32_t number;
    bool operator==(const ListedRun&) const = default;
};

void PrintTo(const ListedRun& run, std::ostream* os) {
    *os << "{" << run.first << ".." << run.last << " loss " << static_cast<int>(run.loss)
        << " error " << run.number << "}";
}

std::vector<ListedRun> Runs(const CopyLedger& ledger) {
    std::vector<ListedRun> runs;
    for (const UnsavedRows& rows : ledger.InOrder()) {
        runs.push_back({rows.first, rows.last, rows.loss, rows.error.number});
    }
    return runs;
}

// Reads rows and saves each one ('s') or refuses it ('r').
void Copy(CopyLedger& ledger, const std::string& rows, const ErrorInfo& refusal = kDuplicate) {
    for (const char row : rows) {
        ledger.RowRead();
        if (row == 's') {
            ledger.RowSaved();
        } else {
            ledger.RowRefused(refusal);
        }
    }
}

TEST(CopyLedgerTest, EachKindOfLossIsListedByPosition) {
    CopyLedger refused;
    Copy(refused, "srs");
    refused.LeftUnread(3, {});
    EXPECT_EQ(Runs(refused), (std::vector<ListedRun>{{2, 2, RowLoss::Refused, 3022}}));
    EXPECT_EQ(refused.Copied(), 2);

    CopyLedger takenBack;
    Copy(takenBack, "sssss");
    EXPECT_EQ(takenBack.TakeBack(2, kLocked), 2);
    takenBack.LeftUnread(5, {});
    EXPECT_EQ(Runs(takenBack), (std::vector<ListedRun>{{4, 5, RowLoss::TakenBack, 3260}}));
    EXPECT_EQ(takenBack.Copied(), 3);

    CopyLedger unread;
    Copy(unread, "sss");
    unread.LeftUnread(10, kLocked);
    EXPECT_EQ(Runs(unread), (std::vector<ListedRun>{{4, 10, RowLoss::LeftUnread, 3260}}));
    EXPECT_EQ(unread.Copied(), 3);
    EXPECT_EQ(unread.SourceRows(), 10);

    CopyLedger moved;
    Copy(moved, "srss");
    moved.LostWithMovedFile(kMoved);
    moved.LeftUnread(4, kMoved);
    EXPECT_EQ(Runs(moved), (std::vector<ListedRun>{{1, 1, RowLoss::LostWithMovedFile, 3043},
                                                   {2, 2, RowLoss::Refused, 3022},
                                                   {3, 4, RowLoss::LostWithMovedFile, 3043}}));
    EXPECT_EQ(moved.Copied(), 0);
    EXPECT_EQ(moved.Listed(RowLoss::LostWithMovedFile), 3);
}

TEST(CopyLedgerTest, ARefusalBeforeTheDeleteListsEverySourceRowAndCopiesNone) {
    CopyLedger ledger;
    ledger.RefusedBeforeDelete(3, kLocked);
    EXPECT_EQ(Runs(ledger), (std::vector<ListedRun>{{1, 3, RowLoss::RefusedBeforeDelete, 3260}}));
    EXPECT_EQ(ledger.Copied(), 0);
    EXPECT_EQ(ledger.Listed(), 3);
    EXPECT_EQ(ledger.SourceRows(), 3);

    CopyLedger empty;
    empty.RefusedBeforeDelete(0, {});
    EXPECT_TRUE(Runs(empty).empty());
    EXPECT_EQ(empty.SourceRows(), 0);
}

TEST(CopyLedgerTest, AdjacentRowsOfOneLossAndNumberMergeAndKeepTheFirstError) {
    CopyLedger ledger;
    Copy(ledger, "sss");
    ledger.TakeBack(1, kLocked);
    Copy(ledger, "ss");
    // A second take-back right after the first, with the same number but its own wording.
    ledger.TakeBack(2, {3260, QStringLiteral("다시 잠김"), 0});
    // Refused rows next to them are another loss; another number is another run.
    Copy(ledger, "rr");
    Copy(ledger, "r", kLocked);
    ledger.LeftUnread(8, {});
    EXPECT_EQ(Runs(ledger), (std::vector<ListedRun>{{3, 5, RowLoss::TakenBack, 3260},
                                                    {6, 7, RowLoss::Refused, 3022},
                                                    {8, 8, RowLoss::Refused, 3260}}));
    EXPECT_EQ(ledger.InOrder().front().error.description, QStringLiteral("잠김"));
}

TEST(CopyLedgerTest, ATakeBackWalksPastRowsListedAlreadyAndTheRowBeingCopied) {
    CopyLedger ledger;
    Copy(ledger, "srsrs");
    ledger.RowRead();  // row 6, being copied when the commit fails
    EXPECT_TRUE(ledger.RowInProgress());
    EXPECT_EQ(ledger.TakeBack(2, kLocked), 2);
    ledger.RowRefused(kLocked);
    ledger.LeftUnread(6, kLocked);
    EXPECT_EQ(Runs(ledger), (std::vector<ListedRun>{{2, 2, RowLoss::Refused, 3022},
                                                    {3, 3, RowLoss::TakenBack, 3260},
                                                    {4, 4, RowLoss::Refused, 3022},
                                                    {5, 5, RowLoss::TakenBack, 3260},
                                                    {6, 6, RowLoss::Refused, 3260}}));
    EXPECT_EQ(ledger.Copied(), 1);

    // No more than were saved, and nothing when none were.
    CopyLedger few;
    Copy(few, "rs");
    EXPECT_EQ(few.TakeBack(5, kLocked), 1);
    EXPECT_EQ(few.TakeBack(5, kLocked), 0);
    EXPECT_EQ(few.TakeBack(0, kLocked), 0);
    few.LeftUnread(2, {});
    EXPECT_EQ(few.Copied(), 0);
    EXPECT_EQ(few.Listed(), 2);
}

TEST(CopyLedgerTest, AMovedFileAfterTakeBacksListsTheRowsStillCountedAsSaved) {
    CopyLedger ledger;
    Copy(ledger, "sssss");
    ledger.TakeBack(2, kLocked);
    Copy(ledger, "srs");
    ledger.LostWithMovedFile(kMoved);
    ledger.LeftUnread(10, kMoved);
    EXPECT_EQ(Runs(ledger), (std::vector<ListedRun>{{1, 3, RowLoss::LostWithMovedFile, 3043},
                                                    {4, 5, RowLoss::TakenBack, 3260},
                                                    {6, 6, RowLoss::LostWithMovedFile, 3043},
                                                    {7, 7, RowLoss::Refused, 3022},
                                                    {8, 8, RowLoss::LostWithMovedFile, 3043},
                                                    {9, 10, RowLoss::LeftUnread, 3043}}));
    EXPECT_EQ(ledger.Copied(), 0);
    EXPECT_EQ(ledger.Listed(), 10);
}

TEST(CopyLedgerTest, ASourceLongerThanItsCountIsTheRowsRead) {
    CopyLedger ledger;
    Copy(ledger, "ssss");
    ledger.LeftUnread(2, {});  // the count before the copy fell short
    EXPECT_EQ(ledger.SourceRows(), 4);
    EXPECT_EQ(ledger.Listed(), 0);
    EXPECT_TRUE(ledger.Settled());
}

// Against a plain model of every row's fate, over many random copies: the listed rows are
// exactly the rows not saved, each once, and listed plus copied rows are the source's rows.
TEST(CopyLedgerTest, ListedAndCopiedRowsAreAlwaysExactlyTheSourceRows) {
    std::mt19937 random(20240611);
    for (int copy = 0; copy < 300; ++copy) {
        CopyLedger ledger;
        std::vector<bool> saved(1, false);  // by position; 0 unused
        const int64_t sourceRows = static_cast<int64_t>(random() % 40);
        const int64_t read =
            sourceRows == 0 ? 0 : static_cast<int64_t>(random() % (sourceRows + 1));
        for (int64_t position = 1; position <= read; ++position) {
            ledger.RowRead();
            const unsigned step = random() % 10;
            if (step == 0) {
                // A commit fails while the row is being copied; then the row fails as well.
                int64_t lost = static_cast<int64_t>(random() % 6);
                ledger.TakeBack(lost, kLocked);
                for (int64_t p = position - 1; p >= 1 && lost > 0; --p) {
                    if (saved[static_cast<size_t>(p)]) {
                        saved[static_cast<size_t>(p)] = false;
                        --lost;
                    }
                }
                ledger.RowRefused(kLocked);
            } else if (step < 3) {
                ledger.RowRefused(kDuplicate);
            } else {
                ledger.RowSaved();
            }
            saved.push_back(step >= 3);
        }
        if (random() % 5 == 0) {
            ledger.LostWithMovedFile(kMoved);
            std::fill(saved.begin(), saved.end(), false);
        }
        ledger.LeftUnread(sourceRows, kLocked);

        std::set<int64_t> listed;
        for (const UnsavedRows& rows : ledger.InOrder()) {
            for (int64_t position = rows.first; position <= rows.last; ++position) {
                EXPECT_TRUE(listed.insert(position).second) << "listed twice: " << position;
            }
        }
        std::set<int64_t> expected;
        int64_t copied = 0;
        for (int64_t position = 1; position <= sourceRows; ++position) {
            const bool wasSaved = position <= read && saved[static_cast<size_t>(position)];
            copied += wasSaved ? 1 : 0;
            if (!wasSaved) {
                expected.insert(position);
            }
        }
        ASSERT_EQ(listed, expected) << "copy " << copy;
        EXPECT_EQ(ledger.Copied(), copied);
        EXPECT_EQ(ledger.Listed(), static_cast<int64_t>(listed.size()));
        EXPECT_EQ(ledger.Listed() + ledger.Copied(), ledger.SourceRows());
        EXPECT_EQ(ledger.SourceRows(), sourceRows);
    }
}

// ---- The table's counts

TEST(TableCopyCountsTest, AgreeOnlyWhenTheTableHoldsExactlyTheRowsCopied) {
    const auto counts = [](int64_t sourceRows, int64_t copied, int64_t failed, int64_t destAfter) {
        TableCopyCounts c;
        c.sourceRows = sourceRows;
        c.copied = copied;
        c.failed = failed;
        c.destAfter = destAfter;
        return c;
    };
    EXPECT_TRUE(counts(5, 5, 0, 5).Agree());
    EXPECT_TRUE(counts(5, 3, 2, 3).Agree());
    // More rows than copied (a trigger's, another program's) is no agreement, nor are fewer.
    EXPECT_FALSE(counts(5, 5, 0, 10).Agree());
    EXPECT_FALSE(counts(5, 5, 0, 6).Agree());
    EXPECT_FALSE(counts(5, 5, 0, 4).Agree());
    // A destination that could not be counted.
    EXPECT_FALSE(counts(5, 5, 0, -1).Agree());
    // A source without rows leaves the destination as it was.
    EXPECT_TRUE(counts(0, 0, 0, 7).Agree());
    EXPECT_FALSE(counts(0, 0, 1, 7).Agree());
}

}  // namespace
