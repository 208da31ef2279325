#pragma once

#include <QString>
#include <map>

#include "conversion/Controls.h"
#include "conversion/OpenClose.h"
#include "conversion/Platform.h"
#include "data/Engine.h"

// One conversion run and its parts: the Start command, the product and trader recipes, and the
// table copy. The window owns one and forwards the Start button's click to Command1_Click.
class Conversion {
public:
    Conversion(Platform& platform, LogPane& log, ProgressBar& progress, CheckBoxes& check1);

    // The Start button's click: one whole guarded run.
    void Command1_Click();

    // Replaces the destination table's rows with the source table's, field by field by name.
    void CopyData(dao::DatabaseHandle& SourceDbs, dao::DatabaseHandle& DestDbs,
                  const QString& TName);

    // The two recipes: each runs only when its check box holds 1.
    void ProductRecipe(dao::DatabaseHandle& SourceDb, dao::DatabaseHandle& DestDb);
    void TraderRecipe(dao::DatabaseHandle& SourceDb, dao::DatabaseHandle& DestDb);

    // The folders read from the settings store by the last confirmed run.
    QString SourceDbPath;
    QString DestDbPath;

    // Whether the last run's table copies reported any failure.
    bool LastRunHadErrors() const { return runHadErrors_; }

private:
    class TableCopy;

    // Checks the two folders before anything is opened; false when the run must end.
    bool FoldersUsable(const QString& sourceFile, const QString& destFile);
    // Checks, before anything is changed, that the tables and columns that the selected recipes
    // copy and set exist in both databases; false, after reporting what is missing, when the run
    // must end.
    bool RecipesCanRun(dao::DatabaseHandle& SourceDb, dao::DatabaseHandle& DestDb);
    // Ends a run that an error stopped: reports it, closes both databases, logs it.
    void StopOnError(const ErrorInfo& error, dao::DatabaseHandle& SourceDb,
                     dao::DatabaseHandle& DestDb);
    // Closes a database on a path where a failing close must not hide what went before.
    void CloseQuietly(dao::DatabaseHandle& db);

    Platform& platform_;
    LogPane& log_;
    ProgressBar& progress_;
    CheckBoxes& check1_;
    bool runHadErrors_ = false;
};

// The support telephone number shown in the password prompt. Seoul numbers never begin with 0
// after the area code, so this one cannot reach anybody.
inline const QString kSupportPhone = QStringLiteral("02-0000-0000");

// The run password.
inline const QString kRunPassword = QStringLiteral("kolum482");
