#include "conversion/Restore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>
#include <exception>
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
    QString saved;         // the target's copy in before-restore, once made
    QByteArray savedHash;  // its SHA-256
    bool written = false;  // the backup may have been copied over the target
    RestoredFile result;
};

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
QString CheckTarget(const Step& step) {
    const QFileInfo target(step.target);
    if (!target.exists()) {
        if (!QFileInfo(target.absolutePath()).isDir()) {
            return QStringLiteral("데이터베이스 폴더가 없습니다.") + kCrLf +
                   Native(target.absolutePath());
        }
        return {};  // a deleted database is restored into its folder
    }
    try {
        // Alone, as a run opens it: an Access file that anyone else has open is refused.
        dao::DatabaseHandle db(ProcessEngine().OpenDatabase(step.target, dao::dbExclusive));
        CloseObject(db);
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

// Runs one copy; empty on success, else the failure as the messages quote it.
QString TryCopy(const RestoreCopy& copy, const QString& from, const QString& to) {
    try {
        copy(from, to);
    } catch (...) {
        return ErrorText(DescribeError(std::current_exception()));
    }
    return {};
}

// Saves the target into before-restore and restores the backup over it.
QString RestoreOne(const RestoreCopy& copy, const QString& saveFolder, Step& step) {
    if (step.targetExisted) {
        const QString folder = QDir(saveFolder).filePath(step.file->product);
        step.saved = QDir(folder).filePath(kDbFileName);
        if (!QDir().mkpath(folder)) {
            return QStringLiteral("복원 전 파일을 보관할 폴더를 만들 수 없습니다.") + kCrLf +
                   Native(folder);
        }
        if (const QString failed = TryCopy(copy, step.target, step.saved); !failed.isEmpty()) {
            return QStringLiteral("복원 전 파일을 보관하지 못했습니다: ") + failed;
        }
        step.savedHash = FileSha256(step.saved);
        if (step.savedHash.isEmpty() || step.savedHash != FileSha256(step.target)) {
            return QStringLiteral("복원 전 파일을 보관했지만 원래 파일과 같지 않습니다.") + kCrLf +
                   Native(step.saved);
        }
        step.result.savedCopy = Native(step.saved);
    }
    step.written = true;
    if (const QString failed = TryCopy(copy, step.backup, step.target); !failed.isEmpty()) {
        return QStringLiteral("백업 파일을 복사하지 못했습니다: ") + failed;
    }
    if (const std::optional<QString> wrong =
            VerifyDatabaseCopy(step.target, step.file->rowCounts)) {
        return QStringLiteral("복원한 파일을 확인하지 못했습니다: ") + *wrong;
    }
    step.result.state = RestoredFile::State::Restored;
    return {};
}

// Makes the target what it was before the restore; empty on success, else why not.
QString PutBack(const RestoreCopy& copy, Step& step) {
    if (!step.written) {
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
    if (const QString failed = TryCopy(copy, step.saved, step.target); !failed.isEmpty()) {
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
QStringList CheckAll(Platform& platform, const std::vector<Step>& steps) {
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
        for (const Step& step : steps) {
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
    run.name = ParseRunFolderName(QFileInfo(folder).fileName()).value_or(RunFolderName{});
    if (std::optional<RunManifest> manifest = ReadManifest(folder);
        manifest && !manifest->files.empty()) {
        run.files = std::move(manifest->files);
        const bool complete = std::all_of(run.files.begin(), run.files.end(), [&](const auto& f) {
            return BackupPresent(BackupPath(folder, f));
        });
        run.blocker =
            complete ? RunDescription::Blocker::None : RunDescription::Blocker::BackupMissing;
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

RestoreResult RestoreRun(Platform& platform, const QString& runFolder, const QDateTime& now,
                         const RestoreCopy& copy) {
    const RestoreCopy copyFile = copy ? copy : RestoreCopy(dao::CopyFileBytes);

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
    std::vector<Step> steps = StepsOf(runFolder, run.files);

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

    for (size_t i = 0; i < steps.size(); ++i) {
        const QString failure = RestoreOne(copyFile, *saveFolder, steps[i]);
        if (failure.isEmpty()) {
            continue;
        }
        // Nothing is left half restored: the failed file and every one before it go back to
        // what they were, the last first.
        QStringList putBackFailures;
        for (size_t j = i + 1; j-- > 0;) {
            if (const QString failed = PutBack(copyFile, steps[j]); !failed.isEmpty()) {
                putBackFailures << FileLine(steps[j]) + kCrLf + failed;
            }
        }
        const QString cause = FileLine(steps[i]) + kCrLf + failure;
        return putBackFailures.isEmpty() ? RolledBack(steps, i, cause)
                                         : Damaged(steps, cause, putBackFailures);
    }
    return Restored(steps, *saveFolder);
}
