// A run folder trusted with the only good copy: a restore that goes through SQLite and refuses
// what is not the run's own backup, a record that says what a killed restore or run left, and a
// folder that only its owner reads.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSysInfo>
#include <algorithm>
#include <functional>

#include "conversion/OpenClose.h"
#include "conversion/ProductSettings.h"
#include "conversion/Restore.h"
#include "conversion/RunFolder.h"
#include "data/Error.h"
#include "support/FileContents.h"
#include "support/Raised.h"
#include "support/RestoreFixture.h"

#ifdef Q_OS_UNIX
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

const QDateTime kStarted(QDate(2026, 12, 8), QTime(16, 49, 18));
const QDateTime kRestored(QDate(2026, 12, 9), QTime(9, 5, 0));

std::string Str(const QString& text) {
    return text.toStdString();
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// A connection of another program, kept open on the file.
class OtherConnection {
public:
    explicit OtherConnection(const QString& path) {
        sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    }
    ~OtherConnection() { Close(); }
    OtherConnection(const OtherConnection&) = delete;
    OtherConnection& operator=(const OtherConnection&) = delete;
    int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }
    // Leaves what is in the write-ahead log there, as a program that was killed would.
    void CloseWithoutCheckpoint() {
        sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        Close();
    }
    void Close() {
        sqlite3_close(db_);
        db_ = nullptr;
    }

private:
    sqlite3* db_ = nullptr;
};

class SafeRestoreTest : public RestoreFixture {
protected:
    void SetUp() override {
        RestoreFixture::SetUp();
        run = MakeRun(kStarted);
        ChangeBoth();
        changedSource = Snapshot(SourceFile(), QStringLiteral("changed-source"));
        changedDest = Snapshot(DestFile(), QStringLiteral("changed-dest"));
    }
    QString Backup(const QString& product) const {
        return QDir(run).filePath(product + QStringLiteral("/dbbasic.mdb"));
    }
    void ExpectBothUnchanged() const {
        ExpectSameContents(SourceFile(), changedSource);
        ExpectSameContents(DestFile(), changedDest);
    }
    RestoreResult Restore() { return RestoreRun(platform, run, kRestored); }
    // Changes run.json as `edit` says.
    void EditManifest(const std::function<void(QJsonArray&)>& edit) {
        const QString path = QDir(run).filePath(kRunManifestName);
        QJsonObject root = QJsonDocument::fromJson(*ReadRunFile(path)).object();
        QJsonArray files = root.value(QStringLiteral("files")).toArray();
        edit(files);
        root.insert(QStringLiteral("files"), files);
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(QJsonDocument(root).toJson());
    }
    void ExpectRefusedUnread(const RestoreResult& result, const QString& words) {
        EXPECT_EQ(result.outcome, RestoreResult::Outcome::Refused);
        EXPECT_TRUE(result.message.contains(words)) << Str(result.message);
        EXPECT_TRUE(result.message.endsWith(QStringLiteral("아무 파일도 바꾸지 않았습니다.")));
        ExpectBothUnchanged();
        EXPECT_FALSE(QFileInfo::exists(QDir(run).filePath(kRestoreIntentName)));
    }

    QString run;
    QString changedSource;
    QString changedDest;
};

// ---- Through SQLite, with what the write-ahead log holds

TEST_F(SafeRestoreTest, ATargetAnotherConnectionUsesIsRefusedBeforeAnythingChanges) {
    OtherConnection reader(DestFile());
    ASSERT_EQ(reader.Exec("PRAGMA journal_mode=WAL; SELECT count(*) FROM product;"), SQLITE_OK);
    dao::EngineOptions options;
    options.busyTimeout = std::chrono::milliseconds(100);
    const dao::EngineOptionsScope quick(options);

    const RestoreResult result = Restore();

    ExpectRefusedUnread(result, QStringLiteral("다른 프로그램이 파일을 쓰고 있습니다"));
    EXPECT_FALSE(QFileInfo::exists(QDir(run).filePath(kBeforeRestoreFolder)));
    EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), 0);
}

TEST_F(SafeRestoreTest, WhatTheWriteAheadLogHoldsIsSavedAndReplaced) {
    {
        // The run's result sits in the -wal only: the main file still holds the old rows.
        OtherConnection writer(DestFile());
        ASSERT_EQ(writer.Exec("PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                              "INSERT INTO product(name, code, price, unit) VALUES "
                              "('연필', 'P003', 300, '자루');"),
                  SQLITE_OK);
        writer.CloseWithoutCheckpoint();
    }
    ASSERT_GT(QFileInfo(DestFile() + QStringLiteral("-wal")).size(), 0);

    const RestoreResult result = Restore();

    ASSERT_EQ(result.outcome, RestoreResult::Outcome::Restored) << Str(result.message);
    ExpectSameContents(DestFile(), Backup(kDestProduct));
    // The earlier state was saved as the database held it, the row in the log included.
    const QString saved = QDir::fromNativeSeparators(result.files[1].savedCopy);
    EXPECT_EQ(QueryValue(saved, "SELECT count(*) FROM product WHERE code = 'P003'"), "1");
    EXPECT_EQ(QueryValue(DestFile(), "SELECT count(*) FROM product WHERE code = 'P003'"), "0");
    EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), 0);
}

TEST(ExclusiveOpen, RefusesWhileAnotherConnectionIsOpenAndKeepsOthersOut) {
    TempFolder tmp;
    const QString file = tmp.File(QStringLiteral("x.db"));
    ExecSql(file, "PRAGMA journal_mode=WAL; CREATE TABLE t(x); INSERT INTO t VALUES (1);");
    dao::EngineOptions options;
    options.busyTimeout = std::chrono::milliseconds(100);
    dao::DBEngine engine(options);
    {
        OtherConnection other(file);
        ASSERT_EQ(other.Exec("SELECT * FROM t"), SQLITE_OK);
        EXPECT_EQ(Raised([&] { engine.OpenDatabase(file, dao::dbExclusive); }).Number(),
                  dao::errDatabaseLocked);
    }
    dao::DatabaseHandle held(engine.OpenDatabase(file, dao::dbExclusive));
    OtherConnection later(file);
    EXPECT_NE(later.Exec("SELECT * FROM t"), SQLITE_OK);
    EXPECT_EQ(Raised([&] { engine.OpenDatabase(file); }).Number(), dao::errDatabaseLocked);
    CloseObject(held);
    EXPECT_EQ(later.Exec("SELECT * FROM t"), SQLITE_OK);
}

// ---- The run's own backup, from a sound record

TEST_F(SafeRestoreTest, ABackupWithTheSameCountsButOtherBytesIsRefused) {
    // Another shop's database: the same tables and row counts, other data.
    ExecSql(Backup(kDestProduct), "UPDATE product SET name = '다른 가게';");
    ExpectRefusedUnread(Restore(), QStringLiteral("백업 파일이 작업이 만든 백업과 다릅니다"));
}

struct ManifestCase {
    const char* name;
    std::function<void(QJsonArray&)> edit;
};

class DamagedManifestTest : public SafeRestoreTest,
                            public ::testing::WithParamInterface<ManifestCase> {};

TEST_P(DamagedManifestTest, IsADamagedRecordThatCannotBeRestored) {
    EditManifest(GetParam().edit);
    EXPECT_EQ(DescribeRun(run).blocker, RunDescription::Blocker::NoManifest);
    ExpectRefusedUnread(Restore(), kRunManifestName);
}

QJsonObject Entry(const QJsonArray& files, int i) {
    return files.at(i).toObject();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedManifestTest,
    ::testing::Values(ManifestCase{"DoubledProduct",
                                   [](QJsonArray& files) {
                                       QJsonObject second = Entry(files, 1);
                                       second.insert(QStringLiteral("product"), kSourceProduct);
                                       files.replace(1, second);
                                   }},
                      ManifestCase{"ThirdProduct",
                                   [](QJsonArray& files) {
                                       QJsonObject third = Entry(files, 1);
                                       third.insert(QStringLiteral("product"),
                                                    QStringLiteral("Other"));
                                       files.append(third);
                                   }},
                      ManifestCase{"NoRowCounts",
                                   [](QJsonArray& files) {
                                       QJsonObject first = Entry(files, 0);
                                       first.remove(QStringLiteral("rowCounts"));
                                       files.replace(0, first);
                                   }},
                      ManifestCase{"NoBackupHash",
                                   [](QJsonArray& files) {
                                       QJsonObject first = Entry(files, 0);
                                       first.remove(QStringLiteral("backupSha256"));
                                       files.replace(0, first);
                                   }}),
    [](const auto& info) { return std::string(info.param.name); });

#ifdef Q_OS_UNIX
TEST_F(SafeRestoreTest, ALinkedBeforeRestoreFolderOrBackupIsRefused) {
    const QString elsewhere = tmp.File(QStringLiteral("elsewhere"));
    ASSERT_TRUE(QDir().mkpath(elsewhere));
    ASSERT_TRUE(QFile::link(elsewhere, QDir(run).filePath(kBeforeRestoreFolder)));
    EXPECT_EQ(DescribeRun(run).blocker, RunDescription::Blocker::Linked);
    EXPECT_EQ(Restore().outcome, RestoreResult::Outcome::Refused);
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    ExpectBothUnchanged();

    ASSERT_TRUE(QFile::remove(QDir(run).filePath(kBeforeRestoreFolder)));
    const QString moved = tmp.File(QStringLiteral("moved.mdb"));
    ASSERT_TRUE(QFile::rename(Backup(kDestProduct), moved));
    ASSERT_TRUE(QFile::link(moved, Backup(kDestProduct)));
    const RestoreResult result = Restore();
    EXPECT_EQ(result.outcome, RestoreResult::Outcome::Refused);
    EXPECT_TRUE(result.message.contains(QStringLiteral("링크"))) << Str(result.message);
    ExpectBothUnchanged();
}

// ---- Bounded, unblocking reads

TEST_F(SafeRestoreTest, APipeOrADeviceInTheRunFolderIsRefusedUnread) {
    const QString report = QDir(run).filePath(kReportName);
    const QString manifest = QDir(run).filePath(kRunManifestName);
    ASSERT_TRUE(QFile::remove(report));
    ASSERT_EQ(::mkfifo(QFile::encodeName(report).constData(), 0600), 0);
    QElapsedTimer timer;
    timer.start();
    RunDescription described = DescribeRun(run);
    EXPECT_EQ(described.report, RunDescription::Report::Missing);
    ASSERT_TRUE(QFile::remove(report));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), report));
    described = DescribeRun(run);
    EXPECT_NE(described.report, RunDescription::Report::Outcome);
    ASSERT_TRUE(QFile::remove(manifest));
    ASSERT_EQ(::mkfifo(QFile::encodeName(manifest).constData(), 0600), 0);
    EXPECT_EQ(DescribeRun(run).blocker, RunDescription::Blocker::NoManifest);
    EXPECT_EQ(Restore().outcome, RestoreResult::Outcome::Refused);
    EXPECT_LT(timer.elapsed(), 5000);
    ExpectBothUnchanged();
}

TEST_F(SafeRestoreTest, AFileLargerThanTheBoundIsNotRead) {
    QFile report(QDir(run).filePath(kReportName));
    ASSERT_TRUE(report.resize(kRunFileLimit + 1));
    EXPECT_FALSE(ReadRunFile(report.fileName()).has_value());
    EXPECT_EQ(DescribeRun(run).report, RunDescription::Report::NoOutcome);
}

// ---- Private by default

TEST_F(SafeRestoreTest, RunAndRestoreFilesAreTheOwnersOnlyWhateverTheUmask) {
    const mode_t old = ::umask(0);
    QString why;
    const std::optional<QString> folder = CreateRunFolder(RunsRoot(), kRestored, why);
    const RestoreResult result = Restore();
    ::umask(old);
    ASSERT_TRUE(folder.has_value());
    ASSERT_EQ(result.outcome, RestoreResult::Outcome::Restored) << Str(result.message);
    const auto mode = [](const QString& path) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_mode & 0777;
    };
    const std::vector<std::pair<QString, mode_t>> expected = {
        {*folder, 0700},
        {QDir(run).filePath(kBeforeRestoreFolder), 0700},
        {QDir::fromNativeSeparators(result.files[0].savedCopy), 0600},
        {QDir(run).filePath(kRestoreIntentName), 0600},
        {QDir(run).filePath(kRunManifestName), 0600}};
    for (const auto& [path, wanted] : expected) {
        EXPECT_EQ(mode(path), wanted) << Str(path);
    }
}

// ---- A full disk

// A small memory file system over a folder, where this process may mount one.
class SmallDisk {
public:
    SmallDisk(const QString& folder, qint64 bytes) : folder_(folder) {
        QDir().mkpath(folder);
        const QByteArray options = "size=" + QByteArray::number(bytes);
        mounted_ = ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0,
                           options.constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) {
            ::umount(QFile::encodeName(folder_).constData());
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted_; }

private:
    QString folder_;
    bool mounted_ = false;
};

TEST_F(RestoreFixture, AFullDiskWhileTheRestoreSavesSaysTheDiskIsFull) {
    constexpr qint64 kPage = 4096;
    // Room for the backups, run.json, the report and restore.json, not for a saved file.
    const qint64 size = QFileInfo(SourceFile()).size() + QFileInfo(DestFile()).size() + 4 * kPage;
    const SmallDisk disk(RunsRoot(), size);
    if (!disk.Mounted()) {
        GTEST_SKIP() << "no permission to mount a small file system here";
    }
    const QString run = MakeRun(kStarted);
    ChangeBoth();
    const QString before = Snapshot(SourceFile(), QStringLiteral("changed-source"));

    const RestoreResult result = RestoreRun(platform, run, kRestored);

    EXPECT_EQ(result.outcome, RestoreResult::Outcome::RolledBack) << Str(result.message);
    EXPECT_TRUE(result.message.contains(QStringLiteral("디스크 공간이 부족해")))
        << Str(result.message);
    ExpectSameContents(SourceFile(), before);
}

// ---- A restore killed at each of its steps

struct KillCase {
    int copy;  // the copy before which the restore is killed
    const char* dorvik;
    const char* solvane;
};

class KilledRestoreTest : public SafeRestoreTest, public ::testing::WithParamInterface<KillCase> {
protected:
    int RunChild(int killAt) {
        const QByteArray args[] = {QFile::encodeName(RunsRoot()), QFile::encodeName(run),
                                   QFile::encodeName(SourceFolder()),
                                   QFile::encodeName(DestFolder()), QByteArray::number(killAt)};
        char* const argv[] = {const_cast<char*>(RESTORE_CHILD),
                              const_cast<char*>(args[0].constData()),
                              const_cast<char*>(args[1].constData()),
                              const_cast<char*>(args[2].constData()),
                              const_cast<char*>(args[3].constData()),
                              const_cast<char*>(args[4].constData()),
                              nullptr};
        pid_t pid = 0;
        if (posix_spawn(&pid, RESTORE_CHILD, nullptr, nullptr, argv, environ) != 0) {
            return -1;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return status;
    }
};

TEST_P(KilledRestoreTest, IsNamedWithEachFilesStateAndFinishedOnYes) {
    const int status = RunChild(GetParam().copy);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

    const std::vector<UnfinishedRestore> unfinished = FindUnfinishedRestores(RunsRoot());
    ASSERT_EQ(unfinished.size(), 1u);
    ASSERT_EQ(unfinished[0].files.size(), 2u);
    EXPECT_EQ(Str(unfinished[0].files[0].state), GetParam().dorvik);
    EXPECT_EQ(Str(unfinished[0].files[1].state), GetParam().solvane);
    const QString message = UnfinishedRestoreMessage(unfinished[0]);
    EXPECT_TRUE(
        message.contains(QStringLiteral("Dorvik: ") + QDir::toNativeSeparators(SourceFile())))
        << Str(message);

    // A run does not start meanwhile.
    conversion.Command1_Click();
    ASSERT_EQ(platform.MessageBoxes().size(), 1u);
    EXPECT_TRUE(platform.MessageBoxes()[0].text.startsWith(
        QStringLiteral("끝나지 않은 복원이 있어 작업을 시작하지 않았습니다.")));
    EXPECT_EQ(std::count_if(
                  platform.calls.begin(), platform.calls.end(),
                  [](const auto& call) { return call.kind == ScriptedPlatform::Kind::InputBox; }),
              0);

    // No, the default, leaves it as it is; Yes finishes it.
    EXPECT_FALSE(CheckUnfinished(platform, false));
    EXPECT_EQ(platform.MessageBoxes().back().flags, vbYesNo + vbExclamation + vbDefaultButton2);
    EXPECT_EQ(FindUnfinishedRestores(RunsRoot()).size(), 1u);
    platform.msgBoxAnswers.push_back(vbYes);
    EXPECT_TRUE(CheckUnfinished(platform, false));
    ExpectSameContents(SourceFile(), Backup(kSourceProduct));
    ExpectSameContents(DestFile(), Backup(kDestProduct));
    EXPECT_TRUE(FindUnfinishedRestores(RunsRoot()).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Steps, KilledRestoreTest,
    ::testing::Values(KillCase{1, "pending", "pending"}, KillCase{2, "restoring", "pending"},
                      KillCase{3, "restored", "pending"}, KillCase{4, "restored", "restoring"}),
    [](const auto& info) { return "BeforeCopy" + std::to_string(info.param.copy); });

TEST_F(SafeRestoreTest, ARestoreThatEndsLeavesItsRecordDone) {
    ASSERT_EQ(Restore().outcome, RestoreResult::Outcome::Restored);
    EXPECT_TRUE(FindUnfinishedRestores(RunsRoot()).empty());
    const QJsonObject intent =
        QJsonDocument::fromJson(*ReadRunFile(QDir(run).filePath(kRestoreIntentName))).object();
    EXPECT_TRUE(intent.value(QStringLiteral("done")).toBool());
}

// ---- A run that was killed

TEST_F(RestoreFixture, AKilledRunIsNamedOnceWithItsFolderAndTheOfferToRestore) {
    const QString sourceBefore = Snapshot(SourceFile(), QStringLiteral("source-before"));
    const QString destBefore = Snapshot(DestFile(), QStringLiteral("dest-before"));
    // A whole run in a process of its own, stopped at its destination's second commit and killed
    // there.
    const QByteArray source = QFile::encodeName(SourceFolder());
    const QByteArray dest = QFile::encodeName(DestFolder());
    char* const args[] = {const_cast<char*>(CRASH_CHILD),
                          const_cast<char*>(source.data()),
                          const_cast<char*>(dest.data()),
                          const_cast<char*>("1"),
                          const_cast<char*>("2"),
                          const_cast<char*>("-"),
                          nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, CRASH_CHILD, nullptr, nullptr, args, environ), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
    ASSERT_TRUE(WIFSTOPPED(status)) << status;
    const QStringList runs = ListRunFolders(RunsRoot());
    ASSERT_EQ(runs.size(), 1);
    // While its process lives, the run is not taken for a killed one.
    EXPECT_TRUE(FindKilledRuns(RunsRoot()).isEmpty());
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_EQ(waitpid(pid, &status, 0), pid);

    platform.msgBoxAnswers.push_back(vbYes);
    EXPECT_TRUE(CheckUnfinished(platform, true));
    const auto boxes = platform.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].text.startsWith(QStringLiteral("지난 작업이 끝나지 않았습니다.")));
    EXPECT_TRUE(boxes[0].text.contains(QDir::toNativeSeparators(runs[0])));
    EXPECT_EQ(boxes[0].flags, vbYesNo + vbExclamation + vbDefaultButton2);
    ExpectSameContents(SourceFile(), sourceBefore);
    ExpectSameContents(DestFile(), destBefore);
    // Named once: its report now states it.
    EXPECT_TRUE(
        ReadReportOutcome(runs[0]).value_or(QString()).startsWith(QStringLiteral("중단됨")));
    EXPECT_TRUE(CheckUnfinished(platform, true));
    EXPECT_EQ(platform.MessageBoxes().size(), 2u);
}
#endif

// ---- What a run says of itself

class RunSaysTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        platform.runsFolder = tmp.File(QStringLiteral("runs"));
    }
    QString Report() const {
        return ReadText(QDir(conversion.LastRunFolder()).filePath(kReportName));
    }
};

TEST_F(RunSaysTest, ATableTheRunDoesNotOwnThatChangesMakesTheRunEndWithErrors) {
    // A products-only run; the destination's trigger empties the traders.
    ExecSql(DestFile(),
            "CREATE TRIGGER side AFTER INSERT ON product BEGIN DELETE FROM trader; END;");
    form.check = {1, 0};
    AnswerYes();
    conversion.Command1_Click();

    const QString line = QStringLiteral(
        "작업하지 않은 테이블의 행 수가 바뀌었습니다 (SolvanePlus): trader: 1건 → 0건");
    EXPECT_TRUE(form.text.contains(line)) << Str(form.text);
    EXPECT_TRUE(conversion.LastRunHadErrors());
    EXPECT_TRUE(platform.MessageBoxes().back().text.startsWith(
        QStringLiteral("자료 교체가 끝났지만 오류가 있었습니다.")));
    EXPECT_TRUE(Report().contains(QStringLiteral("결과: 완료 (오류 있음)")));
    EXPECT_TRUE(Report().contains(QStringLiteral("  trader: 1건 → 0건"))) << Str(Report());
}

TEST_F(RunSaysTest, AFailedRowsListThatCannotBeWrittenIsSaidWhereAndWhy) {
    // The list's place is taken after the backup: the file cannot be created.
    conversion.SetRecordSeams({.beforeVerify = [](const QString& backup) {
        QDir(QFileInfo(backup).absolutePath() + QStringLiteral("/..")).mkpath(kFailedRowsName);
    }});
    ExecSql(DestFile(),
            "CREATE TRIGGER refuse BEFORE INSERT ON trader WHEN new.code = 'T002' "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    form.check = {0, 1};
    AnswerYes();
    conversion.Command1_Click();

    const QString where =
        QDir::toNativeSeparators(QDir(conversion.LastRunFolder()).filePath(kFailedRowsName));
    const QString said =
        QStringLiteral("실패한 행 목록을 쓰지 못했습니다: ") + where + QStringLiteral(" (");
    EXPECT_TRUE(form.text.contains(said)) << Str(form.text);
    EXPECT_TRUE(form.text.contains(QStringLiteral("2건 중 1건 복사, 1건 실패")));
    EXPECT_TRUE(platform.MessageBoxes().back().text.contains(said));
    EXPECT_TRUE(Report().contains(said)) << Str(Report());
}

TEST_F(RunSaysTest, TheReportsHashesAreOfWhatAFileInWriteAheadLogModeHolds) {
    // Another program keeps the destination open, so closing the run's connection does not move
    // the log into the file.
    OtherConnection reader(DestFile());
    ASSERT_EQ(reader.Exec("PRAGMA journal_mode=WAL; SELECT count(*) FROM trader;"), SQLITE_OK);
    form.check = {0, 1};
    AnswerYes();
    conversion.Command1_Click();
    const QString report = Report();
    const QString after = report.mid(report.indexOf(QStringLiteral("[작업 후 파일]")));
    reader.Close();
    EXPECT_TRUE(
        after.contains(QStringLiteral("SHA-256: ") + QString::fromLatin1(FileSha256(DestFile()))))
        << Str(after);
}

#ifdef Q_OS_UNIX
TEST_F(RunSaysTest, ARunsFolderAndItsFilesAreTheOwnersOnly) {
    const mode_t old = ::umask(0);
    form.check = {1, 1};
    AnswerYes();
    conversion.Command1_Click();
    ::umask(old);
    ASSERT_FALSE(conversion.LastRunFolder().isEmpty());
    const QDir folder(conversion.LastRunFolder());
    const auto mode = [](const QString& path) {
        struct stat st {};
        ::stat(QFile::encodeName(path).constData(), &st);
        return st.st_mode & 0777;
    };
    for (const auto& [name, wanted] : std::vector<std::pair<QString, mode_t>>{
             {QStringLiteral("."), 0700},
             {kDestProduct, 0700},
             {kDestProduct + QStringLiteral("/dbbasic.mdb"), 0600},
             {kReportName, 0600},
             {kRunManifestName, 0600}}) {
        EXPECT_EQ(mode(folder.filePath(name)), wanted) << Str(name);
    }
}
#endif

}  // namespace
