// The window as designed: size, flags, caption, every control's place, text and tab order.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <vector>

#include "support/ScriptedPlatform.h"
#include "ui/Form1.h"
#include "ui/UiTestSupport.h"

namespace {

struct Placed {
    const char* name;
    QWidget* widget;
    int left, top, width, height;  // twips
};

class Form1Layout : public ::testing::Test {
protected:
    std::vector<Placed> Controls() {
        return {
            {"Command1", form.Command1(), 6165, 1755, 1230, 510},
            {"Text1", form.Text1(), 180, 2295, 8475, 3210},
            {"Command2", form.Command2(), 7470, 1755, 1230, 510},
            {"Label2(0)", form.Label2(0), 225, 90, 6630, 195},
            {"Label2(1)", form.Label2(1), 225, 360, 8070, 195},
            {"Label2(2)", form.Label2(2), 225, 900, 6630, 195},
            {"Label2(4)", form.Label2(4), 225, 1170, 6630, 195},
            {"Label2(5)", form.Label2(5), 225, 630, 8430, 195},
            {"ProgressBar1(0)", form.ProgressBar1(0), 180, 1845, 5910, 330},
            {"Check1(0)", form.Check1(0), 270, 1530, 1590, 240},
            {"Check1(1)", form.Check1(1), 1935, 1530, 1590, 240},
        };
    }

    ScriptedPlatform platform;
    Form1 form{platform};
};

TEST_F(Form1Layout, ClientAreaIsFixedAt8835By5685Twips) {
    EXPECT_EQ(form.size(), QSize(589, 379));
    EXPECT_EQ(form.minimumSize(), QSize(589, 379));
    EXPECT_EQ(form.maximumSize(), QSize(589, 379));
}

TEST_F(Form1Layout, TitleBarHasCloseButNoMinimiseOrMaximise) {
    const Qt::WindowFlags flags = form.windowFlags();
    EXPECT_TRUE(form.isWindow());
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowSystemMenuHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
}

TEST_F(Form1Layout, StartsCentredOnTheScreen) {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint offset = form.geometry().center() - screen.center();
    EXPECT_LE(std::abs(offset.x()), 1);
    EXPECT_LE(std::abs(offset.y()), 1);
}

TEST_F(Form1Layout, CaptionGetsTheVersionAtLoad) {
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Dorvik -> SolvanePlus로 자료 복사"));
    form.Form_Load();
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Dorvik -> SolvanePlus로 자료 복사 ver.1.0.4"));
}

TEST_F(Form1Layout, CaptionWritesEachNumberInPlainDigits) {
    struct OtherVersion : ScriptedPlatform {
        AppVersion Version() const override { return {2, 10, 0}; }
    } other;
    Form1 window(other);
    window.Form_Load();
    EXPECT_EQ(window.windowTitle(), Form1::kDesignCaption + QStringLiteral(" ver.2.10.0"));
}

TEST_F(Form1Layout, EveryControlSitsWhereTheDesignPutsIt) {
    for (const Placed& c : Controls()) {
        ASSERT_NE(c.widget, nullptr) << c.name;
        EXPECT_EQ(c.widget->parentWidget(), &form) << c.name;
        EXPECT_EQ(c.widget->geometry(), QRect(c.left / 15, c.top / 15, c.width / 15, c.height / 15))
            << c.name;
    }
}

TEST_F(Form1Layout, NoTwoControlsOverlap) {
    const std::vector<Placed> controls = Controls();
    for (size_t i = 0; i < controls.size(); ++i) {
        for (size_t j = i + 1; j < controls.size(); ++j) {
            EXPECT_FALSE(controls[i].widget->geometry().intersects(controls[j].widget->geometry()))
                << controls[i].name << " and " << controls[j].name;
        }
    }
}

TEST_F(Form1Layout, LogPaneLeaves180TwipsOnTheLeftRightAndBottom) {
    const QRect pane = form.Text1()->geometry();
    EXPECT_EQ(pane.left(), 12);
    EXPECT_EQ(form.width() - (pane.x() + pane.width()), 12);
    EXPECT_EQ(form.height() - (pane.y() + pane.height()), 12);
}

TEST_F(Form1Layout, TextsAreExact) {
    EXPECT_EQ(form.Command1()->text(), QStringLiteral("시작"));
    EXPECT_EQ(form.Command2()->text(), QStringLiteral("닫기"));
    EXPECT_EQ(form.Check1(0)->text(), QStringLiteral("상품 복사"));
    EXPECT_EQ(form.Check1(1)->text(), QStringLiteral("거래처 복사"));
    EXPECT_EQ(form.Label2(0)->text(),
              QStringLiteral("※사전 준비 사항 및 유의사항(아래 준비사항은 꼭 확인해야 됩니다.)"));
    EXPECT_EQ(form.Label2(1)->text(),
              QStringLiteral(" - SolvanePlus설치 후 한번은 무조건 실행하여야 하며, 아무 데이터도 "
                             "넣지 말고 바로 종료하세요."));
    EXPECT_EQ(form.Label2(2)->text(), QStringLiteral(" - Dorvik DB 따로 안전한 곳에 백업"));
    EXPECT_EQ(form.Label2(4)->text(),
              QStringLiteral(" - 아래 시작을 누르면 교체작업이 시작됩니다."));
    EXPECT_EQ(
        form.Label2(5)->text(),
        QStringLiteral(" - SolvanePlus에 이미 데이터가 들어가 있을 경우, 해당 데이터(상품또는 "
                       "거래처)는 모두 삭제됩니다."));
    EXPECT_TRUE(form.Text1()->toPlainText().isEmpty());
}

TEST_F(Form1Layout, NotesAreInPlainTextAndFitOnTheirLine) {
    for (int index : {0, 1, 2, 4, 5}) {
        QLabel* note = form.Label2(index);
        EXPECT_EQ(note->textFormat(), Qt::PlainText) << index;
        EXPECT_FALSE(note->wordWrap()) << index;
        const QFontMetrics metrics = note->fontMetrics();
        EXPECT_LE(metrics.horizontalAdvance(note->text()), note->width()) << index;
        EXPECT_LE(metrics.tightBoundingRect(note->text()).height(), note->height()) << index;
    }
}

TEST_F(Form1Layout, OnlyTheWarningIsPureRed) {
    const QColor red(255, 0, 0);
    EXPECT_EQ(form.Label2(5)->palette().color(QPalette::WindowText), red);
    for (int index : {0, 1, 2, 4}) {
        EXPECT_EQ(form.Label2(index)->palette().color(QPalette::WindowText),
                  form.palette().color(QPalette::WindowText))
            << index;
    }
}

TEST_F(Form1Layout, ControlArraysHaveOnlyTheDesignedElements) {
    EXPECT_EQ(form.Label2(3), nullptr);
    EXPECT_EQ(form.Label2(-1), nullptr);
    EXPECT_EQ(form.Label2(6), nullptr);
    EXPECT_EQ(form.ProgressBar1(1), nullptr);
    EXPECT_EQ(form.Check1(2), nullptr);
    EXPECT_EQ(form.findChildren<QLabel*>().size(), 5);
    EXPECT_EQ(form.findChildren<QProgressBar*>().size(), 1);
    EXPECT_EQ(form.findChildren<QCheckBox*>().size(), 2);
    EXPECT_EQ(form.findChildren<QPushButton*>().size(), 2);
}

TEST_F(Form1Layout, LogPaneIsAnEditableMultiLineBoxWithAVerticalScrollBar) {
    QPlainTextEdit* pane = form.Text1();
    EXPECT_FALSE(pane->isReadOnly());
    EXPECT_EQ(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_NE(pane->lineWrapMode(), QPlainTextEdit::NoWrap);
}

TEST_F(Form1Layout, BoxesStartUncheckedAndTheBarEmptyOverZeroToHundred) {
    EXPECT_FALSE(form.Check1(0)->isChecked());
    EXPECT_FALSE(form.Check1(1)->isChecked());
    EXPECT_EQ(form.Value(0), 0);
    EXPECT_EQ(form.Value(1), 0);
    QProgressBar* bar = form.ProgressBar1(0);
    EXPECT_EQ(bar->orientation(), Qt::Horizontal);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(form.Max(), 100.0f);
    EXPECT_EQ(form.Value(), 0.0f);
}

TEST_F(Form1Layout, StartHasTheFocusWhenShown) {
    ASSERT_TRUE(uitest::ShowActive(form));
    EXPECT_EQ(QApplication::focusWidget(), form.Command1());
}

TEST_F(Form1Layout, TabVisitsStartLogCloseAndTheBoxesInTurn) {
    ASSERT_TRUE(uitest::ShowActive(form));
    const std::vector<QWidget*> expected = {form.Text1(), form.Command2(), form.Check1(0),
                                            form.Check1(1), form.Command1()};
    for (QWidget* next : expected) {
        uitest::SystemKey(&form, Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
    // Tab leaves the log pane without typing into it.
    EXPECT_TRUE(form.Text1()->toPlainText().isEmpty());
}

TEST_F(Form1Layout, NotesAndTheBarNeverTakeTheFocus) {
    for (int index : {0, 1, 2, 4, 5}) {
        EXPECT_EQ(form.Label2(index)->focusPolicy(), Qt::NoFocus) << index;
    }
    EXPECT_EQ(form.ProgressBar1(0)->focusPolicy(), Qt::NoFocus);
}

TEST_F(Form1Layout, WindowCarriesTheProgramIcon) {
    EXPECT_FALSE(form.windowIcon().isNull());
    EXPECT_TRUE(form.windowIcon().availableSizes().contains(QSize(32, 33)));
}

}  // namespace
