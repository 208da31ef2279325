// One whole run of the Start command in a process of its own, for the test that kills a run in the
// middle of a copy. The user ticks both tables, types the password and answers yes.
//
//   crash_child <source folder> <destination folder> <rows per commit> <commit> <marker> [rehearse]
//
// Saved rows are committed every <rows per commit> rows. When the destination's <commit>th commit
// begins, the process creates the file <marker> and goes on, so that the test can kill it while it
// copies; with "-" for <marker> it stops itself (SIGSTOP) there instead, to be killed at that very
// point. With "rehearse" it rehearses instead: no password, no confirmation, copies only.

#include <sqlite3.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <cstdlib>

#include "conversion/Conversion.h"
#include "data/EngineOptions.h"
#include "support/FakeForm.h"
#include "support/ScriptedPlatform.h"

namespace {

QString g_watched;  // canonical path
int g_commit = 0;
QByteArray g_marker;
int g_commits = 0;

int CountCommit(void*) {
    if (++g_commits == g_commit) {
        if (g_marker == "-") {
            std::raise(SIGSTOP);
        } else {
            QFile(QFile::decodeName(g_marker)).open(QIODevice::WriteOnly);
        }
    }
    return 0;
}

// Called by SQLite for every connection this process opens.
int WatchCommits(sqlite3* db, const char**, const sqlite3_api_routines*) {
    const char* file = sqlite3_db_filename(db, "main");
    if (file != nullptr && QFileInfo(QString::fromUtf8(file)).canonicalFilePath() == g_watched) {
        sqlite3_commit_hook(db, CountCommit, nullptr);
    }
    return SQLITE_OK;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 6 && argc != 7) {
        return 2;
    }
    const QString source = QFile::decodeName(argv[1]);
    const QString dest = QFile::decodeName(argv[2]);
    dao::EngineOptions options;
    options.batches = {std::atoll(argv[3]), std::chrono::minutes(10)};
    const dao::EngineOptionsScope batches(options);
    g_commit = std::atoi(argv[4]);
    g_marker = argv[5];
    g_watched = QFileInfo(dest + QStringLiteral("/dbbasic.mdb")).canonicalFilePath();
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&WatchCommits));

    ScriptedPlatform platform;
    // The run folder goes beside the two database folders, in the test's scratch folder.
    platform.runsFolder = QFileInfo(dest).absolutePath() + QStringLiteral("/runs");
    platform.SetSetting(QStringLiteral("세금계산서"), QStringLiteral("환경설정"),
                        QStringLiteral("db경로"), source);
    platform.SetSetting(QStringLiteral("Solvane2"), QStringLiteral("환경설정"),
                        QStringLiteral("db경로"), dest);
    const bool rehearse = argc == 7 && qstrcmp(argv[6], "rehearse") == 0;
    if (!rehearse) {
        platform.inputAnswers.push_back(kRunPassword);
        platform.msgBoxAnswers.push_back(vbYes);
    }
    FakeForm form;
    form.check = {1, 1};
    Conversion conversion(platform, form, form, form);
    conversion.SetRehearsal(rehearse);
    conversion.Command1_Click();
    return conversion.LastRunHadErrors() ? 1 : 0;
}
