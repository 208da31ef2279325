// The log pane, the progress bar, the check boxes and Close, as the conversion and the user
// use them.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "support/ScriptedPlatform.h"
#include "ui/Form1.h"
#include "ui/UiTestSupport.h"

namespace {

class Form1Log : public ::testing::Test {
protected:
    // Puts the caret at a position, optionally selecting up to another.
    void Select(int from, int to) {
        QTextCursor cursor = form.Text1()->textCursor();
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        form.Text1()->setTextCursor(cursor);
    }

    void Type(const QString& text) {
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(form.Text1(), &press);
        }
    }

    void PressEnter() {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
        QCoreApplication::sendEvent(form.Text1(), &press);
    }

    int CaretPosition() const { return form.Text1()->textCursor().position(); }
    int EndPosition() const { return form.Text1()->document()->characterCount() - 1; }

    ScriptedPlatform platform;
    Form1 form{platform};
};

TEST_F(Form1Log, EmptyLineAppendsALineBreakAlone) {
    form.AddLog(QString());
    EXPECT_EQ(form.Text(), QStringLiteral("\r\n"));
}

TEST_F(Form1Log, ThreeAppendsGiveEachLineFollowedByCrLf) {
    form.AddLog(QStringLiteral("첫째"));
    form.AddLog(QString());
    form.AddLog(QStringLiteral("product 데이터복사완료"));
    EXPECT_EQ(form.Text(), QStringLiteral("첫째\r\n\r\nproduct 데이터복사완료\r\n"));
}

TEST_F(Form1Log, TextEndsWithCrLfAfterEveryAppend) {
    for (int i = 0; i < 5; ++i) {
        form.AddLog(QStringLiteral("line %1").arg(i));
        EXPECT_TRUE(form.Text().endsWith(QStringLiteral("\r\n")));
        EXPECT_EQ(form.Text().count(QStringLiteral("\r\n")), i + 1);
    }
}

TEST_F(Form1Log, LineGoesToTheEndWhereverTheCaretStood) {
    form.SetText(QStringLiteral("abc\r\ndef\r\n"));
    Select(2, 2);
    form.AddLog(QStringLiteral("xyz"));
    EXPECT_EQ(form.Text(), QStringLiteral("abc\r\ndef\r\nxyz\r\n"));
    EXPECT_EQ(CaretPosition(), EndPosition());
}

TEST_F(Form1Log, SelectedTextStaysAndTheSelectionIsDropped) {
    form.SetText(QStringLiteral("keep this\r\n"));
    Select(0, 4);
    ASSERT_TRUE(form.Text1()->textCursor().hasSelection());
    form.AddLog(QStringLiteral("next"));
    EXPECT_EQ(form.Text(), QStringLiteral("keep this\r\nnext\r\n"));
    EXPECT_FALSE(form.Text1()->textCursor().hasSelection());
    EXPECT_EQ(CaretPosition(), EndPosition());
}

TEST_F(Form1Log, TypedTextStaysAndTheNextLineFollowsIt) {
    form.AddLog(QStringLiteral("작업 시작"));
    Type(QStringLiteral("메모"));
    PressEnter();
    form.AddLog(QStringLiteral("after"));
    EXPECT_EQ(form.Text(), QStringLiteral("작업 시작\r\n메모\r\nafter\r\n"));

    // Typed without a line break, the next line continues the typed one.
    Type(QStringLiteral("tail"));
    form.AddLog(QStringLiteral("x"));
    EXPECT_TRUE(form.Text().endsWith(QStringLiteral("after\r\ntailx\r\n")));
}

TEST_F(Form1Log, PaneScrollsToShowTheNewLine) {
    ASSERT_TRUE(uitest::ShowActive(form));
    for (int i = 0; i < 100; ++i) {
        form.AddLog(QStringLiteral("row %1").arg(i));
    }
    QScrollBar* bar = form.Text1()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    bar->setValue(0);
    form.AddLog(QStringLiteral("last"));
    // The caret, at the end after the last line, is inside the visible part of the pane.
    EXPECT_GT(bar->value(), 0);
    EXPECT_TRUE(form.Text1()->viewport()->rect().contains(form.Text1()->cursorRect()));
    // And so is the line just written, right above it.
    QTextCursor lastLine(form.Text1()->document()->lastBlock().previous());
    EXPECT_TRUE(form.Text1()->viewport()->rect().contains(form.Text1()->cursorRect(lastLine)));
}

TEST_F(Form1Log, TextReadsEveryLineBreakAsCrLf) {
    form.SetText(QStringLiteral("a\r\nb\rc\nd"));
    EXPECT_EQ(form.Text(), QStringLiteral("a\r\nb\r\nc\r\nd"));
    // Shift+Enter in the pane makes a line separator; it still reads as CR LF.
    form.SetText(QString());
    Type(QStringLiteral("p"));
    QKeyEvent shiftEnter(QEvent::KeyPress, Qt::Key_Return, Qt::ShiftModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(form.Text1(), &shiftEnter);
    Type(QStringLiteral("q"));
    EXPECT_EQ(form.Text(), QStringLiteral("p\r\nq"));
}

TEST_F(Form1Log, TextKeepsNoBreakSpacesAndTabs) {
    const QString text = QStringLiteral("a\u00a0b\tc\r\n");
    form.SetText(text);
    EXPECT_EQ(form.Text(), text);
}

TEST_F(Form1Log, SetTextEmptiesThePane) {
    form.AddLog(QStringLiteral("old"));
    form.SetText(QString());
    EXPECT_EQ(form.Text(), QString());
    form.AddLog(QString());
    EXPECT_EQ(form.Text(), QStringLiteral("\r\n"));
}

TEST_F(Form1Log, ProgressKeepsTheWrittenNumbersAndShowsThem) {
    QProgressBar* bar = form.ProgressBar1(0);
    form.SetMax(250.0f);
    form.SetValue(0.0f);
    for (int row = 0; row < 100; ++row) {
        form.SetValue(form.Value() + 1.0f);
    }
    EXPECT_EQ(form.Max(), 250.0f);
    EXPECT_EQ(form.Value(), 100.0f);
    EXPECT_EQ(bar->maximum(), 250);
    EXPECT_EQ(bar->value(), 100);
}

TEST_F(Form1Log, ProgressShowsALargeMaximumInProportion) {
    QProgressBar* bar = form.ProgressBar1(0);
    form.SetMax(1000000.0f);
    form.SetValue(250000.0f);
    EXPECT_EQ(form.Max(), 1000000.0f);
    EXPECT_EQ(form.Value(), 250000.0f);
    EXPECT_DOUBLE_EQ(double(bar->value()) / bar->maximum(), 0.25);
    form.SetValue(1000000.0f);
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(Form1Log, ProgressOutOfRangeIsShownClampedAndNeverBusy) {
    QProgressBar* bar = form.ProgressBar1(0);
    form.SetValue(150.0f);
    EXPECT_EQ(form.Value(), 150.0f);
    EXPECT_EQ(bar->value(), bar->maximum());
    form.SetValue(-5.0f);
    EXPECT_EQ(bar->value(), 0);
    // A new maximum below the value: the bar is full until the value is set back.
    form.SetValue(80.0f);
    form.SetMax(10.0f);
    EXPECT_EQ(bar->value(), bar->maximum());
    form.SetValue(0.0f);
    EXPECT_EQ(bar->value(), 0);
    // A zero maximum would make QProgressBar a busy indicator.
    form.SetMax(0.0f);
    EXPECT_EQ(form.Max(), 0.0f);
    EXPECT_GT(bar->maximum(), bar->minimum());
}

TEST_F(Form1Log, CheckBoxValuesFollowTheBoxes) {
    form.Check1(1)->setChecked(true);
    EXPECT_EQ(form.Value(0), 0);
    EXPECT_EQ(form.Value(1), 1);
    form.Check1(0)->click();
    EXPECT_EQ(form.Value(0), 1);
    EXPECT_EQ(form.Value(2), 0);
}

TEST_F(Form1Log, CloseUnloadsWithoutAQuestion) {
    form.Command2()->click();
    ASSERT_EQ(platform.calls.size(), 1u);
    EXPECT_EQ(platform.calls[0].kind, ScriptedPlatform::Kind::Unload);
}

TEST_F(Form1Log, TitleBarCloseClosesWithoutAQuestion) {
    ASSERT_TRUE(uitest::ShowActive(form));
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(platform.calls.empty());
}

TEST_F(Form1Log, StartClickRunsTheConversion) {
    // Nothing selected: the run ends at its first check with one message box.
    form.Command1()->click();
    ASSERT_EQ(platform.MessageBoxes().size(), 1u);
    EXPECT_EQ(platform.MessageBoxes()[0].text,
              QStringLiteral("상품복사나 거래처복사중 하나 이상을 선택하세요."));
    EXPECT_FALSE(form.RunInProgress());
}

}  // namespace
