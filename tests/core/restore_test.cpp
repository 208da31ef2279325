// Restoring a run folder: both files back to their backups, or neither.

#include "conversion/Restore.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <memory>

#include "conversion/OpenClose.h"
#include "conversion/ProductSettings.h"
#include "conversion/RunFolder.h"
#include "core/EngineDrivers.h"
#include "data/EngineOptions.h"
#include "data/Error.h"
#include "data/FileCopy.h"
#include "support/FileContents.h"
#include "support/OtherProgramLock.h"
#include "support/Raised.h"
#include "support/RestoreFixture.h"

namespace {

const QDateTime kStarted(QDate(2026, 12, 8), QTime(16, 49, 18));
const QDateTime kRestored(QDate(2026, 12, 9), QTime(9, 5, 0));

dao::Error DiskFull(const QString& to) {
    return dao::Error(dao::errDiskFull, dao::ErrorKind::DiskFull, {.file = to});
}

class RestoreTest : public RestoreFixture {
protected:
    void SetUp() override {
        RestoreFixture::SetUp();
        run = MakeRun(kStarted);
        ChangeBoth();
        changedSource = FileBytes(SourceFile());
        changedDest = FileBytes(DestFile());
        changedSourceCopy = Snapshot(SourceFile(), QStringLiteral("changed-source"));
        changedDestCopy = Snapshot(DestFile(), QStringLiteral("changed-dest"));
    }

    QString Backup(const QString& product) const {
        return QDir(run).filePath(product + QStringLiteral("/dbbasic.mdb"));
    }
    QString BeforeRestore() const { return QDir(run).filePath(kBeforeRestoreFolder); }

    // Both files hold exactly what they held before the restore: a file put back through
    // SQLite holds the same rows in other bytes.
    void ExpectBothUnchanged() const {
        if (FileBytes(SourceFile()) != changedSource) {
            ExpectSameContents(SourceFile(), changedSourceCopy);
        }
        if (FileBytes(DestFile()) != changedDest) {
            ExpectSameContents(DestFile(), changedDestCopy);
        }
    }

    RestoreResult Restore(const RestoreCopy& copy = {}) {
        return RestoreRun(platform, run, kRestored, copy);
    }

    QString run;
    QByteArray changedSource;
    QByteArray changedDest;
    QString changedSourceCopy;
    QString changedDestCopy;
};

TEST_F(RestoreTest, BringsBothFilesBackToTheirBackupsAndKeepsThemAsTheyWere) {
    const RestoreResult result = Restore();

    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Restored) << result.message.toStdString();
    EXPECT_EQ(result.icon, vbInformation);
    ExpectSameContents(SourceFile(), Backup(kSourceProduct));
    ExpectSameContents(DestFile(), Backup(kDestProduct));
    EXPECT_EQ(QueryValue(DestFile(), "SELECT group_concat(code) FROM product"), "OLD1");
    EXPECT_EQ(QueryValue(SourceFile(), "SELECT count(*) FROM product WHERE unit = ''"), "1");

    // The files as they were before the restore are kept in the run folder.
    const QString saved = QDir(BeforeRestore()).filePath(QStringLiteral("20261209-090500"));
    ExpectSameContents(saved + QStringLiteral("/Dorvik/dbbasic.mdb"), changedSourceCopy);
    ExpectSameContents(saved + QStringLiteral("/SolvanePlus/dbbasic.mdb"), changedDestCopy);

    ASSERT_EQ(result.files.size(), 2u);
    for (const RestoredFile& file : result.files) {
        EXPECT_EQ(file.state, RestoredFile::State::Restored);
    }
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("복원이 끝났습니다.")));
    EXPECT_TRUE(result.message.contains(QStringLiteral("Dorvik: ") +
                                        QDir::toNativeSeparators(SourceFile())));
    EXPECT_TRUE(result.message.contains(QStringLiteral("SolvanePlus: ") +
                                        QDir::toNativeSeparators(DestFile())));
    EXPECT_TRUE(result.message.contains(QDir::toNativeSeparators(saved)));
    // The core shows nothing: the window does.
    EXPECT_TRUE(platform.calls.empty());
}

TEST_F(RestoreTest, TwoRestoresInOneSecondKeepBothEarlierStates) {
    ASSERT_EQ(Restore().outcome, RestoreResult::Outcome::Restored);
    const QString restoredDest = Snapshot(DestFile(), QStringLiteral("restored-dest"));
    ASSERT_EQ(Restore().outcome, RestoreResult::Outcome::Restored);

    const QString first = QDir(BeforeRestore()).filePath(QStringLiteral("20261209-090500"));
    const QString second = QDir(BeforeRestore()).filePath(QStringLiteral("20261209-090500-2"));
    ExpectSameContents(first + QStringLiteral("/SolvanePlus/dbbasic.mdb"), changedDestCopy);
    ExpectSameContents(second + QStringLiteral("/SolvanePlus/dbbasic.mdb"), restoredDest);
}

class LockedTargetTest : public RestoreTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LockedTargetTest, IsRefusedAndNothingChanges) {
    // The second file is the locked one: the first, which could be restored, must not be.
    const OtherProgramLock lock(DestFile(), GetParam());
    ASSERT_TRUE(lock.Locked());
    dao::EngineOptions options;
    options.busyTimeout = std::chrono::milliseconds(100);
    const dao::EngineOptionsScope quick(options);

    const RestoreResult result = Restore();

    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Refused);
    ExpectBothUnchanged();
    EXPECT_FALSE(QFileInfo::exists(BeforeRestore()));
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("복원하지 않았습니다.")));
    EXPECT_TRUE(result.message.contains(QStringLiteral("SolvanePlus: ") +
                                        QDir::toNativeSeparators(DestFile())));
    EXPECT_TRUE(result.message.contains(QStringLiteral("다른 프로그램이 파일을 쓰고 있습니다")));
    EXPECT_TRUE(result.message.contains(QStringLiteral("Error 3006")));
    EXPECT_FALSE(result.message.contains(QStringLiteral("Dorvik: ")));
    EXPECT_TRUE(result.message.endsWith(QStringLiteral("아무 파일도 바꾸지 않았습니다.")));
    for (const RestoredFile& file : result.files) {
        EXPECT_EQ(file.state, RestoredFile::State::Untouched);
    }
}

INSTANTIATE_TEST_SUITE_P(Locks, LockedTargetTest,
                         ::testing::Values("BEGIN IMMEDIATE", "BEGIN EXCLUSIVE"));

TEST_F(RestoreTest, ASettingThatNamesAnotherFileIsRefused) {
    // SolvanePlus was moved to another folder since the run: the backup is not that file's.
    const QString moved = tmp.File(QStringLiteral("SolvanePlus2"));
    ASSERT_TRUE(QDir().mkpath(moved));
    ASSERT_TRUE(QFile::copy(DestFile(), moved + QStringLiteral("/dbbasic.mdb")));
    SetFolders(SourceFolder(), moved);

    const RestoreResult result = Restore();

    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Refused);
    ExpectBothUnchanged();
    EXPECT_EQ(FileBytes(moved + QStringLiteral("/dbbasic.mdb")), changedDest);
    EXPECT_FALSE(QFileInfo::exists(BeforeRestore()));
    EXPECT_TRUE(result.message.contains(
        QStringLiteral("SolvanePlus의 데이터베이스 폴더 설정이 백업한 파일이 아닌 다른 파일을 "
                       "가리킵니다.")));
    EXPECT_TRUE(result.message.contains(QDir::toNativeSeparators(moved)));
}

TEST_F(RestoreTest, ASettingThatNamesTheSameFileOtherwiseIsAccepted) {
    // The same folder written with a trailing separator and a detour.
    SetFolders(SourceFolder() + QStringLiteral("/"),
               DestFolder() + QStringLiteral("/../SolvanePlus"));
    EXPECT_EQ(Restore().outcome, RestoreResult::Outcome::Restored);
    ExpectSameContents(DestFile(), Backup(kDestProduct));
}

TEST_F(RestoreTest, AnUnsetOrUnreadableSettingIsRefused) {
    platform.settings.clear();
    SetFolders(SourceFolder(), QString());
    RestoreResult result = Restore();
    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Refused);
    EXPECT_TRUE(result.message.contains(
        QStringLiteral("SolvanePlus의 데이터베이스 폴더가 설정되어 있지 않습니다.")));
    ExpectBothUnchanged();

    SetFolders(SourceFolder(), DestFolder());
    platform.settingReads[{kSourceApp, kSection, kKey}] = {
        SettingRead::Status::Unreadable, {}, QStringLiteral("/x/세금계산서.conf")};
    result = Restore();
    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Refused);
    EXPECT_TRUE(result.message.contains(QStringLiteral("Dorvik의 설정 파일을 읽을 수 없습니다.") +
                                        QStringLiteral("\r\n/x/세금계산서.conf")));
    ExpectBothUnchanged();
    EXPECT_FALSE(QFileInfo::exists(BeforeRestore()));
}

TEST_F(RestoreTest, ABackupThatNoLongerVerifiesIsRefused) {
    // A row less than run.json counted, in a backup whose recorded hash was made to match.
    ExecSql(Backup(kDestProduct), "DELETE FROM trader;");
    std::optional<RunManifest> manifest = ReadManifest(run);
    ASSERT_TRUE(manifest.has_value());
    manifest->files[1].backupSha256 = FileSha256(Backup(kDestProduct));
    QString why;
    ASSERT_TRUE(WriteManifest(run, *manifest, why));
    const RestoreResult result = Restore();
    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Refused);
    EXPECT_TRUE(result.message.contains(QStringLiteral("백업 파일을 확인하지 못했습니다")));
    EXPECT_TRUE(result.message.contains(QStringLiteral("'trader' 테이블의 행 수가 다릅니다")));
    ExpectBothUnchanged();
    EXPECT_FALSE(QFileInfo::exists(BeforeRestore()));
}

TEST_F(RestoreTest, AMissingBackupOrManifestIsRefused) {
    ASSERT_TRUE(QFile::remove(Backup(kSourceProduct)));
    RestoreResult result = Restore();
    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Refused);
    EXPECT_TRUE(result.message.contains(QStringLiteral("백업 파일이 없습니다.")));
    ExpectBothUnchanged();

    ASSERT_TRUE(QFile::remove(QDir(run).filePath(kRunManifestName)));
    result = Restore();
    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Refused);
    EXPECT_TRUE(result.message.contains(QStringLiteral("run.json")));
    ExpectBothUnchanged();
    EXPECT_FALSE(QFileInfo::exists(BeforeRestore()));
}

TEST_F(RestoreTest, ADeletedDatabaseIsRestoredIntoItsFolder) {
    ASSERT_TRUE(QFile::remove(DestFile()));
    const RestoreResult result = Restore();
    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Restored) << result.message.toStdString();
    ExpectSameContents(DestFile(), Backup(kDestProduct));
    ExpectSameContents(SourceFile(), Backup(kSourceProduct));
}

TEST_F(RestoreTest, ADeletedFolderIsRefused) {
    ASSERT_TRUE(QDir(DestFolder()).removeRecursively());
    const RestoreResult result = Restore();
    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Refused);
    EXPECT_TRUE(result.message.contains(QStringLiteral("데이터베이스 폴더가 없습니다.")));
    EXPECT_EQ(FileBytes(SourceFile()), changedSource);
    EXPECT_FALSE(QFileInfo::exists(DestFile()));
}

TEST_F(RestoreTest, ADamagedDatabaseIsReplacedByItsBackup) {
    QFile dest(DestFile());
    ASSERT_TRUE(dest.open(QIODevice::WriteOnly | QIODevice::Truncate));
    dest.write("not a database at all");
    dest.close();

    const RestoreResult result = Restore();

    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Restored) << result.message.toStdString();
    ExpectSameContents(DestFile(), Backup(kDestProduct));
}

// A file that keeps SQLite's header but whose pages are garbage: the driver finds the damage at
// its open and says so (DamagedFile). The restore is the very fix for it, so its check of the
// products' files lets it through, whichever driver opens it.
class DamagedTargetTest : public RestoreTest,
                          public ::testing::WithParamInterface<enginetest::Driver> {};

TEST_P(DamagedTargetTest, IsReplacedByItsBackup) {
    QFile dest(DestFile());
    ASSERT_TRUE(dest.open(QIODevice::ReadWrite));
    const qint64 size = dest.size();
    ASSERT_TRUE(dest.seek(100));
    dest.write(QByteArray(static_cast<qsizetype>(size - 100), '\x5a'));
    dest.close();
    const dao::EngineOptionsScope driver(enginetest::OptionsFor(GetParam()));
    const dao::Error refused = Raised([&] { ProcessEngine().OpenDatabase(DestFile()); });
    EXPECT_EQ(refused.Kind(), dao::ErrorKind::DamagedFile) << refused.what();

    const RestoreResult result = Restore();

    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Restored) << result.message.toStdString();
    ExpectSameContents(DestFile(), Backup(kDestProduct));
    ExpectSameContents(SourceFile(), Backup(kSourceProduct));
}

INSTANTIATE_TEST_SUITE_P(Drivers, DamagedTargetTest,
                         ::testing::ValuesIn(enginetest::DriversToRun()),
                         [](const auto& info) { return enginetest::DriverName(info.param); });

TEST_F(RestoreTest, ASecondFileThatCannotBeCopiedPutsTheFirstBack) {
    int copies = 0;
    const RestoreResult result = Restore([&](const QString& from, const QString& to) {
        ++copies;
        if (from == Backup(kDestProduct)) {
            throw DiskFull(to);
        }
    });

    EXPECT_EQ(result.outcome, RestoreResult::Outcome::RolledBack);
    EXPECT_EQ(result.icon, vbExclamation);
    ExpectBothUnchanged();
    // Save Dorvik, restore it, save SolvanePlus, fail, put Dorvik back.
    EXPECT_EQ(copies, 5);
    ASSERT_EQ(result.files.size(), 2u);
    EXPECT_EQ(result.files[0].state, RestoredFile::State::PutBack);
    EXPECT_EQ(result.files[1].state, RestoredFile::State::Untouched);
    EXPECT_TRUE(result.message.startsWith(QStringLiteral("복원하지 못했습니다.")));
    EXPECT_TRUE(result.message.contains(QStringLiteral("Error 3026")));
    EXPECT_TRUE(
        result.message.contains(QStringLiteral("먼저 복원한 파일을 복원 전 상태로 되돌렸습니다.")));
    EXPECT_TRUE(result.message.endsWith(QStringLiteral("모든 파일이 복원 전 그대로입니다.")));
}

TEST_F(RestoreTest, ASecondBackupDamagedAfterTheChecksPutsBothBack) {
    // The backup passes the checks, then is damaged before it is copied: the copy lands, fails
    // its verification, and both files go back.
    bool damaged = false;
    const RestoreResult result = Restore([&](const QString&, const QString&) {
        if (!damaged) {
            damaged = true;
            ExecSql(Backup(kDestProduct), "DELETE FROM product;");
        }
    });

    EXPECT_EQ(result.outcome, RestoreResult::Outcome::RolledBack) << result.message.toStdString();
    ExpectBothUnchanged();
    ASSERT_EQ(result.files.size(), 2u);
    EXPECT_EQ(result.files[0].state, RestoredFile::State::PutBack);
    EXPECT_EQ(result.files[1].state, RestoredFile::State::PutBack);
    EXPECT_TRUE(result.message.contains(QStringLiteral("복원한 파일을 확인하지 못했습니다")));
    EXPECT_TRUE(result.message.contains(QStringLiteral("'product' 테이블의 행 수가 다릅니다")));
}

TEST_F(RestoreTest, AFirstFileThatFailsLeavesTheSecondUntouched) {
    const RestoreResult result = Restore([&](const QString& from, const QString& to) {
        if (from == Backup(kSourceProduct)) {
            throw DiskFull(to);
        }
    });
    EXPECT_EQ(result.outcome, RestoreResult::Outcome::RolledBack);
    ExpectBothUnchanged();
    EXPECT_FALSE(result.message.contains(QStringLiteral("먼저 복원한 파일")));
    EXPECT_FALSE(QFileInfo::exists(
        QDir(BeforeRestore()).filePath(QStringLiteral("20261209-090500/SolvanePlus/dbbasic.mdb"))));
}

TEST_F(RestoreTest, APutBackThatFailsSaysWhereEachFileStands) {
    const RestoreResult result = Restore([&](const QString& from, const QString& to) {
        if (from == Backup(kDestProduct) || from.contains(kBeforeRestoreFolder)) {
            throw DiskFull(to);
        }
    });

    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Damaged);
    EXPECT_EQ(result.icon, vbCritical);
    // Dorvik holds its backup, SolvanePlus what it held; the message says so, and where the
    // earlier Dorvik file is.
    ExpectSameContents(SourceFile(), Backup(kSourceProduct));
    EXPECT_EQ(FileBytes(DestFile()), changedDest);
    ASSERT_EQ(result.files.size(), 2u);
    EXPECT_EQ(result.files[0].state, RestoredFile::State::Unknown);
    EXPECT_EQ(result.files[1].state, RestoredFile::State::Untouched);
    ExpectSameContents(QDir::fromNativeSeparators(result.files[0].savedCopy), changedSourceCopy);
    EXPECT_TRUE(
        result.message.contains(QStringLiteral("  복원 전 파일: ") + result.files[0].savedCopy));
    EXPECT_TRUE(result.message.contains(QStringLiteral("Dorvik: ") +
                                        QDir::toNativeSeparators(SourceFile()) +
                                        QStringLiteral(" (상태를 알 수 없음)")));
    EXPECT_TRUE(result.message.contains(QStringLiteral("SolvanePlus: ") +
                                        QDir::toNativeSeparators(DestFile()) +
                                        QStringLiteral(" (바꾸지 않음)")));
}

TEST_F(RestoreTest, ADeletedDatabaseIsDeletedAgainWhenTheOtherFails) {
    ASSERT_TRUE(QFile::remove(SourceFile()));
    const RestoreResult result = Restore([&](const QString& from, const QString& to) {
        if (from == Backup(kDestProduct)) {
            throw DiskFull(to);
        }
    });
    EXPECT_EQ(result.outcome, RestoreResult::Outcome::RolledBack);
    EXPECT_FALSE(QFileInfo::exists(SourceFile()));
    EXPECT_EQ(FileBytes(DestFile()), changedDest);
}

// The run folder's readers that the window lists runs with.
TEST_F(RestoreFixture, RunFoldersListNewestFirstAndTellAReportWithoutOutcome) {
    const QString older = MakeRun(kStarted, QStringLiteral("정상 완료"));
    const QString killed = MakeRun(kStarted.addSecs(60), std::nullopt);
    const QString sameSecond = MakeRun(kStarted.addSecs(60), QStringLiteral("오류 있음"));
    const QString noReport = MakeRun(kStarted.addSecs(-60), std::nullopt, false);

    EXPECT_EQ(ListRunFolders(RunsRoot()), (QStringList{sameSecond, killed, older, noReport}));
    EXPECT_EQ(ReadReportOutcome(older), QStringLiteral("정상 완료"));
    EXPECT_EQ(ReadReportOutcome(killed), std::nullopt);
    EXPECT_EQ(ReadReportOutcome(noReport), std::nullopt);
}

TEST(RunFolderNames, RunsOfOneSecondListByTheirNumberNotTheirNameAsText) {
    // "-10" sorts before "-9" as text; it was made after it.
    TempFolder tmp;
    const QString root = tmp.File(QStringLiteral("runs"));
    QStringList made;
    QString why;
    for (int i = 0; i < 11; ++i) {
        const std::optional<QString> folder = CreateRunFolder(root, kStarted, why);
        ASSERT_TRUE(folder.has_value()) << why.toStdString();
        made.prepend(*folder);
    }
    ASSERT_TRUE(made.first().endsWith(QStringLiteral("-11")));
    ASSERT_TRUE(made.at(1).endsWith(QStringLiteral("-10")));
    ASSERT_TRUE(made.at(2).endsWith(QStringLiteral("-9")));
    EXPECT_EQ(ListRunFolders(root), made);
}

TEST(RunFolderNames, TellTheStartAndTheNumberWithinItsSecond) {
    const std::optional<RunFolderName> first =
        ParseRunFolderName(QStringLiteral("20261208-164918"));
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(first->started, kStarted);
    EXPECT_EQ(first->number, 1);
    EXPECT_EQ(first->Text(), QStringLiteral("2026-12-08 16:49:18"));

    const std::optional<RunFolderName> tenth =
        ParseRunFolderName(QStringLiteral("20261208-164918-10"));
    ASSERT_TRUE(tenth.has_value());
    EXPECT_EQ(tenth->started, kStarted);
    EXPECT_EQ(tenth->number, 10);
    EXPECT_EQ(tenth->Text(), QStringLiteral("2026-12-08 16:49:18 (10)"));

    // A copy renamed by hand is still listed, under what its name says after the stamp.
    const std::optional<RunFolderName> copy =
        ParseRunFolderName(QStringLiteral("20261208-164918 - 복사본"));
    ASSERT_TRUE(copy.has_value());
    EXPECT_EQ(copy->number, 0);
    EXPECT_EQ(copy->Text(), QStringLiteral("2026-12-08 16:49:18 (- 복사본)"));

    EXPECT_FALSE(ParseRunFolderName(QStringLiteral("before-restore")).has_value());
    EXPECT_FALSE(ParseRunFolderName(QStringLiteral("2026120")).has_value());
    EXPECT_FALSE(ParseRunFolderName(QStringLiteral("20261308-164918")).has_value());
}

// What a list of runs shows of each, and that the restore refuses exactly the runs it says cannot
// be restored.
TEST_F(RestoreFixture, ARunIsDescribedAsTheRestoreSeesIt) {
    const QString done = MakeRun(kStarted, QStringLiteral("정상 완료"));
    const QString killed = MakeRun(kStarted.addSecs(1), std::nullopt);
    const QString noReport = MakeRun(kStarted.addSecs(2), std::nullopt, false);
    const QString noBackup = MakeRun(kStarted.addSecs(3));
    ASSERT_TRUE(QFile::remove(QDir(noBackup).filePath(QStringLiteral("Dorvik/dbbasic.mdb"))));
    const QString noManifest = MakeRun(kStarted.addSecs(4));
    ASSERT_TRUE(QFile::remove(QDir(noManifest).filePath(kRunManifestName)));
    const QString noFiles = MakeRun(kStarted.addSecs(5));
    QString why;
    ASSERT_TRUE(WriteManifest(noFiles, RunManifest{kStarted, QStringLiteral("1.0.4"), {}}, why));

    const RunDescription described = DescribeRun(done);
    EXPECT_EQ(described.folder, done);
    EXPECT_EQ(described.name.Text(), QStringLiteral("2026-12-08 16:49:18"));
    EXPECT_EQ(described.Products(), (QStringList{kSourceProduct, kDestProduct}));
    ASSERT_EQ(described.files.size(), 2u);
    EXPECT_EQ(described.files[1].originalPath, QDir::cleanPath(DestFile()));
    EXPECT_EQ(described.blocker, RunDescription::Blocker::None);
    EXPECT_EQ(described.report, RunDescription::Report::Outcome);
    EXPECT_EQ(described.outcome, QStringLiteral("정상 완료"));

    EXPECT_EQ(DescribeRun(killed).report, RunDescription::Report::NoOutcome);
    EXPECT_TRUE(DescribeRun(killed).outcome.isEmpty());
    EXPECT_EQ(DescribeRun(noReport).report, RunDescription::Report::Missing);
    EXPECT_EQ(DescribeRun(noBackup).blocker, RunDescription::Blocker::BackupMissing);
    EXPECT_EQ(DescribeRun(noBackup).Products(), (QStringList{kSourceProduct, kDestProduct}));
    EXPECT_EQ(DescribeRun(noManifest).blocker, RunDescription::Blocker::NoManifest);
    EXPECT_TRUE(DescribeRun(noManifest).Products().isEmpty());
    EXPECT_EQ(DescribeRun(noFiles).blocker, RunDescription::Blocker::NoManifest);

    for (const QString& folder : ListRunFolders(RunsRoot())) {
        const RunDescription run = DescribeRun(folder);
        const RestoreResult result = RestoreRun(platform, folder, kRestored);
        EXPECT_EQ(result.outcome == RestoreResult::Outcome::Refused, !run.Restorable())
            << folder.toStdString() << "\n"
            << result.message.toStdString();
    }
}

TEST_F(RestoreFixture, TheConfirmationNamesTheRunAndEachFileItPutsBack) {
    const QString run = MakeRun(kStarted.addSecs(1));
    MakeRun(kStarted.addSecs(1));
    const QString second = ListRunFolders(RunsRoot()).value(0);
    ASSERT_NE(second, run);
    const QString lines = QStringLiteral("Dorvik: ") + QDir::toNativeSeparators(SourceFile()) +
                          QStringLiteral("\r\nSolvanePlus: ") +
                          QDir::toNativeSeparators(DestFile());
    const QString rest = QStringLiteral(
        "\r\n\r\n지금 파일의 자료는 백업한 때의 자료로 바뀝니다. 지금 파일은 백업 폴더에 따로 "
        "보관합니다.\r\nDorvik 또는 SolvanePlus 프로그램이 열려 있을 경우 닫고 "
        "시작하세요.\r\n복원 하시겠습니까?");
    EXPECT_EQ(RestoreConfirmation(DescribeRun(run)),
              QStringLiteral("2026-12-08 16:49:19에 실행한 작업 전의 백업으로 다음 파일을 "
                             "되돌립니다.\r\n") +
                  lines + rest);
    EXPECT_EQ(RestoreConfirmation(DescribeRun(second)),
              QStringLiteral("2026-12-08 16:49:19 (2)에 실행한 작업 전의 백업으로 다음 파일을 "
                             "되돌립니다.\r\n") +
                  lines + rest);
}

}  // namespace
