#pragma once

// The run folder: what a run leaves behind so that it can be undone and accounted for.
//
//   <runs>/<YYYYMMDD-HHMMSS>[-N]/
//       run.json             where each backed-up file came from (its path as the system writes
//                            it), with its size, SHA-256 and the row counts of the tables the
//                            run changes, as backed up
//       Dorvik/dbbasic.mdb   the source as it was before the run (when products were copied)
//       SolvanePlus/dbbasic.mdb
//       report.txt           the run's report, written as the run goes
//       failed-rows.csv      the source rows that a table copy did not save, when there are any
//       before-restore/...   the files as they were before a restore put the backup back
//       restore.json         the last restore's intent and each file's state, "done" at its end
//       run.lock             held by the run while it goes (QLockFile: the process's id)
//
// A restore is a plain copy of <product>/dbbasic.mdb back to the path run.json names.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <future>
#include <map>
#include <optional>
#include <vector>

#include "data/Engine.h"

inline const QString kRunManifestName = QStringLiteral("run.json");
inline const QString kReportName = QStringLiteral("report.txt");
inline const QString kFailedRowsName = QStringLiteral("failed-rows.csv");
inline const QString kBeforeRestoreFolder = QStringLiteral("before-restore");
// A restore's intent: each file's state, until it is marked done.
inline const QString kRestoreIntentName = QStringLiteral("restore.json");
// Held by a run while it goes.
inline const QString kRunLockName = QStringLiteral("run.lock");
inline const QString kSourceProduct = QStringLiteral("Dorvik");
inline const QString kDestProduct = QStringLiteral("SolvanePlus");
// The line of report.txt that holds the run's outcome: this prefix, then the outcome's words.
inline const QString kOutcomePrefix = QStringLiteral("결과: ");

// Row counts by table name (lower case, as the recipes name the tables).
using RowCounts = std::map<QString, int64_t>;

// One file the run backed up.
struct BackedUpFile {
    QString product;       // kSourceProduct or kDestProduct: also the subfolder's name
    QString originalPath;  // the product's database file, absolute, with '/' separators (run.json
                           // holds it with the system's own)
    qint64 size = 0;       // bytes, before the run
    QByteArray sha256;     // hex, before the run
    QByteArray backupSha256;  // hex, of the backup as the run made it: a restore checks it first
    RowCounts rowCounts;      // the tables the run changes, as backed up
    // The backup's path inside the run folder: "<product>/dbbasic.mdb".
    QString RelativeBackupPath() const;
};

struct RunManifest {
    QDateTime started;  // local time
    QString version;    // the program's, "1.0.4"
    std::vector<BackedUpFile> files;
};

// What follows a rehearsal folder's stamp: "20261208-164918-rehearsal". A rehearsal changes
// nothing, so its folder holds nothing to restore and the restore window never lists it.
inline const QString kRehearsalSuffix = QStringLiteral("rehearsal");
// Whether a folder name (without its path) is a rehearsal's.
bool IsRehearsalFolder(const QString& name);

// Creates a new, empty run folder under `root` named after `now` ("20261208-164918"), with
// "-<kind>" after the stamp when `kind` is given; when that name is taken (two runs in the same
// second) "-2", "-3", ... follow. Creates `root` as needed. Returns the folder's absolute path,
// or nullopt with `why` set when it cannot be created.
std::optional<QString> CreateRunFolder(const QString& root, const QDateTime& now, QString& why,
                                       const QString& kind = {});

// What a run folder's name says: when its run started and which run of that second it was.
struct RunFolderName {
    QDateTime started;  // local time, to the second
    int number = 1;     // 1 for the first run of its second, then 2, 3, ...
    QString suffix;     // what follows "<stamp>-" as written ("2"); empty for the first run
    // "2026-12-08 16:49:18 (2)": the start and, after the first run of that second, its suffix.
    QString Text() const;
};
// The name of a run folder (without its path); nullopt when it does not start with a stamp. A
// suffix that is no number (a copy renamed by hand) counts as number 0.
std::optional<RunFolderName> ParseRunFolderName(const QString& name);

// Writes run.json into `folder` atomically; false with `why` set on failure.
bool WriteManifest(const QString& folder, const RunManifest& manifest, QString& why);
// Reads run.json; nullopt when it is missing, cannot be parsed, or is not what a run writes:
// a product other than the two or one named twice, a file without its row counts or its
// backup's SHA-256.
std::optional<RunManifest> ReadManifest(const QString& folder);

// What is wrong with the places a restore would read from and write into: each backup must be a
// regular file and its product's folder a folder, and a before-restore folder that exists a
// folder, none of them a link (which would lead the restore's reads or writes elsewhere). Empty
// when all are as a run leaves them.
QString LinkedPathIn(const QString& folder, const RunManifest& manifest);

// The most a file of a run folder that is read whole (run.json, report.txt) may hold.
inline constexpr qint64 kRunFileLimit = qint64{16} * 1024 * 1024;
// The bytes of a run folder's file, read only when it is a regular file (not a link, a pipe or a
// device) of at most `limit` bytes; nullopt otherwise.
std::optional<QByteArray> ReadRunFile(const QString& path, qint64 limit = kRunFileLimit);

// Makes a file or folder of the run folder readable by its owner only, whatever the umask: the
// files hold the business's data. Windows' per-user folder is private already.
void MakePrivate(const QString& path);

// The bytes the regular files under `folder` hold, links not followed.
qint64 FolderSize(const QString& folder);

// The run's outcome as report.txt states it (the words after kOutcomePrefix on its last such
// line); nullopt when the report is missing, unreadable, or has no outcome (a run that was
// killed before its end).
std::optional<QString> ReadReportOutcome(const QString& folder);

// The run folders under `root` (rehearsals left out), newest first: by the start time in their
// names, then by their number in that second ("-10" is newer than "-9").
QStringList ListRunFolders(const QString& root);

// Hex SHA-256 of a file's bytes; empty when it cannot be read.
QByteArray FileSha256(const QString& path);
// Hashes several files at once, each on a thread of its own, from its construction on, so that
// the caller can do other work meanwhile. Results() waits for them, calling the busy callback of
// the engine options in force on this thread (the window's painting) over and over, as the engine
// does during its own long work.
class FileHashing {
public:
    explicit FileHashing(const QStringList& paths);
    FileHashing(const FileHashing&) = delete;
    FileHashing& operator=(const FileHashing&) = delete;
    ~FileHashing();
    // FileSha256 of each path, in order; once only.
    std::vector<QByteArray> Results();

private:
    std::vector<std::future<QByteArray>> hashing_;
};
// The same, waited for at once.
std::vector<QByteArray> FilesSha256(const QStringList& paths);

// The rows a table holds now.
int64_t TableRowCount(dao::DatabaseHandle& db, const QString& table);

// Opens `path` through the engine (which, for SQLite, runs the quick check at open) and compares
// the row count of each table in `expected`; nullopt when the file is sound and every count
// matches, else what is wrong, in Korean.
std::optional<QString> VerifyDatabaseCopy(const QString& path, const RowCounts& expected);
