#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

#include "conversion/RunFolder.h"
#include "support/RunFixture.h"

// Two product databases with their folder settings (RunFixture), a runs folder of the test's
// own, and run folders made as a run leaves them: both files copied byte for byte, run.json with
// their paths and row counts, report.txt with an outcome line.
class RestoreFixture : public RunFixture {
protected:
    void SetUp() override;

    QString RunsRoot() const { return tmp.File(QStringLiteral("runs")); }

    // A run folder for the two files as they are now, started at `started`. Without an outcome
    // the report holds no outcome line (a run that was killed); `withReport` false writes none.
    QString MakeRun(const QDateTime& started,
                    const std::optional<QString>& outcome = QStringLiteral("정상 완료"),
                    bool withReport = true);

    // Changes both databases as a run does: the destination's products replaced, the source's
    // empty units made a space.
    void ChangeBoth();

    // A copy of a file's current state, to compare with later.
    QString Snapshot(const QString& file, const QString& name);
};

// The row counts run.json records for a file: every table it holds.
RowCounts CountRows(const QString& file);
