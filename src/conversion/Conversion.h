#pragma once

#include <QString>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "conversion/Controls.h"
#include "conversion/OpenClose.h"
#include "conversion/Platform.h"
#include "conversion/Recipes.h"
#include "conversion/Rehearsal.h"
#include "conversion/RunJournal.h"
#include "conversion/RunRecord.h"
#include "conversion/TableCopy.h"
#include "data/Engine.h"

// One conversion run: the Start command, which runs the product and trader recipes, each of
// which copies one table. The window owns one and forwards the Start button's click to
// Command1_Click.
class Conversion {
public:
    Conversion(Platform& platform, LogPane& log, ProgressBar& progress, CheckBoxes& check1);

    // The Start button's click: one whole guarded run.
    void Command1_Click();

    // Replaces the destination table's rows with the source table's, field by field by name.
    void CopyData(dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb,
                  const QString& tableName);

    // Runs a recipe's steps in order when its check box holds 1.
    void RunRecipe(const Recipe& recipe, dao::DatabaseHandle& sourceDb,
                   dao::DatabaseHandle& destDb);

    // The folders read from the settings store by the last confirmed run.
    QString SourceDbPath;
    QString DestDbPath;

    // Where the table copies record their statements, counts and failed rows. A run records into
    // its run folder, and tells this journal too; tests that call CopyData directly record here
    // only.
    void SetJournal(RunJournal* journal) { journal_ = journal; }

    // Tests: what each run's record uses in place of the file system (RunRecord::Seams).
    void SetRecordSeams(RunRecord::Seams seams) { recordSeams_ = std::move(seams); }

    // Whether the last run (or the copies made since it, without one) had errors, as its end
    // tells the user.
    bool LastRunHadErrors() const { return RunHadErrors(); }

    // Rehearsals: each Start runs the whole conversion on copies of both files, in a rehearsal
    // folder, and leaves the originals as they were. It asks for no password or confirmation,
    // and ends with a box of its own, unless `showSummary` is false (the caller then shows
    // LastRehearsal() itself).
    void SetRehearsal(bool rehearsal, bool showSummary = true) {
        rehearsal_ = rehearsal;
        showRehearsalSummary_ = showSummary;
    }
    bool Rehearsing() const { return rehearsal_; }
    // What the last rehearsal found; empty when the last Start was no rehearsal, or ended before
    // its copies (the boxes said why).
    const std::optional<RehearsalResult>& LastRehearsal() const { return lastRehearsal_; }

    // The run folder of the last run that got as far as its backup; empty otherwise.
    QString LastRunFolder() const { return lastRunFolder_; }
    // The failed rows' file of the last run, when it listed any; empty otherwise.
    QString LastFailedRowsPath() const { return failedRowsPath_; }

private:
    // Clears what the last run met and starts the log.
    void StartRun();
    // The run from its opens on, on the two files given.
    void RunOn(const QString& sourceFile, const QString& destFile);
    // The rehearsal: copies both files, runs on the copies, removes them, says what it found.
    void Rehearse(const QString& sourceFile, const QString& destFile);
    // Opens both files as a run does and copies them into a new rehearsal folder, whose record
    // it starts; false, after saying why, when the copies could not be made.
    bool CopyForRehearsal(const QString& sourceFile, const QString& destFile);
    // What the rehearsal met, from the run's outcomes.
    RehearsalResult RehearsalFindings(const RunManifest& before) const;
    RehearsedTable RehearsedTableOf(const Recipe& recipe) const;
    // Asks for the boxes, the password and the confirmation; false when the run must not start.
    bool UserConfirmsRun();
    // Checks that a folder setting could be read as a text; false, after saying why, when the
    // run must end. A setting that is merely unset passes, for FoldersUsable to report.
    bool SettingUsable(const SettingRead& setting, const QString& product);
    // Checks the two folders before anything is opened; false when the run must end.
    bool FoldersUsable(const QString& sourceFile, const QString& destFile);
    // Opens both databases; false, after logging why, when the run must end.
    bool OpenDatabases(dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb,
                       const QString& sourceFile, const QString& destFile);
    // Runs one recipe statement; rows it left out are logged and make the run one with errors.
    void ExecuteCounted(dao::DatabaseHandle& db, const RecipeStep& step);
    // The recipes whose check boxes are ticked, in run order.
    std::vector<const Recipe*> SelectedRecipes() const;
    // Checks, before anything is changed, that the tables and columns that the selected recipes
    // copy and set exist in both databases; false, after reporting what is missing, when the run
    // must end.
    bool RecipesCanRun(dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb);
    // Reports a table or columns that a database lacks.
    void ReportMissing(bool inDest, const QString& problem, const QString& fileName);
    // Backs up every file the selected recipes change into a new run folder and starts the run's
    // report; false, after saying why, when the run must end before any change.
    bool BackUpFiles(dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb);
    // The lines a message about the run's end adds: its failed rows and its run folder.
    QString RunFolderLines() const;
    // Ends the run's report with its outcome and the log pane's text.
    void FinishRecord(const QString& outcome);
    // The one place that decides whether the run had errors.
    bool RunHadErrors() const;
    // Logs and shows how a run that reached its end went.
    void ReportCompletion();
    // Ends a run that an error stopped: reports it, closes both databases, logs it.
    void StopOnError(const ErrorInfo& error, dao::DatabaseHandle& sourceDb,
                     dao::DatabaseHandle& destDb);
    // Closes a database on a path where a failing close must not hide what went before.
    void CloseQuietly(dao::DatabaseHandle& db);
    // False, after saying why, while a restore that was killed is not finished.
    bool NoUnfinishedRestore();
    // The destination tables that the selected recipes change.
    QStringList OwnedDestTables() const;
    // Counts every table of the destination; a table that cannot be counted is left out.
    static std::map<QString, int64_t> CountTables(dao::DatabaseHandle& db);
    // Compares the destination's tables with their counts before the run: a table the run did not
    // mean to change that changed (a trigger's doing) is logged and recorded, and makes the run
    // one with errors.
    void CheckOtherTables(dao::DatabaseHandle& destDb);
    // Logs and records that failed-rows.csv could not be written, when so.
    void NoteFailedRowsProblem();

    Platform& platform_;
    LogPane& log_;
    ProgressBar& progress_;
    CheckBoxes& check1_;
    // What the run met, since its start: each table copy's outcome, whether a statement left
    // rows out, whether an error stopped it.
    std::vector<TableCopyOutcome> copies_;
    std::vector<QString> copiedTables_;  // the table of each of copies_
    bool statementLeftRowsOut_ = false;
    // The statements that left rows out, with the check box of their recipe.
    std::vector<std::pair<int, RehearsedStatement>> leftOutStatements_;
    int currentRecipe_ = -1;
    // Whether the run got past its checks and backup.
    bool runStarted_ = false;
    bool rehearsal_ = false;
    bool showRehearsalSummary_ = true;
    std::optional<RehearsalResult> lastRehearsal_;
    // The outcome report.txt was given, and its files' hashes after the run.
    QString lastOutcome_;
    std::vector<QByteArray> lastHashesAfter_;
    std::map<QString, int64_t> destCountsBefore_;
    QStringList otherTablesChanged_;
    QString failedRowsProblem_;
    bool stoppedByError_ = false;
    RunJournal* journal_ = nullptr;
    // The record of the run in progress, from its backup on.
    std::unique_ptr<RunRecord> record_;
    RunRecord::Seams recordSeams_;
    RunJournal* journalBeforeRun_ = nullptr;
    QString lastRunFolder_;
    QString failedRowsPath_;
    // The tables the selected recipes copy, with their source columns, as the pre-run check saw
    // them.
    std::vector<std::pair<QString, QStringList>> copiedColumns_;
};

// The support telephone number shown in the password prompt. Seoul numbers never begin with 0
// after the area code, so this one cannot reach anybody.
inline const QString kSupportPhone = QStringLiteral("02-0000-0000");

// The run password.
inline const QString kRunPassword = QStringLiteral("kolum482");
