#pragma once

// The record a run leaves in its run folder: the verified backup of every file it is about to
// change, taken before the first change, and report.txt, written line by line as the run goes so
// that a run that stops or is killed still leaves what it had. The failed rows go to
// failed-rows.csv beside it.

#include <QDateTime>
#include <QFile>
#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "conversion/FailedRowsCsv.h"
#include "conversion/Platform.h"
#include "conversion/RunFolder.h"
#include "conversion/RunJournal.h"
#include "data/Engine.h"

// One database the run is about to change, and the tables in it that the run changes.
struct FileToBackUp {
    QString product;  // kSourceProduct or kDestProduct
    dao::DatabaseHandle* db;
    QStringList tables;
};

// The line under a rehearsal report's heading.
inline const QString kRehearsalReportMark =
    QStringLiteral("미리 해보기: 실제 파일은 바꾸지 않고 복사본으로 해 본 작업입니다.");

// The free space the backup needs beyond the files' own sizes: the copy's journal and the
// report, with room to spare.
inline constexpr qint64 kBackupMargin = qint64{16} * 1024 * 1024;

class RunRecord : public RunJournal {
public:
    // What a backup that could not be made says: the run folder it meant to use and why.
    struct Failure {
        QString folder;
        QString cause;
    };

    // What tests put in place of the file system: how free space is measured (bytes available at
    // a path; -1 unknown), and a step between a backup's copy and its verification (to damage
    // it). Empty, the file system is asked and nothing happens between.
    struct Seams {
        std::function<qint64(const QString&)> freeSpace{};
        std::function<void(const QString&)> beforeVerify{};
    };

    explicit RunRecord(AppVersion version);
    RunRecord(AppVersion version, Seams seams);
    ~RunRecord() override;
    RunRecord(const RunRecord&) = delete;
    RunRecord& operator=(const RunRecord&) = delete;

    // Creates the run folder under `runsRoot`, copies each file into it and verifies every copy,
    // then starts the report. On failure nothing of the run folder is left and the caller must not
    // change anything.
    std::optional<Failure> BackUp(const QString& runsRoot, const std::vector<FileToBackUp>& files);

    // The tables a copy will list failed rows of, with their source columns, for the header of
    // failed-rows.csv.
    void SetCopiedTables(std::vector<std::pair<QString, QStringList>> tables);

    const QString& Folder() const { return folder_; }

    // A rehearsal's record: its folder is "<stamp>-rehearsal", its copies are the files the run
    // will work on rather than a backup, it writes no run.json (there is nothing to restore) and
    // its report says at its top that the real files were not changed. Set before BackUp.
    void SetRehearsal(bool rehearsal) { rehearsal_ = rehearsal; }
    // The files as BackUp found them: paths, sizes, SHA-256 and the copies' places.
    const RunManifest& Manifest() const { return manifest_; }
    // The SHA-256 of each file of Manifest() as Finish found it; empty before Finish.
    const std::vector<QByteArray>& HashesAfter() const { return hashesAfter_; }

    // The run's end: each file's size and SHA-256 after the run, the outcome, and the whole log.
    void Finish(const QString& outcome, const QString& logText);

    // Why failed-rows.csv could not be written, with its path; empty when it could.
    QString FailedRowsProblem() const;
    // Records tables the run did not mean to change whose row counts changed.
    void OtherTablesChanged(const QStringList& changes);

    // RunJournal
    void StatementExecuted(const QString& product, const QString& sql, int64_t rows,
                           std::chrono::milliseconds elapsed) override;
    void RowFailed(const QString& tableName, int64_t position, const ErrorInfo& error,
                   const QStringList& columns, const std::vector<dao::Value>& values) override;
    void TableCopied(const TableCopyCounts& counts) override;
    QString FailedRowsPath() const override;

    // Another journal that is told everything this one is told (tests watch a run through it).
    void AlsoTell(RunJournal* observer) { observer_ = observer; }

private:
    // The steps of BackUp, each returning why the run must not start, or nothing.
    std::optional<QString> FreeSpaceProblem(const std::vector<FileToBackUp>& files) const;
    std::optional<QString> CopyAll(const std::vector<FileToBackUp>& files);
    std::optional<QString> CopyAndVerify(const FileToBackUp& file, BackedUpFile& record);
    std::optional<QString> StartRecording();
    void StartReport();
    void Line(const QString& text);
    void FileLines(const QString& title, bool after);
    void OpenFailedRows();

    AppVersion version_;
    Seams seams_;
    QDateTime started_;
    QString folder_;
    RunManifest manifest_;
    QFile report_;
    // Held from the backup to the report's end: a run folder whose report has no outcome and whose
    // lock no living process holds is a run that was killed.
    std::unique_ptr<QLockFile> lock_;
    std::unique_ptr<FailedRowsCsv> failedRows_;
    std::vector<std::pair<QString, QStringList>> copiedTables_;
    QStringList otherTablesChanged_;
    // Each file's product and what its database says of itself (Database::Describe).
    std::vector<std::pair<QString, QStringList>> described_;
    RunJournal* observer_ = nullptr;
    bool rehearsal_ = false;
    std::vector<QByteArray> hashesAfter_;
};
