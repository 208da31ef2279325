#include "conversion/RunRecord.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTextStream>

#include "conversion/OpenClose.h"

namespace {

// The free bytes at `path`, or at the nearest folder above it that exists; -1 when unknown.
qint64 MeasureFreeSpace(const QString& path) {
    QFileInfo info(path);
    while (!info.exists() && !info.isRoot() && info.absolutePath() != info.absoluteFilePath()) {
        info = QFileInfo(info.absolutePath());
    }
    const QStorageInfo storage(info.absoluteFilePath());
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

QString Count(int64_t rows) {
    return rows < 0 ? QStringLiteral("알 수 없음") : QStringLiteral("%1건").arg(rows);
}

}  // namespace

RunRecord::RunRecord(AppVersion version) : RunRecord(version, Seams{}) {}

RunRecord::RunRecord(AppVersion version, Seams seams)
    : version_(version), seams_(std::move(seams)) {}

RunRecord::~RunRecord() = default;

void RunRecord::SetCopiedTables(std::vector<std::pair<QString, QStringList>> tables) {
    copiedTables_ = std::move(tables);
    // A rehearsal checks the tables on its copies, after its record has started.
    if (report_.isOpen()) {
        OpenFailedRows();
    }
}

void RunRecord::OpenFailedRows() {
    std::vector<FailedRowsTable> tables;
    for (const auto& [table, columns] : copiedTables_) {
        tables.push_back({table, columns});
    }
    failedRows_ = std::make_unique<FailedRowsCsv>(QDir(folder_).filePath(kFailedRowsName), tables);
}

std::optional<QString> RunRecord::CopyAndVerify(const FileToBackUp& file, BackedUpFile& record) {
    dao::DatabaseHandle& db = *file.db;
    record.product = file.product;
    record.originalPath = QFileInfo(db->Name()).absoluteFilePath();
    record.size = QFileInfo(record.originalPath).size();
    for (const QString& table : file.tables) {
        record.rowCounts[table] = TableRowCount(db, table);
    }
    const QString target = QDir(folder_).filePath(record.RelativeBackupPath());
    if (!QDir(folder_).mkpath(file.product)) {
        return QStringLiteral("폴더를 만들 수 없습니다: %1").arg(Native(QFileInfo(target).path()));
    }
    MakePrivate(QDir(folder_).filePath(file.product));
    db->BackupTo(target);
    MakePrivate(target);
    if (seams_.beforeVerify) {
        seams_.beforeVerify(target);
    }
    if (std::optional<QString> problem = VerifyDatabaseCopy(target, record.rowCounts)) {
        return QStringLiteral("%1 백업을 검증하지 못했습니다: %2").arg(file.product, *problem);
    }
    // A restore puts back only the very file verified here.
    record.backupSha256 = FilesSha256({target}).front();
    if (record.backupSha256.isEmpty()) {
        return QStringLiteral("%1 백업 파일의 SHA-256을 계산하지 못했습니다: %2")
            .arg(file.product, Native(target));
    }
    return std::nullopt;
}

std::optional<QString> RunRecord::FreeSpaceProblem(const std::vector<FileToBackUp>& files) const {
    qint64 needed = kBackupMargin;
    for (const FileToBackUp& file : files) {
        needed += QFileInfo((*file.db)->Name()).size();
    }
    const qint64 available =
        seams_.freeSpace ? seams_.freeSpace(folder_) : MeasureFreeSpace(folder_);
    if (available >= 0 && available < needed) {
        return QStringLiteral(
                   "디스크의 빈 공간이 부족합니다: 남은 공간 %1바이트, 필요한 공간 "
                   "%2바이트")
            .arg(available)
            .arg(needed);
    }
    return std::nullopt;
}

std::optional<QString> RunRecord::CopyAll(const std::vector<FileToBackUp>& files) {
    // The originals are hashed while they are copied and the copies verified.
    QStringList originals;
    for (const FileToBackUp& file : files) {
        // The hash is of the file's bytes: what a write-ahead log holds goes into them first.
        // A rehearsal writes nothing to the originals, not even that.
        if (!rehearsal_) {
            (*file.db)->Checkpoint();
        }
        originals << QFileInfo((*file.db)->Name()).absoluteFilePath();
    }
    FileHashing hashing(originals);
    std::optional<QString> cause;
    for (const FileToBackUp& file : files) {
        BackedUpFile record;
        try {
            cause = CopyAndVerify(file, record);
        } catch (...) {
            cause = ErrorText(DescribeError(std::current_exception()));
        }
        manifest_.files.push_back(std::move(record));
        if (cause) {
            break;
        }
    }
    const std::vector<QByteArray> hashes = hashing.Results();
    for (size_t i = 0; i < manifest_.files.size() && i < hashes.size(); ++i) {
        manifest_.files[i].sha256 = hashes[i];
    }
    return cause;
}

std::optional<QString> RunRecord::StartRecording() {
    QString why;
    if (!rehearsal_ && !WriteManifest(folder_, manifest_, why)) {
        return QStringLiteral("백업 정보를 쓸 수 없습니다: %1").arg(why);
    }
    StartReport();
    if (report_.error() != QFileDevice::NoError) {
        return QStringLiteral("보고서를 쓸 수 없습니다: %1").arg(report_.errorString());
    }
    OpenFailedRows();
    return std::nullopt;
}

std::optional<RunRecord::Failure> RunRecord::BackUp(const QString& runsRoot,
                                                    const std::vector<FileToBackUp>& files) {
    started_ = QDateTime::currentDateTime();
    QString why;
    const std::optional<QString> created =
        CreateRunFolder(runsRoot, started_, why, rehearsal_ ? kRehearsalSuffix : QString());
    if (!created) {
        return Failure{Native(runsRoot), why};
    }
    folder_ = *created;
    lock_ = std::make_unique<QLockFile>(QDir(folder_).filePath(kRunLockName));
    lock_->setStaleLockTime(0);
    lock_->tryLock(0);
    manifest_ = RunManifest{
        started_,
        QStringLiteral("%1.%2.%3").arg(version_.Major).arg(version_.Minor).arg(version_.Revision),
        {}};
    described_.clear();
    for (const FileToBackUp& file : files) {
        QStringList lines;
        try {
            lines = (*file.db)->Describe();
        } catch (...) {
            lines << QStringLiteral("알 수 없음: ") +
                         ErrorText(DescribeError(std::current_exception()));
        }
        described_.emplace_back(file.product, lines);
    }
    std::optional<QString> cause = FreeSpaceProblem(files);
    if (!cause) {
        cause = CopyAll(files);
    }
    if (!cause) {
        cause = StartRecording();
    }
    if (cause) {
        report_.close();
        lock_.reset();
        const QString folder = Native(folder_);
        QDir(folder_).removeRecursively();
        folder_.clear();
        return Failure{folder, *cause};
    }
    return std::nullopt;
}

void RunRecord::Line(const QString& text) {
    if (!report_.isOpen()) {
        return;
    }
    // Each line reaches the file at once, so a run that is killed leaves all it had written.
    report_.write((text + QStringLiteral("\n")).toUtf8());
    report_.flush();
}

void RunRecord::FileLines(const QString& title, bool after) {
    Line(title);
    QStringList paths;
    for (const BackedUpFile& file : manifest_.files) {
        paths << file.originalPath;
    }
    if (after) {
        hashesAfter_ = FilesSha256(paths);
    }
    const std::vector<QByteArray>& hashesAfter = hashesAfter_;
    for (size_t i = 0; i < manifest_.files.size(); ++i) {
        const BackedUpFile& file = manifest_.files[i];
        const QFileInfo info(file.originalPath);
        const qint64 size = after ? (info.exists() ? info.size() : -1) : file.size;
        const QByteArray sha = after ? hashesAfter[i] : file.sha256;
        Line(QStringLiteral("%1: %2").arg(file.product, Native(file.originalPath)));
        Line(QStringLiteral("  크기: %1")
                 .arg(size < 0 ? QStringLiteral("알 수 없음")
                               : QStringLiteral("%1바이트").arg(size)));
        Line(QStringLiteral("  SHA-256: %1")
                 .arg(sha.isEmpty() ? QStringLiteral("알 수 없음") : QString::fromLatin1(sha)));
    }
}

void RunRecord::StartReport() {
    report_.setFileName(QDir(folder_).filePath(kReportName));
    if (!report_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return;
    }
    MakePrivate(report_.fileName());
    Line(QStringLiteral("Dorvik → SolvanePlus 자료 복사 보고서"));
    if (rehearsal_) {
        Line(kRehearsalReportMark);
    }
    Line(QStringLiteral("날짜: %1").arg(started_.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))));
    Line(QStringLiteral("프로그램 버전: %1").arg(manifest_.version));
    Line(QStringLiteral("실행 폴더: %1").arg(Native(folder_)));
    Line(QString());
    FileLines(QStringLiteral("[작업 전 파일]"), false);
    Line(QString());
    // What served each file on this machine, so that a first real run tells support what the
    // driver really did.
    Line(QStringLiteral("[파일 형식과 드라이버]"));
    for (const auto& [product, lines] : described_) {
        Line(product + QLatin1Char(':'));
        for (const QString& line : lines) {
            Line(QStringLiteral("  ") + line);
        }
    }
    Line(QString());
    Line(rehearsal_ ? QStringLiteral("[미리 해보기 복사본] 검증됨 (파일 검사와 행 수)")
                    : QStringLiteral("[백업] 검증됨 (파일 검사와 행 수)"));

    for (const BackedUpFile& file : manifest_.files) {
        QStringList counts;
        for (const auto& [table, rows] : file.rowCounts) {
            counts << QStringLiteral("%1 %2").arg(table, Count(rows));
        }
        Line(QStringLiteral("%1: %2 (%3)")
                 .arg(file.product, Native(QDir(folder_).filePath(file.RelativeBackupPath())),
                      counts.join(QStringLiteral(", "))));
    }
    Line(QString());
    Line(QStringLiteral("[진행]"));
}

void RunRecord::StatementExecuted(const QString& product, const QString& sql, int64_t rows,
                                  std::chrono::milliseconds elapsed) {
    if (observer_ != nullptr) {
        observer_->StatementExecuted(product, sql, rows, elapsed);
    }
    Line(QStringLiteral("%1 %2: %3")
             .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), product, sql));
    Line(QStringLiteral("    %1, %2 ms")
             .arg(rows < 0 ? QStringLiteral("실패") : QStringLiteral("%1행 변경").arg(rows))
             .arg(elapsed.count()));
}

void RunRecord::RowFailed(const QString& tableName, int64_t position, const ErrorInfo& error,
                          const QStringList& columns, const std::vector<dao::Value>& values) {
    if (failedRows_) {
        failedRows_->Add(tableName, position, error, columns, values);
    }
    if (observer_ != nullptr) {
        observer_->RowFailed(tableName, position, error, columns, values);
    }
}

QString RunRecord::FailedRowsProblem() const {
    return failedRows_ ? failedRows_->Problem() : QString();
}

void RunRecord::OtherTablesChanged(const QStringList& changes) {
    otherTablesChanged_ = changes;
    Line(QStringLiteral("작업하지 않은 테이블의 행 수가 바뀌었습니다:"));
    for (const QString& change : changes) {
        Line(QStringLiteral("  ") + change);
    }
}

QString RunRecord::FailedRowsPath() const {
    return failedRows_ ? failedRows_->Path() : QString();
}

void RunRecord::TableCopied(const TableCopyCounts& counts) {
    if (observer_ != nullptr) {
        observer_->TableCopied(counts);
    }
    const bool agree = counts.Agree();
    Line(QStringLiteral(
             "%1 %2 복사: 원본 %3, 대상 이전 %4, 복사 %5, 실패 %6, 대상 이후 %7, 이후=복사: %8")
             .arg(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")), counts.tableName,
                  Count(counts.sourceRows), Count(counts.destBefore), Count(counts.copied),
                  Count(counts.failed), Count(counts.destAfter),
                  agree ? QStringLiteral("예") : QStringLiteral("아니요")));
}

void RunRecord::Finish(const QString& outcome, const QString& logText) {
    Line(QString());
    FileLines(QStringLiteral("[작업 후 파일]"), true);
    Line(QString());
    Line(kOutcomePrefix + outcome);
    if (failedRows_ && failedRows_->Rows() > 0) {
        Line(QStringLiteral("실패한 행: %1건, %2")
                 .arg(QString::number(failedRows_->Rows()), Native(failedRows_->Path())));
    }
    if (const QString problem = FailedRowsProblem(); !problem.isEmpty()) {
        Line(QStringLiteral("실패한 행 목록을 쓰지 못했습니다: ") + problem);
    }
    if (!otherTablesChanged_.isEmpty()) {
        Line(QStringLiteral("작업하지 않은 테이블의 행 수가 바뀌었습니다: ") +
             otherTablesChanged_.join(QStringLiteral(", ")));
    }
    Line(QString());
    Line(QStringLiteral("[작업 기록]"));
    QString log = logText;
    log.replace(kCrLf, QStringLiteral("\n"));
    if (log.endsWith(QLatin1Char('\n'))) {
        log.chop(1);
    }
    Line(log);
    report_.close();
    lock_.reset();
}
