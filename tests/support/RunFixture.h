#pragma once

#include <gtest/gtest.h>

#include <QDir>

#include "conversion/Conversion.h"
#include "data/Drivers.h"
#include "support/FakeForm.h"
#include "support/ScriptedPlatform.h"
#include "support/SqliteFixture.h"

// The log's opening lines of a run that got as far as its backup: the three that every run starts
// with, and the line that names its run folder.
QString StartedLinesOf(const Conversion& conversion);
// What the messages at a run's end add after their own text: the failed rows' file, when there
// is one, and the run folder.
QString RunFolderLinesOf(const Conversion& conversion);

// Two small product databases in a temporary folder, the folder settings pointing at them, a
// scripted user, and the window's controls as plain values.
class RunFixture : public ::testing::Test {
protected:
    void SetUp() override;

    // The user's answers for a run that gets through the guards: password, then Yes.
    void AnswerYes();

    QString SourceFolder() const { return tmp.File(QStringLiteral("Dorvik")); }
    QString DestFolder() const { return tmp.File(QStringLiteral("SolvanePlus")); }
    QString SourceFile() const { return SourceFolder() + QStringLiteral("/dbbasic.mdb"); }
    QString DestFile() const { return DestFolder() + QStringLiteral("/dbbasic.mdb"); }

    void SetFolders(const QString& source, const QString& dest);

    QString StartedLines() const { return StartedLinesOf(conversion); }
    QString RunFolderLines() const { return RunFolderLinesOf(conversion); }

    TempFolder tmp;
    ScriptedPlatform platform;
    FakeForm form;
    Conversion conversion{platform, form, form, form};
};

// The schemas the tests use: the destination has the source's columns in another order, plus
// the columns the recipes write.
extern const char* const kSourceSchema;
extern const char* const kDestSchema;
