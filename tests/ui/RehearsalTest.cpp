// The rehearsal as the user starts it: the window of "--rehearse" and the run without a window.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QSettings>

#include "demo/DemoData.h"
#include "support/ScriptedPlatform.h"
#include "support/SqliteFixture.h"
#include "ui/Form1.h"
#include "ui/NoWindow.h"
#include "ui/QtPlatform.h"

namespace {

const QString kRoot = QStringLiteral("dorvik2solvane-rehearsal-tests");

class RehearsalFiles : public ::testing::Test {
protected:
    void SetUp() override {
        QDir().mkpath(tmp.File(QStringLiteral("Dorvik")));
        QDir().mkpath(tmp.File(QStringLiteral("SolvanePlus")));
        WriteSourceDatabase(Source(), DemoSize{200, 40}, kDemoSeed);
        WriteDestDatabase(Dest(), kDemoDestSize, kDemoSeed);
        SetFolder(QStringLiteral("세금계산서"), tmp.File(QStringLiteral("Dorvik")));
        SetFolder(QStringLiteral("Solvane2"), tmp.File(QStringLiteral("SolvanePlus")));
    }
    void TearDown() override {
        for (const QString& app : {QStringLiteral("세금계산서"), QStringLiteral("Solvane2")}) {
            QtPlatform::OpenSettings(app, kRoot)->clear();
        }
    }
    static void SetFolder(const QString& app, const QString& folder) {
        auto settings = QtPlatform::OpenSettings(app, kRoot);
        settings->setValue(QStringLiteral("환경설정/db경로"), QDir::toNativeSeparators(folder));
        settings->sync();
    }
    QString Source() const { return tmp.File(QStringLiteral("Dorvik/dbbasic.mdb")); }
    QString Dest() const { return tmp.File(QStringLiteral("SolvanePlus/dbbasic.mdb")); }
    int Rehearse(QStringList more = {}) {
        return RehearseWithoutWindow(
            QStringList{QStringLiteral("--rehearse"), QStringLiteral("--no-window")} + more, kRoot);
    }

    TempFolder tmp;
};

TEST_F(RehearsalFiles, TheWindowSaysItRehearsesAndAsksForNoPassword) {
    ScriptedPlatform platform;
    platform.runsFolder = tmp.File(QStringLiteral("runs"));
    platform.SetSetting(QStringLiteral("세금계산서"), QStringLiteral("환경설정"),
                        QStringLiteral("db경로"), tmp.File(QStringLiteral("Dorvik")));
    platform.SetSetting(QStringLiteral("Solvane2"), QStringLiteral("환경설정"),
                        QStringLiteral("db경로"), tmp.File(QStringLiteral("SolvanePlus")));
    Form1 form(platform);
    form.SetRehearsal(true);
    form.Form_Load();
    EXPECT_TRUE(form.windowTitle().startsWith(Form1::kDesignCaption));
    EXPECT_TRUE(form.windowTitle().endsWith(QStringLiteral(" - 미리 해보기")));
    const QByteArray dest = FileBytes(Dest());

    form.Check1(1)->setChecked(true);
    form.Command1_Click();

    ASSERT_EQ(platform.calls.size(), 1u);
    EXPECT_EQ(platform.calls[0].kind, ScriptedPlatform::Kind::MsgBox);
    EXPECT_TRUE(platform.calls[0].text.startsWith(
        QStringLiteral("미리 해보기 결과: 실제 작업은 오류 없이")))
        << platform.calls[0].text.toStdString();
    EXPECT_TRUE(platform.calls[0].text.contains(
        QStringLiteral("[trader]\r\n  원본 40건, 복사될 행 40건, 실패할 행 0건")));
    EXPECT_FALSE(platform.calls[0].text.contains(QStringLiteral("[product]")));
    EXPECT_TRUE(
        form.Text().startsWith(QStringLiteral("미리 해보기: 실제 파일은 바뀌지 않습니다.")));
    EXPECT_TRUE(FileBytes(Dest()) == dest);
}

TEST_F(RehearsalFiles, WithoutAWindowTheExitCodeSaysWhatARunWouldDo) {
    const QByteArray source = FileBytes(Source());
    EXPECT_EQ(Rehearse(), kRehearsalCompletes);
    EXPECT_EQ(Rehearse({QStringLiteral("--tables"), QStringLiteral("trader")}),
              kRehearsalCompletes);
    EXPECT_EQ(Rehearse({QStringLiteral("--tables"), QStringLiteral("products")}),
              kRehearsalNotMade);
    EXPECT_EQ(Rehearse({QStringLiteral("--tables")}), kRehearsalNotMade);

    // Every trader refused by the destination: a run would end with errors.
    ExecSql(Dest(),
            "CREATE TRIGGER refuse BEFORE INSERT ON trader BEGIN SELECT RAISE(ABORT, 'no'); END;");
    const QByteArray dest = FileBytes(Dest());
    EXPECT_EQ(Rehearse({QStringLiteral("--tables"), QStringLiteral("product,trader")}),
              kRehearsalWithErrors);
    EXPECT_TRUE(FileBytes(Source()) == source);
    EXPECT_TRUE(FileBytes(Dest()) == dest);

    // No folder for SolvanePlus: nothing could be rehearsed.
    QtPlatform::OpenSettings(QStringLiteral("Solvane2"), kRoot)->clear();
    EXPECT_EQ(Rehearse(), kRehearsalNotMade);
}

}  // namespace
