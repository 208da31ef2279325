#pragma once

// Putting a run's backups back: every file a run folder holds is copied back over the product's
// database, or none is. All files are checked before the first is touched; a file that fails
// after an earlier one was restored puts that one back, so that the two products never disagree
// about which state they are in.

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "conversion/Platform.h"
#include "conversion/RunFolder.h"

// A run folder as a list of runs shows it: its name, what run.json says it backed up, whether it
// can be restored, and the outcome report.txt states.
struct RunDescription {
    // What keeps the restore from even trying: the rule RestoreRun refuses by before it checks
    // the products' settings and files.
    enum class Blocker {
        None,           // the restore would go on to check the backups and the products' files
        NoManifest,     // run.json is missing, damaged, or names no file
        BackupMissing,  // a file run.json names is missing from the folder
        Linked,         // a backup or the before-restore folder is a link, or not what it should be
    };
    enum class Report {
        Outcome,    // report.txt states the run's outcome
        NoOutcome,  // report.txt has none: the run was killed, or the report is damaged
        Missing,    // there is no report.txt
    };

    QString folder;
    RunFolderName name;               // a name that is no run folder's leaves it empty
    std::vector<BackedUpFile> files;  // as run.json lists them; empty without one
    Blocker blocker = Blocker::NoManifest;
    Report report = Report::Missing;
    QString outcome;   // the report's words, when it states an outcome
    QString linked;    // with Blocker::Linked: which path, in Korean
    qint64 bytes = 0;  // what the folder's files hold

    bool Restorable() const { return blocker == Blocker::None; }
    // The products the run backed up, in run.json's order.
    QStringList Products() const;
};

// Describes the run folder `folder`, as ListRunFolders names it. Reads nothing but the folder.
RunDescription DescribeRun(const QString& folder);

// The question asked before `run` is restored: which files go back to their backups, and that
// the files as they are now are kept. Lines joined with CR LF.
QString RestoreConfirmation(const RunDescription& run);

// What became of one product's file.
struct RestoredFile {
    enum class State {
        Untouched,  // never written
        Restored,   // holds the backup, verified
        PutBack,    // was restored, then put back as it was before the restore
        Unknown,    // neither could be made sure of: see `savedCopy`
    };
    QString product;    // kSourceProduct or kDestProduct
    QString target;     // the product's database file, native separators
    QString savedCopy;  // the file as it was before the restore, when it was saved (native)
    State state = State::Untouched;
};

struct RestoreResult {
    enum class Outcome {
        Restored,    // every file holds its backup
        Refused,     // a check failed: nothing was written
        RolledBack,  // a file failed after the checks; every file is as it was before
        Damaged,     // a file failed and could not be put back: `files` says where each stands
    };
    Outcome outcome = Outcome::Refused;
    std::vector<RestoredFile> files;
    // The one message that tells the user the above, in Korean, lines joined with CR LF.
    QString message;
    // The message box's icon for that message (vbInformation, vbExclamation or vbCritical).
    int icon = vbExclamation;
};

// Called before each copy a restore makes (the file saved into before-restore, the backup put
// back, a saved file put back), with where it copies from and to; tests throw from it to fail
// that copy.
using RestoreCopy = std::function<void(const QString& from, const QString& to)>;

// Restores the run folder `runFolder`. The products' folder settings are read through
// `platform`; nothing is shown. `now` names the before-restore folder. An SQLite target is
// opened alone (dao::dbExclusive) from its check to the restore's end, saved and restored
// through that connection; a target that is missing, damaged or no SQLite file is copied byte
// for byte. The restore's intent is kept in <run>/restore.json from before the first file is
// replaced until after the last.
RestoreResult RestoreRun(Platform& platform, const QString& runFolder,
                         const QDateTime& now = QDateTime::currentDateTime(),
                         const RestoreCopy& before = {});

// ---- A restore or a run that did not end

// What restore.json says of each file.
inline const QString kRestoreStatePending = QStringLiteral("pending");
inline const QString kRestoreStateRestoring = QStringLiteral("restoring");
inline const QString kRestoreStateRestored = QStringLiteral("restored");
inline const QString kRestoreStatePuttingBack = QStringLiteral("puttingBack");
inline const QString kRestoreStatePutBack = QStringLiteral("putBack");
inline const QString kRestoreStateUnknown = QStringLiteral("unknown");

// A restore whose restore.json is not marked done: it was killed part way.
struct UnfinishedRestore {
    struct File {
        QString product;
        QString target;  // native separators
        QString state;   // kRestoreState...
    };
    QString runFolder;
    QString saveFolder;
    std::vector<File> files;
};

// The unfinished restores under `runsRoot`, newest run first.
std::vector<UnfinishedRestore> FindUnfinishedRestores(const QString& runsRoot);
// What the user is told of one, with the question whether to finish it. Lines joined with CR LF.
QString UnfinishedRestoreMessage(const UnfinishedRestore& restore);

// The run folders under `runsRoot` whose run was killed: a report without its outcome, and the
// lock the run held left behind by a process that is gone, which finding it takes away. A run of
// another window that is still going holds its lock and is not one of them.
QStringList FindKilledRuns(const QString& runsRoot);

// At the start of the tool or of the restore window: names every unfinished restore and offers
// to finish it (Yes/No, No the default; Yes restores the run again), then, with `killedRuns`,
// every killed run with the offer to restore it; a killed run is named once, after which its
// report states it. Returns false while an unfinished restore remains.
bool CheckUnfinished(
    Platform& platform, bool killedRuns,
    const std::function<QDateTime()>& clock = [] { return QDateTime::currentDateTime(); },
    const RestoreCopy& before = {});

// Whether a file starts as an SQLite database does (its first 16 bytes).
bool IsSqliteFile(const QString& path);
