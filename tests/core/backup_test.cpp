// The backup every run takes before its first change: where it goes, what it holds, and the run
// that stops, with both files as they were, when the backup cannot be made or verified.

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>

#ifdef Q_OS_LINUX
#include <sys/mount.h>
#include <unistd.h>
#endif

#include "conversion/RunFolder.h"
#include "conversion/RunRecord.h"
#include "support/FileContents.h"
#include "support/RunFixture.h"

namespace {

const QString kNothingChanged = QStringLiteral("아무 자료도 바꾸지 않았습니다.");

class BackupTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        ASSERT_TRUE(QFile::copy(SourceFile(), tmp.File(QStringLiteral("source-before.mdb"))));
        ASSERT_TRUE(QFile::copy(DestFile(), tmp.File(QStringLiteral("dest-before.mdb"))));
        sourceBytes = FileBytes(SourceFile());
        destBytes = FileBytes(DestFile());
        form.check = {1, 1};
    }
    void TearDown() override {
#ifdef Q_OS_LINUX
        if (!mounted.isEmpty()) {
            ::umount(QFile::encodeName(mounted).constData());
        }
#endif
    }

    // A run whose backup failed: the last box says so, names the folder, and nothing changed.
    void ExpectStoppedBeforeAnyChange(const QString& folder, const QString& cause) {
        const auto boxes = platform.MessageBoxes();
        ASSERT_EQ(boxes.size(), 2u);
        const QString text = boxes[1].text;
        EXPECT_TRUE(text.startsWith(QStringLiteral("작업 전 백업을 만들지 못했습니다.\r\n") +
                                    QDir::toNativeSeparators(folder)))
            << text.toStdString();
        EXPECT_TRUE(text.contains(cause)) << text.toStdString();
        EXPECT_TRUE(text.endsWith(kNothingChanged)) << text.toStdString();
        EXPECT_EQ(boxes[1].flags, vbOKOnly);
        EXPECT_TRUE(
            form.text.startsWith(QStringLiteral("\r\n작업 시작\r\n\r\n작업 안 함: 백업 "
                                                "실패: ")))
            << form.text.toStdString();
        EXPECT_EQ(FileBytes(SourceFile()), sourceBytes);
        EXPECT_EQ(FileBytes(DestFile()), destBytes);
        EXPECT_TRUE(conversion.LastRunFolder().isEmpty());
        EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), 0);
    }

    QByteArray sourceBytes;
    QByteArray destBytes;
    QString mounted;
};

TEST_F(BackupTest, TwoRunsInTheSameSecondGetFoldersOfTheirOwn) {
    const QDateTime now = QDateTime::currentDateTime();
    QString why;
    const auto first = CreateRunFolder(tmp.File(QStringLiteral("r")), now, why);
    const auto second = CreateRunFolder(tmp.File(QStringLiteral("r")), now, why);
    const auto third = CreateRunFolder(tmp.File(QStringLiteral("r")), now, why);
    ASSERT_TRUE(first && second && third) << why.toStdString();
    EXPECT_NE(*first, *second);
    EXPECT_EQ(*second, *first + QStringLiteral("-2"));
    EXPECT_EQ(ListRunFolders(tmp.File(QStringLiteral("r"))),
              (QStringList{*third, *second, *first}));
}

TEST_F(BackupTest, ProductsAndTradersBackUpBothFilesAsTheyWere) {
    AnswerYes();
    conversion.Command1_Click();
    const QString folder = conversion.LastRunFolder();
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_TRUE(folder.startsWith(platform.runsFolder));
    ExpectSameContents(folder + QStringLiteral("/Dorvik/dbbasic.mdb"),
                       tmp.File(QStringLiteral("source-before.mdb")));
    ExpectSameContents(folder + QStringLiteral("/SolvanePlus/dbbasic.mdb"),
                       tmp.File(QStringLiteral("dest-before.mdb")));
    EXPECT_TRUE(form.text.startsWith(StartedLines()));
}

TEST_F(BackupTest, TradersOnlyLeaveTheSourceOutOfTheBackup) {
    // Traders change nothing in the source, so only the destination is copied.
    form.check = {0, 1};
    AnswerYes();
    conversion.Command1_Click();
    const QString folder = conversion.LastRunFolder();
    ASSERT_FALSE(folder.isEmpty());
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/Dorvik")));
    ExpectSameContents(folder + QStringLiteral("/SolvanePlus/dbbasic.mdb"),
                       tmp.File(QStringLiteral("dest-before.mdb")));
    const auto manifest = ReadManifest(folder);
    ASSERT_TRUE(manifest.has_value());
    ASSERT_EQ(manifest->files.size(), 1u);
    EXPECT_EQ(manifest->files[0].rowCounts, (RowCounts{{QStringLiteral("trader"), 1}}));
}

TEST_F(BackupTest, TooLittleFreeSpaceStopsTheRunBeforeAnyChange) {
    conversion.SetRecordSeams({.freeSpace = [](const QString&) { return qint64(1000); }});
    AnswerYes();
    conversion.Command1_Click();
    ExpectStoppedBeforeAnyChange(platform.runsFolder, QStringLiteral("남은 공간 1000바이트"));
    // The partial run folder is gone.
    EXPECT_TRUE(ListRunFolders(platform.runsFolder).isEmpty());
}

TEST_F(BackupTest, AFolderThatCannotBeCreatedStopsTheRunBeforeAnyChange) {
    // A file where the runs folder should be: no one, not even root, can create a folder in it.
    QFile blocker(tmp.File(QStringLiteral("blocker")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    platform.runsFolder = tmp.File(QStringLiteral("blocker/runs"));
    AnswerYes();
    conversion.Command1_Click();
    ExpectStoppedBeforeAnyChange(platform.runsFolder, QStringLiteral("폴더를 만들 수 없습니다"));
}

TEST_F(BackupTest, ABackupThatFailsVerificationStopsTheRunBeforeAnyChange) {
    conversion.SetRecordSeams({.beforeVerify = [](const QString& path) {
        // Damaged pages: the file keeps SQLite's header, its tables are garbage.
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.seek(100);
        file.write(QByteArray(static_cast<int>(file.size()) - 100, '\x5a'));
    }});
    AnswerYes();
    conversion.Command1_Click();
    ExpectStoppedBeforeAnyChange(platform.runsFolder,
                                 QStringLiteral("Dorvik 백업을 검증하지 못했습니다"));
    EXPECT_TRUE(ListRunFolders(platform.runsFolder).isEmpty());
}

TEST_F(BackupTest, ABackupShortOfRowsStopsTheRunBeforeAnyChange) {
    // A copy that opens and passes SQLite's check but lacks rows: only the row counts find it.
    conversion.SetRecordSeams({.beforeVerify = [](const QString& path) {
        if (path.contains(QStringLiteral("/SolvanePlus/"))) {
            ExecSql(path, "DELETE FROM trader;");
        }
    }});
    AnswerYes();
    conversion.Command1_Click();
    ExpectStoppedBeforeAnyChange(
        platform.runsFolder,
        QStringLiteral("SolvanePlus 백업을 검증하지 못했습니다: 'trader' 테이블의 행 수가 "
                       "다릅니다: 원본 1건, 복사본 0건"));
    EXPECT_TRUE(QDir(platform.runsFolder)
                    .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty());
}

#ifdef Q_OS_LINUX
TEST_F(BackupTest, AFullDiskStopsTheRunBeforeAnyChange) {
    // A disk too small for the copy: a small memory file system, where this process may mount
    // one.
    mounted = tmp.File(QStringLiteral("small"));
    ASSERT_TRUE(QDir().mkpath(mounted));
    if (::mount("tmpfs", QFile::encodeName(mounted).constData(), "tmpfs", 0, "size=12k") != 0) {
        mounted.clear();
        GTEST_SKIP() << "no permission to mount a small file system here";
    }
    platform.runsFolder = mounted + QStringLiteral("/runs");
    // Unknown free space: the copy is tried and the disk fills under it.
    conversion.SetRecordSeams({.freeSpace = [](const QString&) { return qint64(-1); }});
    AnswerYes();
    conversion.Command1_Click();
    ExpectStoppedBeforeAnyChange(platform.runsFolder, QStringLiteral("디스크 공간이 부족해"));
    EXPECT_TRUE(ListRunFolders(platform.runsFolder).isEmpty());

    // Measured, the same disk is found too small before anything is copied.
    conversion.SetRecordSeams({});
    platform.calls.clear();
    AnswerYes();
    conversion.Command1_Click();
    ExpectStoppedBeforeAnyChange(platform.runsFolder, QStringLiteral("빈 공간이 부족합니다"));
}
#endif

}  // namespace

namespace {

TEST(FileHash, MatchesSha256OfTheWholeFileWhateverItsSize) {
    TempFolder tmp;
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(tmp.File(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    };
    EXPECT_EQ(FileSha256(write(QStringLiteral("empty"), {})),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(FileSha256(write(QStringLiteral("abc"), "abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // Several read chunks, and two files hashed at once.
    QByteArray large(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < large.size(); ++i) {
        large[i] = static_cast<char>((i * 131) % 251);
    }
    const QString largePath = write(QStringLiteral("large"), large);
    const QByteArray expected = QCryptographicHash::hash(large, QCryptographicHash::Sha256).toHex();
    EXPECT_EQ(FilesSha256({largePath, tmp.File(QStringLiteral("abc")),
                           tmp.File(QStringLiteral("missing"))}),
              (std::vector<QByteArray>{
                  expected, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                  QByteArray()}));
}

}  // namespace
