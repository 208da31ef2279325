// The restore window: the runs it lists and a restore through it, offscreen, with a scripted
// user and a runs folder of the test's own.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <memory>

#include "conversion/Restore.h"
#include "conversion/RunFolder.h"
#include "support/FileContents.h"
#include "support/RestoreFixture.h"
#include "ui/Form1.h"
#include "ui/QtPlatform.h"
#include "ui/RestoreWindow.h"
#include "ui/UiTestSupport.h"

namespace {

const QDateTime kFirst(QDate(2026, 12, 7), QTime(10, 0, 0));
const QDateTime kSecond(QDate(2026, 12, 8), QTime(16, 49, 18));

constexpr int kConfirmFlags = vbYesNo + vbQuestion + vbDefaultButton2;

// A left click on a row of a list, as the window system would deliver it.
void ClickItem(QTreeWidget* list, QTreeWidgetItem* item) {
    QWidget* viewport = list->viewport();
    const QPoint inViewport = list->visualItemRect(item).center();
    const QPointF local = viewport->mapTo(list->window(), inViewport);
    const QPointF global = viewport->mapToGlobal(inViewport);
    static int timestamp = 50000;
    QWindow* window = list->window()->windowHandle();
    qt_handleMouseEvent(window, local, global, Qt::LeftButton, Qt::LeftButton,
                        QEvent::MouseButtonPress, Qt::NoModifier, timestamp += 10);
    qt_handleMouseEvent(window, local, global, Qt::NoButton, Qt::LeftButton,
                        QEvent::MouseButtonRelease, Qt::NoModifier, timestamp += 10);
    QCoreApplication::processEvents();
}

class RestoreWindowTest : public RestoreFixture {
protected:
    // A window on the runs folder as it is now, shown and active.
    RestoreWindow& Open() {
        window = std::make_unique<RestoreWindow>(platform);
        window->SetClock([] { return QDateTime(QDate(2026, 12, 9), QTime(9, 5, 0)); });
        EXPECT_TRUE(uitest::ShowActive(*window));
        return *window;
    }

    QStringList Column(int column) const {
        QStringList texts;
        for (int i = 0; i < window->RunList()->topLevelItemCount(); ++i) {
            texts << window->RunList()->topLevelItem(i)->text(column);
        }
        return texts;
    }

    std::unique_ptr<RestoreWindow> window;
};

TEST_F(RestoreWindowTest, ListsRunsNewestFirstWithTheNewestSelected) {
    const QString first = MakeRun(kFirst, QStringLiteral("정상 완료"));
    MakeRun(kSecond.addSecs(1), QStringLiteral("오류 있음"));
    MakeRun(kSecond, QStringLiteral("정상 완료"));
    const QString sameSecond = MakeRun(kSecond.addSecs(1), QStringLiteral("정상 완료"));

    RestoreWindow& w = Open();

    EXPECT_EQ(Column(0),
              (QStringList{
                  QStringLiteral("2026-12-08 16:49:19 (2)"), QStringLiteral("2026-12-08 16:49:19"),
                  QStringLiteral("2026-12-08 16:49:18"), QStringLiteral("2026-12-07 10:00:00")}));
    EXPECT_EQ(Column(1), QStringList(4, QStringLiteral("Dorvik, SolvanePlus")));
    EXPECT_EQ(Column(2), (QStringList{QStringLiteral("정상 완료"), QStringLiteral("오류 있음"),
                                      QStringLiteral("정상 완료"), QStringLiteral("정상 완료")}));
    EXPECT_EQ(w.SelectedRun(), sameSecond);
    EXPECT_EQ(w.RunList()->currentItem(), w.RunList()->topLevelItem(0));
    EXPECT_TRUE(w.RestoreButton()->isEnabled());
    EXPECT_FALSE(w.EmptyNote()->isVisible());

    ClickItem(w.RunList(), w.RunList()->topLevelItem(3));
    EXPECT_EQ(w.SelectedRun(), first);
}

TEST_F(RestoreWindowTest, LooksLikeTheMainWindow) {
    MakeRun(kFirst);
    RestoreWindow& w = Open();
    Form1 form(platform);
    form.Form_Load();

    EXPECT_EQ(w.RestoreButton()->text(), QStringLiteral("복원"));
    EXPECT_EQ(w.windowTitle(), Form1::kDesignCaption + QStringLiteral(" - 복원 ver.") +
                                   form.windowTitle().section(QStringLiteral(" ver."), 1));
    EXPECT_EQ(w.font().pixelSize(), form.font().pixelSize());
    EXPECT_FALSE(w.windowIcon().isNull());
    EXPECT_EQ(w.windowIcon().pixmap(32).toImage(), form.windowIcon().pixmap(32).toImage());
    EXPECT_EQ(w.size(), form.size());

    // Both start centred on the screen.
    const RestoreWindow unshown(platform);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((unshown.geometry().center() - screen.center()).manhattanLength(), 2);
    EXPECT_LE((form.geometry().center() - screen.center()).manhattanLength(), 2);
}

TEST_F(RestoreWindowTest, AnEmptyRunsFolderSaysThereIsNoRunYet) {
    RestoreWindow& w = Open();
    EXPECT_EQ(w.RunList()->topLevelItemCount(), 0);
    EXPECT_TRUE(w.EmptyNote()->isVisible());
    EXPECT_TRUE(w.EmptyNote()->text().contains(QStringLiteral("아직 실행한 작업이 없습니다")));
    EXPECT_FALSE(w.RestoreButton()->isEnabled());

    uitest::SystemClick(w.RestoreButton());
    w.Restore_Click();
    EXPECT_TRUE(platform.calls.empty());
}

TEST_F(RestoreWindowTest, RunsWithoutAReportOrWithADamagedOneAreListedAndMarked) {
    MakeRun(kFirst, QStringLiteral("정상 완료"), false);  // no report.txt
    MakeRun(kFirst.addSecs(1), std::nullopt);             // a report without its outcome
    const QString garbled = MakeRun(kFirst.addSecs(2));
    QFile report(QDir(garbled).filePath(kReportName));
    ASSERT_TRUE(report.open(QIODevice::WriteOnly | QIODevice::Truncate));
    report.write("\xff\xfe\x00garbage");
    report.close();
    const QString noManifest = MakeRun(kFirst.addSecs(3));
    QFile manifest(QDir(noManifest).filePath(kRunManifestName));
    ASSERT_TRUE(manifest.open(QIODevice::WriteOnly | QIODevice::Truncate));
    manifest.write("{ \"files\": [");
    manifest.close();
    const QString noBackup = MakeRun(kFirst.addSecs(4));
    ASSERT_TRUE(QFile::remove(QDir(noBackup).filePath(QStringLiteral("SolvanePlus/dbbasic.mdb"))));

    RestoreWindow& w = Open();

    ASSERT_EQ(w.RunList()->topLevelItemCount(), 5);
    EXPECT_EQ(Column(2), (QStringList{QStringLiteral("정상 완료"), QStringLiteral("정상 완료"),
                                      RestoreWindow::kNoOutcome, RestoreWindow::kNoOutcome,
                                      RestoreWindow::kNoReport}));
    EXPECT_EQ(Column(1),
              (QStringList{QStringLiteral("Dorvik, SolvanePlus ") + RestoreWindow::kBackupNotFound,
                           RestoreWindow::kNoManifest, QStringLiteral("Dorvik, SolvanePlus"),
                           QStringLiteral("Dorvik, SolvanePlus"),
                           QStringLiteral("Dorvik, SolvanePlus")}));
    EXPECT_EQ(RestoreWindow::kNoManifest, QStringLiteral("(백업 정보 없음: 복원할 수 없음)"));
    EXPECT_EQ(RestoreWindow::kNoReport, QStringLiteral("(보고서 없음)"));

    // What cannot be restored cannot be chosen for a restore; the rest can.
    EXPECT_FALSE(w.RestoreButton()->isEnabled());
    ClickItem(w.RunList(), w.RunList()->topLevelItem(1));
    EXPECT_EQ(w.SelectedRun(), noManifest);
    EXPECT_FALSE(w.RestoreButton()->isEnabled());
    ClickItem(w.RunList(), w.RunList()->topLevelItem(4));
    EXPECT_TRUE(w.RestoreButton()->isEnabled());
}

TEST_F(RestoreWindowTest, NoAtTheConfirmationChangesNothing) {
    MakeRun(kSecond);
    ChangeBoth();
    const QByteArray source = FileBytes(SourceFile());
    const QByteArray dest = FileBytes(DestFile());
    RestoreWindow& w = Open();

    // Once answered No, once with Enter (the default button).
    platform.msgBoxAnswers = {vbNo};
    uitest::SystemClick(w.RestoreButton());
    w.Restore_Click();

    const std::vector<ScriptedPlatform::Call> boxes = platform.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    for (const ScriptedPlatform::Call& box : boxes) {
        EXPECT_EQ(box.flags, kConfirmFlags);
        EXPECT_TRUE(box.text.endsWith(QStringLiteral("복원 하시겠습니까?")));
        EXPECT_TRUE(box.text.contains(QStringLiteral("2026-12-08 16:49:18")));
        EXPECT_TRUE(box.text.contains(QStringLiteral("SolvanePlus: ") +
                                      QDir::toNativeSeparators(DestFile())));
    }
    EXPECT_EQ(FileBytes(SourceFile()), source);
    EXPECT_EQ(FileBytes(DestFile()), dest);
    EXPECT_FALSE(QFileInfo::exists(QDir(w.SelectedRun()).filePath(kBeforeRestoreFolder)));
}

TEST_F(RestoreWindowTest, SelectYesAndTheMessageRestoreBothFiles) {
    const QString older = MakeRun(kFirst);
    const QString olderSource = Snapshot(SourceFile(), QStringLiteral("older-source"));
    const QString olderDest = Snapshot(DestFile(), QStringLiteral("older-dest"));
    ChangeBoth();
    MakeRun(kSecond);
    ExecSql(DestFile(), "DELETE FROM trader;");
    RestoreWindow& w = Open();

    // The older run, chosen with the mouse, then 복원 and Yes.
    ClickItem(w.RunList(), w.RunList()->topLevelItem(1));
    ASSERT_EQ(w.SelectedRun(), older);
    platform.msgBoxAnswers = {vbYes};
    uitest::SystemClick(w.RestoreButton());

    const std::vector<ScriptedPlatform::Call> boxes = platform.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].flags, kConfirmFlags);
    EXPECT_EQ(boxes[1].flags, vbOKOnly + vbInformation);
    EXPECT_TRUE(boxes[1].text.startsWith(QStringLiteral("복원이 끝났습니다.")));
    EXPECT_TRUE(boxes[1].text.contains(QStringLiteral("Dorvik: ") +
                                       QDir::toNativeSeparators(SourceFile())));
    EXPECT_TRUE(boxes[1].text.contains(QStringLiteral("SolvanePlus: ") +
                                       QDir::toNativeSeparators(DestFile())));
    ExpectSameContents(SourceFile(), olderSource);
    ExpectSameContents(DestFile(), olderDest);
    EXPECT_EQ(w.LastResult().outcome, RestoreResult::Outcome::Restored);
    // The list is read again and keeps the run that was restored selected.
    EXPECT_EQ(w.SelectedRun(), older);
}

TEST_F(RestoreWindowTest, AWholeRunIsUndoneThroughTheWindow) {
    // A run folder of the files before the run, then the run itself. A run that keeps a run
    // folder of its own makes a newer one, of the same files; the newest is the one restored.
    MakeRun(kSecond);
    const QString sourceBefore = Snapshot(SourceFile(), QStringLiteral("source-before"));
    const QString destBefore = Snapshot(DestFile(), QStringLiteral("dest-before"));
    form.check = {vbChecked, vbChecked};
    AnswerYes();
    conversion.Command1_Click();
    ASSERT_EQ(QueryValue(DestFile(), "SELECT count(*) FROM pclass"), "1");
    ASSERT_EQ(QueryValue(SourceFile(), "SELECT count(*) FROM product WHERE unit = ''"), "0");
    platform.calls.clear();

    RestoreWindow& w = Open();
    ASSERT_EQ(w.SelectedRun(), ListRunFolders(RunsRoot()).value(0));
    platform.msgBoxAnswers = {vbYes};
    uitest::SystemClick(w.RestoreButton());

    ASSERT_EQ(platform.MessageBoxes().size(), 2u);
    EXPECT_EQ(platform.MessageBoxes()[1].flags, vbOKOnly + vbInformation)
        << platform.MessageBoxes()[1].text.toStdString();
    ExpectSameContents(SourceFile(), sourceBefore);
    ExpectSameContents(DestFile(), destBefore);
}

TEST_F(RestoreWindowTest, ARefusedRestoreIsOneMessageAndChangesNothing) {
    MakeRun(kSecond);
    ChangeBoth();
    const QByteArray source = FileBytes(SourceFile());
    const QByteArray dest = FileBytes(DestFile());
    SetFolders(SourceFolder(), tmp.File(QStringLiteral("elsewhere")));
    RestoreWindow& w = Open();

    platform.msgBoxAnswers = {vbYes};
    uitest::SystemClick(w.RestoreButton());

    const std::vector<ScriptedPlatform::Call> boxes = platform.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].flags, vbOKOnly + vbExclamation);
    EXPECT_TRUE(boxes[1].text.startsWith(QStringLiteral("복원하지 않았습니다.")));
    EXPECT_TRUE(boxes[1].text.endsWith(QStringLiteral("아무 파일도 바꾸지 않았습니다.")));
    EXPECT_EQ(FileBytes(SourceFile()), source);
    EXPECT_EQ(FileBytes(DestFile()), dest);
}

TEST_F(RestoreWindowTest, EachRunsSizeAndTheTotalAreShown) {
    const QString first = MakeRun(kFirst);
    const QString second = MakeRun(kSecond);
    RestoreWindow& w = Open();
    const auto size = [](qint64 bytes) {
        return QLocale(QLocale::Korean)
            .formattedDataSize(bytes, 1, QLocale::DataSizeTraditionalFormat);
    };
    ASSERT_GT(FolderSize(first), 0);
    EXPECT_EQ(Column(3), (QStringList{size(FolderSize(second)), size(FolderSize(first))}));
    const auto* note = w.findChild<QLabel*>(QStringLiteral("FolderNote"));
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->text().endsWith(QStringLiteral(" (모두 ") +
                                      size(FolderSize(first) + FolderSize(second)) +
                                      QLatin1Char(')')))
        << note->text().toStdString();
}

TEST_F(RestoreWindowTest, AnUnfinishedRestoreIsOfferedAtTheWindowsStart) {
    const QString run = MakeRun(kSecond);
    ChangeBoth();
    QFile intent(QDir(run).filePath(kRestoreIntentName));
    ASSERT_TRUE(intent.open(QIODevice::WriteOnly));
    intent.write(R"({"done": false, "saveFolder": "", "files": [
        {"product": "Dorvik", "target": "d", "state": "restored"},
        {"product": "SolvanePlus", "target": "s", "state": "pending"}]})");
    intent.close();
    platform.msgBoxAnswers = {vbYes};

    Open();

    const std::vector<ScriptedPlatform::Call> boxes = platform.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("Dorvik: d (백업으로 복원됨)")));
    EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("SolvanePlus: s (바꾸지 않음)")));
    EXPECT_EQ(boxes[1].flags, vbOKOnly + vbInformation);
    ExpectSameContents(DestFile(), QDir(run).filePath(QStringLiteral("SolvanePlus/dbbasic.mdb")));
    EXPECT_TRUE(FindUnfinishedRestores(RunsRoot()).empty());
}

TEST_F(RestoreWindowTest, TheWindowKeepsPaintingWhileItRestores) {
    // A backup large enough that hashing it takes a while.
    ExecSql(SourceFile(), "CREATE TABLE big(b); INSERT INTO big VALUES (zeroblob(60000000));");
    MakeRun(kSecond);
    RestoreWindow& w = Open();
    int paintsBeforeTheFirstCopy = -1;
    uitest::EventCounter paints(w.RunList()->viewport(), QEvent::Paint);
    // The list is to be painted again when the confirmation closes; the restore's checks (the
    // hashes) come before its first copy.
    platform.onMsgBox = [&](const ScriptedPlatform::Call&) {
        paints.count = 0;
        w.RunList()->viewport()->update();
    };
    w.SetCopy([&](const QString&, const QString&) {
        if (paintsBeforeTheFirstCopy < 0) {
            paintsBeforeTheFirstCopy = paints.count;
        }
    });
    platform.msgBoxAnswers = {vbYes};
    uitest::SystemClick(w.RestoreButton());
    EXPECT_EQ(w.LastResult().outcome, RestoreResult::Outcome::Restored);
    EXPECT_GT(paintsBeforeTheFirstCopy, 0);
}

TEST(RestoreWindowPlatform, TheRealPlatformListsTheRunsFolderItIsGiven) {
    // The window reads the folder the platform names, never the user's own data folder here.
    QTemporaryDir runs;
    QtPlatform platform(QStringLiteral("dorvik2solvane-tests"));
    platform.SetRunsFolder(runs.path());
    RestoreWindow w(platform);
    EXPECT_EQ(w.RunList()->topLevelItemCount(), 0);
    EXPECT_FALSE(w.RestoreButton()->isEnabled());

    QString why;
    ASSERT_TRUE(CreateRunFolder(runs.path(), kFirst, why));
    w.Refresh();
    EXPECT_EQ(w.RunList()->topLevelItemCount(), 1);
    EXPECT_EQ(w.RunList()->topLevelItem(0)->text(1), RestoreWindow::kNoManifest);
    EXPECT_EQ(w.RunList()->topLevelItem(0)->text(2), RestoreWindow::kNoReport);
}

}  // namespace
