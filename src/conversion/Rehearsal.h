#pragma once

// A rehearsal: the whole run on copies of both databases, made in a run folder of its own
// ("<stamp>-rehearsal"), so that the user sees what a run would do on this machine, through the
// same engine and driver, before anything changes. What it found is kept here and worded for its
// own box and for standard output.

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "conversion/RunJournal.h"

// The first line of a rehearsal's log.
inline const QString kRehearsalFirstLine =
    QStringLiteral("미리 해보기: 실제 파일은 바뀌지 않습니다. 두 파일의 복사본으로 해 봅니다.");

// A recipe statement that left rows out on the copies.
struct RehearsedStatement {
    QString product;  // the database it ran on: kSourceProduct or kDestProduct
    QString statement;
    int64_t affected = 0;
    int64_t leftOut = 0;
};

// One ticked recipe: its table copy and the statements of it that left rows out.
struct RehearsedTable {
    QString tableName;
    std::optional<TableCopyCounts> counts;  // none when the copy ended before counting
    QString refusal;                        // why the copy wrote no row; empty when it did
    std::vector<RehearsedStatement> leftOut;
};

struct RehearsalResult {
    enum class Outcome {
        Completes,            // a run would complete
        CompletesWithErrors,  // a run would end with errors (or be stopped by one)
        NotRehearsed,         // the rehearsal could not be made: settings, files, space, checks
    };
    Outcome outcome = Outcome::NotRehearsed;
    QString folder;          // the rehearsal's folder; empty when none was made
    QString runOutcome;      // the outcome report.txt states
    QString failedRowsPath;  // empty when no row failed
    std::vector<RehearsedTable> tables;
    // Whether both originals hash the same after the rehearsal as before it.
    bool originalsUnchanged = false;

    // The rehearsal's own end box, and what standard output shows.
    QString Summary() const;
};

// Removes the database copies that rehearsals left in their folders under `runsRoot` (a
// rehearsal that was killed); their reports stay.
void RemoveRehearsalCopies(const QString& runsRoot);
// Removes the database copies of one rehearsal folder.
void RemoveRehearsalCopies(const QString& runsRoot, const QString& folder);
