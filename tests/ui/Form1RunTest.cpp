// A run holds the window's thread: the window keeps painting, takes no input, and the modal
// dialogs of the run still answer.

#include <QtTest/qtestspontaneevent.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "data/Engine.h"
#include "support/ScriptedPlatform.h"
#include "support/SqliteFixture.h"
#include "support/Wine.h"
#include "ui/Form1.h"
#include "ui/QtPlatform.h"
#include "ui/UiTestSupport.h"

namespace {

// Holds a run open for a while, calling step over and over.
void BusyFor(int ms, const std::function<void()>& step) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        step();
    }
}

class Form1Run : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(uitest::ShowActive(form)); }

    // Runs Start with nothing selected; the run's one message box calls during().
    void RunWith(const std::function<void()>& during) {
        platform.onMsgBox = [this, during](const ScriptedPlatform::Call&) {
            if (!hookRan) {
                hookRan = true;
                EXPECT_TRUE(form.RunInProgress());
                during();
            }
        };
        form.Command1_Click();
        EXPECT_TRUE(hookRan);
        EXPECT_FALSE(form.RunInProgress());
        // Whatever might still be queued gets its chance to act.
        uitest::WaitFor([] { return false; }, 50);
    }

    ScriptedPlatform platform;
    Form1 form{platform};
    bool hookRan = false;
};

TEST_F(Form1Run, InputPostedDuringARunIsDroppedNotDeferred) {
    RunWith([this] {
        uitest::PostClick(form.Command1());
        uitest::PostClick(form.Command2());
        uitest::PostClick(form.Check1(0));
        QCoreApplication::postEvent(
            form.Text1(), new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
    });
    // One run, one box: the queued Start click did not start a second run after the first.
    EXPECT_EQ(platform.MessageBoxes().size(), 1u);
    EXPECT_EQ(platform.calls.size(), 1u);  // and Close did not unload
    EXPECT_FALSE(form.Check1(0)->isChecked());
    EXPECT_TRUE(form.Text().isEmpty());
}

TEST_F(Form1Run, TheSameInputActsWhenNoRunIsBusy) {
    // The counterpart of the test above: the posted events are real input.
    uitest::PostClick(form.Check1(0));
    QCoreApplication::postEvent(form.Text1(),
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
    uitest::PostClick(form.Command1());
    uitest::WaitFor([this] { return !platform.calls.empty(); });
    EXPECT_TRUE(form.Check1(0)->isChecked());
    EXPECT_EQ(form.Text(), QStringLiteral("x"));
    // Start ran: product selected, so it asked for the password.
    ASSERT_FALSE(platform.calls.empty());
    EXPECT_EQ(platform.calls[0].kind, ScriptedPlatform::Kind::InputBox);
}

TEST_F(Form1Run, WindowSystemInputDuringARunIsEaten) {
    RunWith([this] {
        uitest::SystemClick(form.Command1());
        uitest::SystemClick(form.Command2());
        uitest::SystemClick(form.Check1(1));
        uitest::SystemClick(form.Text1());
        uitest::SystemKey(&form, Qt::Key_A, QStringLiteral("a"));
        uitest::SystemKey(&form, Qt::Key_Space, QStringLiteral(" "));
        uitest::SystemKey(&form, Qt::Key_Tab);
    });
    EXPECT_EQ(platform.MessageBoxes().size(), 1u);
    EXPECT_EQ(platform.calls.size(), 1u);
    EXPECT_FALSE(form.Check1(1)->isChecked());
    EXPECT_TRUE(form.Text().isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), form.Command1());
}

TEST_F(Form1Run, TitleBarCloseDuringARunIsRefused) {
    RunWith([this] {
        QCloseEvent close;
        QSpontaneKeyEvent::setSpontaneous(&close);
        QCoreApplication::sendEvent(form.windowHandle(), &close);
        EXPECT_FALSE(close.isAccepted());
    });
    EXPECT_TRUE(form.isVisible());
    // After the run the close box works again.
    QCloseEvent close;
    QSpontaneKeyEvent::setSpontaneous(&close);
    QCoreApplication::sendEvent(form.windowHandle(), &close);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(Form1Run, LogLinesArePaintedWhileTheRunIsBusy) {
    if (UnderWine()) {
        GTEST_SKIP() << "Wine paints a window when its X window is exposed, not when Qt asks, so "
                        "the number of paints during a run says nothing about the program";
    }
    uitest::EventCounter paints(form.Text1()->viewport(), QEvent::Paint);
    int paintedDuringRun = 0;
    RunWith([&] {
        int n = 0;
        BusyFor(300, [&] { form.AddLog(QStringLiteral("line %1").arg(++n)); });
        paintedDuringRun = paints.count;
    });
    // Painted during the run, but not after every line: at most once per 50 ms or so.
    EXPECT_GE(paintedDuringRun, 2);
    EXPECT_LE(paintedDuringRun, 12);
}

TEST_F(Form1Run, ProgressWritesAlsoLetTheWindowPaint) {
    uitest::EventCounter paints(form.Text1()->viewport(), QEvent::Paint);
    int paintedAfterLine = -1;
    int paintedDuringRun = -1;
    RunWith([&] {
        form.AddLog(QStringLiteral("pending"));
        if (paints.count > 0) {
            // That line was painted at once (a slow start); the next one is not.
            form.AddLog(QStringLiteral("pending too"));
        }
        paintedAfterLine = paints.count;
        // The same value again and again: the bar does not move (a moving bar repaints the
        // window by itself), so only the pump can paint the line.
        BusyFor(200, [&] { form.SetValue(form.Value()); });
        paintedDuringRun = paints.count;
    });
    EXPECT_GT(paintedDuringRun, paintedAfterLine);
}

TEST_F(Form1Run, AMillionProgressWritesStayCheap) {
    qint64 elapsed = 0;
    RunWith([&] {
        form.SetMax(1000000.0f);
        form.SetValue(0.0f);
        QElapsedTimer clock;
        clock.start();
        for (int row = 0; row < 1000000; ++row) {
            form.SetValue(form.Value() + 1.0f);
        }
        elapsed = clock.elapsed();
    });
    EXPECT_EQ(form.Value(), 1000000.0f);
    EXPECT_LT(elapsed, 2000);
}

TEST_F(Form1Run, ASlowlyMovingBarIsPaintedOnEveryBeat) {
    uitest::EventCounter paints(form.ProgressBar1(0), QEvent::Paint);
    int paintedDuringRun = 0;
    RunWith([&] {
        form.SetMax(1000000.0f);
        form.SetValue(0.0f);
        paints.count = 0;
        // A large table: the bar grows by under a percent in these 400 ms, too little for the
        // widget to repaint by itself, but it moves on every beat.
        QElapsedTimer clock;
        clock.start();
        BusyFor(400, [&] { form.SetValue(static_cast<float>(clock.elapsed() * 20)); });
        paintedDuringRun = paints.count;
    });
    EXPECT_GE(paintedDuringRun, 4);
    EXPECT_LE(paintedDuringRun, 12);
    // Once the run is over the widget shows the last value written, in its steps of 100 rows.
    EXPECT_NEAR(form.ProgressBar1(0)->value(), form.Value() / 100.0f, 1.0f);
}

TEST_F(Form1Run, AFullBarIsShownAtOnce) {
    int shown = -1;
    int maximum = 0;
    RunWith([&] {
        form.SetMax(1000000.0f);
        form.SetValue(0.0f);
        form.SetValue(1000000.0f);
        shown = form.ProgressBar1(0)->value();
        maximum = form.ProgressBar1(0)->maximum();
    });
    EXPECT_EQ(shown, maximum);
}

TEST_F(Form1Run, TheWindowKeepsAnsweringDuringALongStatement) {
    TempFolder folder;
    const QString path = folder.File(QStringLiteral("dbbasic.mdb"));
    ExecSql(path, "CREATE TABLE n (x INTEGER)");
    // A timer only fires when the window's thread turns to its events.
    QTimer beat;
    beat.setInterval(10);
    int beats = 0;
    QObject::connect(&beat, &QTimer::timeout, [&] { ++beats; });
    qint64 statementMs = 0;
    int beatsDuring = 0;
    RunWith([&] {
        dao::DBEngine engine;
        auto db = engine.OpenDatabase(path);
        beat.start();
        QElapsedTimer clock;
        clock.start();
        db->Execute(
            "INSERT INTO n WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
            "WHERE x < 1500000) SELECT x FROM c");
        statementMs = clock.elapsed();
        beatsDuring = beats;
        db->Close();
    });
    beat.stop();
    ASSERT_GE(statementMs, 250) << "the statement was too quick to show anything";
    // Painting is paced at 50 ms; allow for a loaded machine.
    EXPECT_GE(beatsDuring, static_cast<int>(statementMs / 200));
}

TEST(Form1Untrapped, AnErrorThatEscapesTheRunIsShownAndEndsTheProgram) {
    ScriptedPlatform platform;
    Form1 form(platform);
    bool thrown = false;
    platform.onMsgBox = [&](const ScriptedPlatform::Call&) {
        if (!thrown) {
            thrown = true;
            throw dao::Error(3061, QStringLiteral("Too few parameters. Expected 1."));
        }
    };
    form.Command1_Click();
    EXPECT_FALSE(form.RunInProgress());
    const auto boxes = platform.MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text,
              QStringLiteral("런타임 오류 '3061':\r\n\r\nToo few parameters. Expected 1."));
    EXPECT_EQ(boxes[1].flags & 7, vbOKOnly);
    EXPECT_FALSE(boxes[1].title.has_value());
    EXPECT_EQ(platform.calls.back().kind, ScriptedPlatform::Kind::Unload);
}

// With the real dialogs: the run's input box and confirmation take the keyboard while the
// window itself stays blocked.
TEST(Form1RunDialogs, ModalDialogsOfARunTakeInput) {
    QtPlatform platform;
    Form1 form(platform);
    platform.SetMainWindow(&form);
    ASSERT_TRUE(uitest::ShowActive(form));
    form.Check1(0)->setChecked(true);
    form.AddLog(QStringLiteral("before"));

    bool sawInput = false;
    bool sawConfirm = false;
    uitest::AnswerNextModal([&](QWidget* input) {
        sawInput = qobject_cast<QInputDialog*>(input) != nullptr;
        EXPECT_TRUE(form.RunInProgress());
        // A click on Start behind the dialog does nothing.
        uitest::SystemClick(form.Command1());
        for (const QChar c : QStringLiteral("kolum482")) {
            uitest::SystemKey(input, 0, QString(c));
        }
        uitest::AnswerNextModal([&](QWidget* confirm) {
            auto* box = qobject_cast<QMessageBox*>(confirm);
            sawConfirm = box != nullptr && box->text().startsWith(QStringLiteral("※작업전"));
            // Enter takes the default button, No: the run ends with nothing done.
            uitest::SystemKey(confirm, Qt::Key_Return, QStringLiteral("\r"));
        });
        uitest::SystemKey(input, Qt::Key_Return, QStringLiteral("\r"));
    });
    form.Command1()->click();

    EXPECT_TRUE(sawInput);
    EXPECT_TRUE(sawConfirm);
    EXPECT_FALSE(form.RunInProgress());
    EXPECT_EQ(form.Text(), QStringLiteral("before\r\n"));
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
