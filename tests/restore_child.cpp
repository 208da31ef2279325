// One restore in a process of its own, for the test that kills a restore at each of its steps.
//
//   restore_child <runs folder> <run folder> <source folder> <destination folder> <copy>
//
// The process kills itself (SIGKILL) just before the restore's <copy>th copy, counted from 1;
// with a number past the last copy the restore ends as usual.

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <csignal>
#include <cstdlib>

#include "conversion/ProductSettings.h"
#include "conversion/Restore.h"
#include "support/ScriptedPlatform.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 6) {
        return 2;
    }
    ScriptedPlatform platform;
    platform.runsFolder = QFile::decodeName(argv[1]);
    platform.SetSetting(kSourceApp, kSection, kKey, QFile::decodeName(argv[3]));
    platform.SetSetting(kDestApp, kSection, kKey, QFile::decodeName(argv[4]));
    const int killAt = std::atoi(argv[5]);
    int copies = 0;
    const RestoreResult result =
        RestoreRun(platform, QFile::decodeName(argv[2]), QDateTime::currentDateTime(),
                   [&](const QString&, const QString&) {
                       if (++copies == killAt) {
                           std::raise(SIGKILL);
                       }
                   });
    return result.outcome == RestoreResult::Outcome::Restored ? 0 : 1;
}
