#pragma once

// Putting a run's backups back: every file a run folder holds is copied back over the product's
// database, or none is. All files are checked before the first is touched; a file that fails
// after an earlier one was restored puts that one back, so that the two products never disagree
// about which state they are in.

#include <QDateTime>
#include <QString>
#include <functional>
#include <vector>

#include "conversion/Platform.h"

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

// The byte copy a restore writes its files with; tests replace it to fail on a given file.
using RestoreCopy = std::function<void(const QString& from, const QString& to)>;

// Restores the run folder `runFolder`. The products' folder settings are read through
// `platform`; nothing is shown. `now` names the before-restore folder. An empty `copy` stands
// for dao::CopyFileBytes.
RestoreResult RestoreRun(Platform& platform, const QString& runFolder,
                         const QDateTime& now = QDateTime::currentDateTime(),
                         const RestoreCopy& copy = {});
