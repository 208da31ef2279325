#include "conversion/Restore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <QStringList>
#include <algorithm>
#include <exception>
#include <functional>
#include <optional>
#include <utility>

#include "conversion/OpenClose.h"
#include "conversion/ProductSettings.h"
#include "conversion/RunFolder.h"
#include "data/Error.h"
#include "data/FileCopy.h"

namespace {

QString Native(const QString& path) {
    return QDir::toNativeSeparators(path);
}

// One file of the run, as the restore works on it.
struct Step {
    const BackedUpFile* file = nullptr;
    QString backup;  // <run>/<product>/dbbasic.mdb
    QString target;  // the product's database, as run.json names it
    bool targetExisted = false;
    QString saved;          // the target's copy in before-restore, once made
    QByteArray savedHash;   // its SHA-256
    RowCounts savedCounts;  // its rows, by the tables the run changed
    bool written = false;   // the backup may have been copied over the target
    // An SQLite target, opened alone for the whole restore: the backup goes back through this
    // connection, so that its journal or write-ahead log and other programs are respected.
    dao::DatabaseHandle db;
    RestoredFile result;
};

// The target's rows, counted on the restore's own connection.
std::optional<QString> WrongCounts(dao::DatabaseHandle& db, const RowCounts& expected) {
    try {
        for (const auto& [table, rows] : expected) {
            const int64_t now = TableRowCount(db, table);
            if (now != rows) {
                return QStringLiteral("'%1' 테이블의 행 수가 다릅니다: 원본 %2건, 복사본 %3건")
                    .arg(table, QString::number(rows), QString::number(now));
            }
        }
    } catch (...) {
        return ErrorText(DescribeError(std::current_exception()));
    }
    return std::nullopt;
}

QString SettingsApp(const QString& product) {
    return product == kSourceProduct ? kSourceApp : kDestApp;
}

QString BackupPath(const QString& runFolder, const BackedUpFile& file) {
    return QDir(runFolder).filePath(file.RelativeBackupPath());
}

bool BackupPresent(const QString& backup) {
    return QFileInfo(backup).isFile();
}

// The backup itself: there, and as sound as when the run made it.
QString CheckBackup(const Step& step) {
    if (!BackupPresent(step.backup)) {
        return QStringLiteral("백업 파일이 없습니다.") + kCrLf + Native(step.backup);
    }
    // Another shop's database with the same row counts would pass every other check.
    if (FilesSha256({step.backup}).front() != step.file->backupSha256) {
        return QStringLiteral(
                   "백업 파일이 작업이 만든 백업과 다릅니다 (SHA-256이 %1에 기록된 값과 "
                   "다릅니다).")
                   .arg(kRunManifestName) +
               kCrLf + Native(step.backup);
    }
    if (const std::optional<QString> wrong =
            VerifyDatabaseCopy(step.backup, step.file->rowCounts)) {
        return QStringLiteral("백업 파일을 확인하지 못했습니다: ") + *wrong + kCrLf +
               Native(step.backup);
    }
    return {};
}

// The product must still keep its database where the run found it: copying the backup over
// whatever file the setting names now would put one shop's data into another installation.
QString CheckSetting(Platform& platform, const Step& step) {
    const QString& product = step.file->product;
    const SettingRead setting = platform.ReadSetting(SettingsApp(product), kSection, kKey);
    const QString store = setting.store.isEmpty() ? QString() : kCrLf + setting.store;
    switch (setting.status) {
        case SettingRead::Status::Found:
        case SettingRead::Status::NotSet:
            break;
        case SettingRead::Status::Unreadable:
            return QStringLiteral("%1의 설정 파일을 읽을 수 없습니다.").arg(product) + store;
        case SettingRead::Status::NotText:
            return QStringLiteral("%1의 데이터베이스 폴더 설정이 폴더 이름이 아닙니다.")
                       .arg(product) +
                   store;
    }
    if (FolderUnset(setting.value)) {
        return QStringLiteral("%1의 데이터베이스 폴더가 설정되어 있지 않습니다.").arg(product);
    }
    const QString named = DatabaseFile(setting.value);
    if (!SameFile(named, step.target)) {
        return QStringLiteral(
                   "%1의 데이터베이스 폴더 설정이 백업한 파일이 아닌 다른 파일을 "
                   "가리킵니다.")
                   .arg(product) +
               kCrLf + QStringLiteral("설정된 파일: ") + Native(named) + kCrLf +
               QStringLiteral("백업한 파일: ") + Native(step.target);
    }
    return {};
}

// The same check as at a run's open: a product that still runs holds its file locked for
// writing, and replacing the file under it would lose what it saves next. A damaged or empty
// file is no reason to refuse: that is what a restore mends.
QString CheckTarget(Step& step) {
    const QFileInfo target(step.target);
    if (!target.exists()) {
        if (!QFileInfo(target.absolutePath()).isDir()) {
            return QStringLiteral("데이터베이스 폴더가 없습니다.") + kCrLf +
                   Native(target.absolutePath());
        }
        return {};  // a deleted database is restored into its folder
    }
    try {
        // Alone: a program that uses the file now is refused here. An SQLite file is held so
        // until the restore ends, and none can start using it meanwhile; an Access file is
        // checked so, then copied over.
        dao::DatabaseHandle db(ProcessEngine().OpenDatabase(step.target, dao::dbExclusive));
        if (db->CanRestoreFrom()) {
            step.db = std::move(db);
        } else {
            CloseObject(db);
        }
    } catch (const dao::Error& e) {
        switch (e.Kind()) {
            case dao::ErrorKind::DamagedFile:
            case dao::ErrorKind::EmptyFile:
            case dao::ErrorKind::UnknownFormat:
                return {};
            default:
                break;
        }
        const ErrorInfo error{e.Number(), e.Description(), 0};
        if (dao::IsInUseNumber(e.Number())) {
            return QStringLiteral("다른 프로그램이 파일을 쓰고 있습니다: ") + ErrorText(error) +
                   kCrLf + QStringLiteral("Dorvik과 SolvanePlus 프로그램을 닫고 다시 복원하세요.");
        }
        return QStringLiteral("파일을 열 수 없습니다: ") + ErrorText(error);
    } catch (...) {
        return QStringLiteral("파일을 열 수 없습니다: ") +
               ErrorText(DescribeError(std::current_exception()));
    }
    return {};
}

// Runs one copy, after `before` (which may fail it); empty on success, else the failure as the
// messages quote it.
QString TryCopy(const RestoreCopy& before, const QString& from, const QString& to,
                const std::function<void()>& copy) {
    try {
        if (before) {
            before(from, to);
        }
        copy();
    } catch (...) {
        return ErrorText(DescribeError(std::current_exception()));
    }
    return {};
}

// A byte copy, for a target that no connection holds (missing, damaged, or not SQLite).
std::function<void()> ByteCopy(const QString& from, const QString& to) {
    return [from, to] { dao::CopyFileBytes(from, to); };
}

// Saves the target into before-restore and restores the backup over it.
QString RestoreOne(const RestoreCopy& before, const QString& saveFolder, Step& step,
                   const std::function<void(const Step&, const QString&)>& note) {
    if (step.targetExisted) {
        const QString folder = QDir(saveFolder).filePath(step.file->product);
        step.saved = QDir(folder).filePath(kDbFileName);
        if (!QDir().mkpath(folder)) {
            return QStringLiteral("복원 전 파일을 보관할 폴더를 만들 수 없습니다.") + kCrLf +
                   Native(folder);
        }
        MakePrivate(folder);
        if (step.db) {
            try {
                for (const auto& [table, rows] : step.file->rowCounts) {
                    step.savedCounts[table] = TableRowCount(step.db, table);
                }
            } catch (...) {
                return QStringLiteral("복원 전 파일을 보관하지 못했습니다: ") +
                       ErrorText(DescribeError(std::current_exception()));
            }
        }
        // Through the held connection, the copy holds what the database holds, its
        // write-ahead log included; a file nothing holds is copied as it is.
        const std::function<void()> save =
            step.db ? std::function<void()>([&step] { step.db->BackupTo(step.saved); })
                    : ByteCopy(step.target, step.saved);
        if (const QString failed = TryCopy(before, step.target, step.saved, save);
            !failed.isEmpty()) {
            return QStringLiteral("복원 전 파일을 보관하지 못했습니다: ") + failed;
        }
        MakePrivate(step.saved);
        step.savedHash = FileSha256(step.saved);
        const bool same = step.db ? !WrongCounts(step.db, step.savedCounts).has_value() &&
                                        !VerifyDatabaseCopy(step.saved, step.savedCounts)
                                  : step.savedHash == FileSha256(step.target);
        if (step.savedHash.isEmpty() || !same) {
            return QStringLiteral("복원 전 파일을 보관했지만 원래 파일과 같지 않습니다.") + kCrLf +
                   Native(step.saved);
        }
        step.result.savedCopy = Native(step.saved);
    }
    note(step, kRestoreStateRestoring);
    step.written = true;
    const std::function<void()> put =
        step.db ? std::function<void()>([&step] { step.db->RestoreFrom(step.backup); })
                : ByteCopy(step.backup, step.target);
    if (const QString failed = TryCopy(before, step.backup, step.target, put); !failed.isEmpty()) {
        // Through the connection nothing of a failed copy stays.
        step.written = !step.db;
        return QStringLiteral("백업 파일을 복사하지 못했습니다: ") + failed;
    }
    const std::optional<QString> wrong =
        step.db ? WrongCounts(step.db, step.file->rowCounts)
                : VerifyDatabaseCopy(step.target, step.file->rowCounts);
    if (wrong) {
        return QStringLiteral("복원한 파일을 확인하지 못했습니다: ") + *wrong;
    }
    step.result.state = RestoredFile::State::Restored;
    note(step, kRestoreStateRestored);
    return {};
}

// Makes the target what it was before the restore; empty on success, else why not.
QString PutBack(const RestoreCopy& before, Step& step) {
    if (!step.written) {
        return {};
    }
    if (step.db) {
        // The saved copy goes back through the same connection, and its rows are counted.
        if (const QString failed = TryCopy(before, step.saved, step.target,
                                           [&step] { step.db->RestoreFrom(step.saved); });
            !failed.isEmpty()) {
            step.result.state = RestoredFile::State::Unknown;
            return QStringLiteral("복원 전 파일을 되돌려 놓지 못했습니다: ") + failed;
        }
        if (WrongCounts(step.db, step.savedCounts)) {
            step.result.state = RestoredFile::State::Unknown;
            return QStringLiteral("되돌려 놓은 파일이 복원 전 파일과 같지 않습니다.");
        }
        step.result.state = RestoredFile::State::PutBack;
        return {};
    }
    if (!step.targetExisted) {
        if (QFileInfo::exists(step.target) && !QFile::remove(step.target)) {
            step.result.state = RestoredFile::State::Unknown;
            return QStringLiteral("복원한 파일을 지우지 못했습니다.");
        }
        step.result.state = RestoredFile::State::PutBack;
        return {};
    }
    // A copy that failed left the target as it was; only a changed file is copied back.
    if (FileSha256(step.target) == step.savedHash) {
        step.result.state = RestoredFile::State::Untouched;
        return {};
    }
    if (const QString failed =
            TryCopy(before, step.saved, step.target, ByteCopy(step.saved, step.target));
        !failed.isEmpty()) {
        step.result.state = RestoredFile::State::Unknown;
        return QStringLiteral("복원 전 파일을 되돌려 놓지 못했습니다: ") + failed;
    }
    if (FileSha256(step.target) != step.savedHash) {
        step.result.state = RestoredFile::State::Unknown;
        return QStringLiteral("되돌려 놓은 파일이 복원 전 파일과 같지 않습니다.");
    }
    step.result.state = RestoredFile::State::PutBack;
    return {};
}

QString FileLine(const Step& step) {
    return step.file->product + QStringLiteral(": ") + Native(step.target);
}

QString StateText(RestoredFile::State state) {
    switch (state) {
        case RestoredFile::State::Untouched:
            return QStringLiteral("바꾸지 않음");
        case RestoredFile::State::Restored:
            return QStringLiteral("백업으로 복원됨");
        case RestoredFile::State::PutBack:
            return QStringLiteral("복원 전 상태로 되돌림");
        case RestoredFile::State::Unknown:
            break;
    }
    return QStringLiteral("상태를 알 수 없음");
}

RestoreResult Refused(const QStringList& reasons, const std::vector<Step>& steps) {
    RestoreResult result;
    result.outcome = RestoreResult::Outcome::Refused;
    result.icon = vbExclamation;
    for (const Step& step : steps) {
        result.files.push_back(step.result);
    }
    result.message = QStringLiteral("복원하지 않았습니다.") + kCrLf + kCrLf +
                     reasons.join(kCrLf + kCrLf) + kCrLf + kCrLf +
                     QStringLiteral("아무 파일도 바꾸지 않았습니다.");
    return result;
}

std::vector<Step> StepsOf(const QString& runFolder, const std::vector<BackedUpFile>& files) {
    std::vector<Step> steps;
    for (const BackedUpFile& file : files) {
        Step step;
        step.file = &file;
        step.backup = BackupPath(runFolder, file);
        step.target = QDir::cleanPath(file.originalPath);
        step.targetExisted = QFileInfo::exists(step.target);
        step.result.product = file.product;
        step.result.target = Native(step.target);
        steps.push_back(std::move(step));
    }
    return steps;
}

// Every check of every file, each reason once with the file it concerns; empty when all pass.
QStringList CheckAll(Platform& platform, std::vector<Step>& steps) {
    QStringList reasons;
    const auto add = [&reasons](const Step& step, const QString& why) {
        if (!why.isEmpty()) {
            reasons << FileLine(step) + kCrLf + why;
        }
    };
    for (const Step& step : steps) {
        add(step, CheckBackup(step));
        add(step, CheckSetting(platform, step));
    }
    // A file is opened only once the settings say it is the product's.
    if (reasons.isEmpty()) {
        for (Step& step : steps) {
            add(step, CheckTarget(step));
        }
    }
    return reasons;
}

RestoreResult Restored(const std::vector<Step>& steps, const QString& saveFolder) {
    RestoreResult result;
    result.outcome = RestoreResult::Outcome::Restored;
    result.icon = vbInformation;
    QStringList lines{
        QStringLiteral("복원이 끝났습니다. 다음 파일을 백업한 때의 자료로 "
                       "되돌렸습니다.")};
    for (const Step& step : steps) {
        lines << FileLine(step);
        result.files.push_back(step.result);
    }
    lines << QString() << QStringLiteral("복원 전의 파일은 다음 폴더에 보관했습니다.")
          << Native(saveFolder);
    result.message = lines.join(kCrLf);
    return result;
}

RestoreResult RolledBack(const std::vector<Step>& steps, size_t failedAt, const QString& cause) {
    RestoreResult result;
    result.outcome = RestoreResult::Outcome::RolledBack;
    result.icon = vbExclamation;
    QStringList lines{QStringLiteral("복원하지 못했습니다."), QString(), cause};
    if (failedAt > 0) {
        lines << QString() << QStringLiteral("먼저 복원한 파일을 복원 전 상태로 되돌렸습니다.");
        for (size_t i = 0; i < failedAt; ++i) {
            lines << FileLine(steps[i]);
        }
    }
    lines << QString() << QStringLiteral("모든 파일이 복원 전 그대로입니다.");
    for (const Step& step : steps) {
        result.files.push_back(step.result);
    }
    result.message = lines.join(kCrLf);
    return result;
}

RestoreResult Damaged(const std::vector<Step>& steps, const QString& cause,
                      const QStringList& putBackFailures) {
    RestoreResult result;
    result.outcome = RestoreResult::Outcome::Damaged;
    result.icon = vbCritical;
    QStringList lines{QStringLiteral("복원하지 못했고, 파일을 복원 전 상태로 되돌리지도 "
                                     "못했습니다."),
                      QString(), cause};
    for (const QString& failed : putBackFailures) {
        lines << QString() << failed;
    }
    lines << QString() << QStringLiteral("파일마다 지금 상태는 다음과 같습니다.");
    for (const Step& step : steps) {
        result.files.push_back(step.result);
        lines << FileLine(step) + QStringLiteral(" (") + StateText(step.result.state) +
                     QLatin1Char(')');
        if (step.result.state == RestoredFile::State::Unknown) {
            if (!step.saved.isEmpty()) {
                lines << QStringLiteral("  복원 전 파일: ") + Native(step.saved);
            }
            lines << QStringLiteral("  백업 파일: ") + Native(step.backup);
        }
    }
    lines << QString()
          << QStringLiteral(
                 "Dorvik과 SolvanePlus 프로그램을 실행하지 말고, 위의 복원 전 파일이나 백업 "
                 "파일을 직접 제자리에 복사하세요.");
    result.message = lines.join(kCrLf);
    return result;
}

}  // namespace

bool IsSqliteFile(const QString& path) {
    QFile file(path);
    static const QByteArray magic("SQLite format 3\0", 16);
    return QFileInfo(path).isFile() && file.open(QIODevice::ReadOnly) &&
           file.read(magic.size()) == magic;
}

QStringList RunDescription::Products() const {
    QStringList products;
    for (const BackedUpFile& file : files) {
        products << file.product;
    }
    return products;
}

RunDescription DescribeRun(const QString& folder) {
    RunDescription run;
    run.folder = folder;
    run.bytes = FolderSize(folder);
    run.name = ParseRunFolderName(QFileInfo(folder).fileName()).value_or(RunFolderName{});
    if (std::optional<RunManifest> manifest = ReadManifest(folder);
        manifest && !manifest->files.empty()) {
        run.files = std::move(manifest->files);
        const bool complete = std::all_of(run.files.begin(), run.files.end(), [&](const auto& f) {
            return BackupPresent(BackupPath(folder, f));
        });
        run.blocker =
            complete ? RunDescription::Blocker::None : RunDescription::Blocker::BackupMissing;
        run.linked = LinkedPathIn(folder, RunManifest{{}, {}, run.files});
        if (!run.linked.isEmpty()) {
            run.blocker = RunDescription::Blocker::Linked;
        }
    }
    if (std::optional<QString> outcome = ReadReportOutcome(folder)) {
        run.report = RunDescription::Report::Outcome;
        run.outcome = std::move(*outcome);
    } else if (QFileInfo(QDir(folder).filePath(kReportName)).isFile()) {
        run.report = RunDescription::Report::NoOutcome;
    }
    return run;
}

QString RestoreConfirmation(const RunDescription& run) {
    QStringList files;
    for (const BackedUpFile& file : run.files) {
        files << file.product + QStringLiteral(": ") + Native(file.originalPath);
    }
    return QStringLiteral("%1에 실행한 작업 전의 백업으로 다음 파일을 되돌립니다.")
               .arg(run.name.Text()) +
           kCrLf + files.join(kCrLf) + kCrLf + kCrLf +
           QStringLiteral(
               "지금 파일의 자료는 백업한 때의 자료로 바뀝니다. 지금 파일은 백업 폴더에 "
               "따로 보관합니다.") +
           kCrLf +
           QStringLiteral("Dorvik 또는 SolvanePlus 프로그램이 열려 있을 경우 닫고 시작하세요.") +
           kCrLf + QStringLiteral("복원 하시겠습니까?");
}

namespace {

// The restore's intent, in the run folder, so that a restore that was killed is found and named
// at the next start.
class IntentRecord {
public:
    IntentRecord(const QString& runFolder, QString saveFolder, const std::vector<Step>& steps)
        : path_(QDir(runFolder).filePath(kRestoreIntentName)), saveFolder_(std::move(saveFolder)) {
        for (const Step& step : steps) {
            states_.push_back({step.file->product, Native(step.target), kRestoreStatePending});
        }
    }
    bool Write(bool done = false) {
        QJsonArray files;
        for (const auto& file : states_) {
            files.append(QJsonObject{{QStringLiteral("product"), file.product},
                                     {QStringLiteral("target"), file.target},
                                     {QStringLiteral("state"), file.state}});
        }
        const QJsonObject root{{QStringLiteral("saveFolder"), Native(saveFolder_)},
                               {QStringLiteral("done"), done},
                               {QStringLiteral("files"), files}};
        QSaveFile out(path_);
        const bool written = out.open(QIODevice::WriteOnly) &&
                             out.write(QJsonDocument(root).toJson()) >= 0 && out.commit();
        MakePrivate(path_);
        return written;
    }
    void Note(const Step& step, const QString& state) {
        for (auto& file : states_) {
            if (file.product == step.file->product) {
                file.state = state;
            }
        }
        Write();
    }

private:
    QString path_;
    QString saveFolder_;
    std::vector<UnfinishedRestore::File> states_;
};

std::optional<UnfinishedRestore> ReadIntent(const QString& runFolder);

// Puts an earlier restore's record back: a restore that finishes it and is rolled back leaves the
// files as that one left them, so it is still unfinished.
void RewriteIntent(const QString& runFolder, const QByteArray& bytes) {
    QSaveFile out(QDir(runFolder).filePath(kRestoreIntentName));
    if (out.open(QIODevice::WriteOnly) && out.write(bytes) >= 0) {
        out.commit();
    }
}

void Release(std::vector<Step>& steps) {
    for (Step& step : steps) {
        try {
            CloseObject(step.db);
        } catch (...) {
            // Nothing was pending on it; the file is released either way.
            step.db.Reset();
        }
    }
}

RestoreResult RestoreHeld(Platform& platform, const QString& runFolder, const QDateTime& now,
                          const RestoreCopy& before, std::vector<Step>& steps) {
    // A refusal leaves everything as it is, the before-restore folder included.
    if (const QStringList reasons = CheckAll(platform, steps); !reasons.isEmpty()) {
        return Refused(reasons, steps);
    }
    QString why;
    const std::optional<QString> saveFolder =
        CreateRunFolder(QDir(runFolder).filePath(kBeforeRestoreFolder), now, why);
    if (!saveFolder) {
        return Refused({why}, steps);
    }
    MakePrivate(QDir(runFolder).filePath(kBeforeRestoreFolder));
    const std::optional<QByteArray> earlier =
        ReadIntent(runFolder) ? ReadRunFile(QDir(runFolder).filePath(kRestoreIntentName))
                              : std::nullopt;
    IntentRecord intent(runFolder, *saveFolder, steps);
    if (!intent.Write()) {
        return Refused({QStringLiteral("복원 기록(%1)을 쓸 수 없습니다.").arg(kRestoreIntentName) +
                        kCrLf + Native(runFolder)},
                       steps);
    }
    const auto note = [&intent](const Step& step, const QString& state) {
        intent.Note(step, state);
    };

    for (size_t i = 0; i < steps.size(); ++i) {
        const QString failure = RestoreOne(before, *saveFolder, steps[i], note);
        if (failure.isEmpty()) {
            continue;
        }
        // Nothing is left half restored: the failed file and every one before it go back to
        // what they were, the last first.
        QStringList putBackFailures;
        for (size_t j = i + 1; j-- > 0;) {
            if (steps[j].written) {
                note(steps[j], kRestoreStatePuttingBack);
            }
            if (const QString failed = PutBack(before, steps[j]); !failed.isEmpty()) {
                putBackFailures << FileLine(steps[j]) + kCrLf + failed;
                note(steps[j], kRestoreStateUnknown);
            } else if (steps[j].written) {
                note(steps[j], kRestoreStatePutBack);
            }
        }
        if (earlier) {
            RewriteIntent(runFolder, *earlier);
        } else {
            intent.Write(true);
        }
        const QString cause = FileLine(steps[i]) + kCrLf + failure;
        return putBackFailures.isEmpty() ? RolledBack(steps, i, cause)
                                         : Damaged(steps, cause, putBackFailures);
    }
    intent.Write(true);
    return Restored(steps, *saveFolder);
}

}  // namespace

RestoreResult RestoreRun(Platform& platform, const QString& runFolder, const QDateTime& now,
                         const RestoreCopy& before) {
    // The rule the list of runs shows: without a usable run.json there is nothing to restore.
    // A missing backup is named below, with every other check's finding.
    const RunDescription run = DescribeRun(runFolder);
    if (run.blocker == RunDescription::Blocker::NoManifest) {
        return Refused({QStringLiteral("이 작업의 백업 정보(%1)가 없거나 손상되어 복원할 수 "
                                       "없습니다.")
                            .arg(kRunManifestName) +
                        kCrLf + Native(runFolder)},
                       {});
    }
    if (run.blocker == RunDescription::Blocker::Linked) {
        return Refused({run.linked + kCrLf + Native(runFolder)}, {});
    }
    std::vector<Step> steps = StepsOf(runFolder, run.files);
    RestoreResult result = RestoreHeld(platform, runFolder, now, before, steps);
    Release(steps);
    return result;
}

namespace {

std::optional<UnfinishedRestore> ReadIntent(const QString& runFolder) {
    const std::optional<QByteArray> bytes =
        ReadRunFile(QDir(runFolder).filePath(kRestoreIntentName));
    if (!bytes) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    const QJsonObject root = document.object();
    // A record that cannot be read says no less than one that says "not done".
    if (root.value(QStringLiteral("done")).toBool(false)) {
        return std::nullopt;
    }
    UnfinishedRestore restore;
    restore.runFolder = runFolder;
    restore.saveFolder = root.value(QStringLiteral("saveFolder")).toString();
    for (const QJsonValue value : root.value(QStringLiteral("files")).toArray()) {
        const QJsonObject file = value.toObject();
        restore.files.push_back({file.value(QStringLiteral("product")).toString(),
                                 file.value(QStringLiteral("target")).toString(),
                                 file.value(QStringLiteral("state")).toString()});
    }
    return restore;
}

QString IntentStateText(const QString& state) {
    if (state == kRestoreStatePending) {
        return QStringLiteral("바꾸지 않음");
    }
    if (state == kRestoreStateRestoring) {
        return QStringLiteral("복원하는 중에 멈춤: 백업 또는 복원 전 자료 중 하나");
    }
    if (state == kRestoreStateRestored) {
        return QStringLiteral("백업으로 복원됨");
    }
    if (state == kRestoreStatePuttingBack) {
        return QStringLiteral("복원 전 상태로 되돌리는 중에 멈춤: 백업 또는 복원 전 자료 중 하나");
    }
    if (state == kRestoreStatePutBack) {
        return QStringLiteral("복원 전 상태로 되돌림");
    }
    return QStringLiteral("상태를 알 수 없음");
}

// Ends a killed run's report with what became of it, so that it is named once and the list of
// runs shows it.
void NoteKilled(const QString& runFolder) {
    QFile report(QDir(runFolder).filePath(kReportName));
    if (report.open(QIODevice::WriteOnly | QIODevice::Append)) {
        report.write((QStringLiteral("\n") + kOutcomePrefix +
                      QStringLiteral("중단됨 (작업 중에 프로그램이 끝났습니다)\n"))
                         .toUtf8());
    }
}

}  // namespace

std::vector<UnfinishedRestore> FindUnfinishedRestores(const QString& runsRoot) {
    std::vector<UnfinishedRestore> found;
    for (const QString& folder : ListRunFolders(runsRoot)) {
        if (std::optional<UnfinishedRestore> restore = ReadIntent(folder)) {
            found.push_back(std::move(*restore));
        } else if (QFileInfo(QDir(folder).filePath(kRestoreIntentName)).exists() &&
                   !ReadRunFile(QDir(folder).filePath(kRestoreIntentName))) {
            // Not a regular file, or too large to be one the restore wrote.
            found.push_back({folder, {}, {}});
        }
    }
    return found;
}

QString UnfinishedRestoreMessage(const UnfinishedRestore& restore) {
    QStringList lines{QStringLiteral("끝나지 않은 복원이 있습니다. 복원하는 중에 프로그램이 "
                                     "끝났습니다."),
                      QStringLiteral("작업 폴더: ") + Native(restore.runFolder), QString(),
                      QStringLiteral("파일마다 기록된 상태는 다음과 같습니다.")};
    for (const UnfinishedRestore::File& file : restore.files) {
        lines << file.product + QStringLiteral(": ") + file.target + QStringLiteral(" (") +
                     IntentStateText(file.state) + QLatin1Char(')');
    }
    if (!restore.saveFolder.isEmpty()) {
        lines << QString() << QStringLiteral("복원 전 파일: ") + restore.saveFolder;
    }
    lines << QString()
          << QStringLiteral("Dorvik 또는 SolvanePlus 프로그램이 열려 있을 경우 닫고 시작하세요.")
          << QStringLiteral(
                 "지금 복원을 마치시겠습니까? (모든 파일을 백업한 때의 자료로 "
                 "되돌립니다.)");
    return lines.join(kCrLf);
}

QStringList FindKilledRuns(const QString& runsRoot) {
    QStringList killed;
    for (const QString& folder : ListRunFolders(runsRoot)) {
        const QString lockPath = QDir(folder).filePath(kRunLockName);
        if (!QFileInfo::exists(lockPath) ||
            !QFileInfo(QDir(folder).filePath(kReportName)).isFile() || ReadReportOutcome(folder)) {
            continue;
        }
        // The lock of a process that is gone is stale and taken; a running one's is not.
        QLockFile lock(lockPath);
        lock.setStaleLockTime(0);
        if (lock.tryLock(0)) {
            killed << folder;
        }
    }
    return killed;
}

bool CheckUnfinished(Platform& platform, bool killedRuns, const std::function<QDateTime()>& clock,
                     const RestoreCopy& before) {
    const QString root = platform.RunsFolder();
    bool finished = true;
    for (const UnfinishedRestore& restore : FindUnfinishedRestores(root)) {
        if (platform.MsgBox(UnfinishedRestoreMessage(restore),
                            vbYesNo + vbExclamation + vbDefaultButton2) != vbYes) {
            finished = false;
            continue;
        }
        const RestoreResult result = RestoreRun(platform, restore.runFolder, clock(), before);
        platform.MsgBox(result.message, vbOKOnly + result.icon);
        finished = finished && result.outcome == RestoreResult::Outcome::Restored;
    }
    if (!killedRuns) {
        return finished;
    }
    for (const QString& folder : FindKilledRuns(root)) {
        const RunDescription run = DescribeRun(folder);
        QString prompt = QStringLiteral(
                             "지난 작업이 끝나지 않았습니다. 작업하는 중에 프로그램이 "
                             "끝났습니다.") +
                         kCrLf + QStringLiteral("작업 폴더: ") + Native(folder);
        if (run.Restorable()) {
            prompt += kCrLf + kCrLf + RestoreConfirmation(run);
        }
        const int buttons = run.Restorable() ? vbYesNo + vbExclamation + vbDefaultButton2
                                             : vbOKOnly + vbExclamation;
        const int answer = platform.MsgBox(prompt, buttons);
        NoteKilled(folder);
        QFile::remove(QDir(folder).filePath(kRunLockName));
        if (run.Restorable() && answer == vbYes) {
            const RestoreResult result = RestoreRun(platform, folder, clock(), before);
            platform.MsgBox(result.message, vbOKOnly + result.icon);
        }
    }
    return finished;
}
