#include "ui/Form1.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTextCursor>
#include <QTextDocument>
#include <exception>

#include "conversion/Restore.h"
#include "data/Engine.h"
#include "ui/InputBlocker.h"
#include "ui/WindowSetup.h"

namespace {

// The design is laid out in twips. Qt lays widgets out in device-independent pixels and scales
// them itself on high-DPI screens, so twips are converted once, at 96 dpi, and never again.
constexpr int kTwipsPerPixel = 15;

struct Twips {
    int left, top, width, height;
};

consteval int Px(int twips) {
    // Every measure of the design is a whole number of pixels; anything else fails to compile.
    if (twips % kTwipsPerPixel != 0) {
        throw "not a whole pixel";
    }
    return twips / kTwipsPerPixel;
}

consteval QRect Place(Twips t) {
    return QRect(Px(t.left), Px(t.top), Px(t.width), Px(t.height));
}

static_assert(kWindowSize.width() == Px(8835) && kWindowSize.height() == Px(5685));

// How often a run lets the window repaint, and how many progress writes go by between two
// looks at the clock: the copy writes the bar once per row, so the common path must be cheap.
constexpr qint64 kPaintIntervalMs = 50;
constexpr int kCallsPerClockRead = 32;

// Message box flags of the untrapped-error report: OK alone with the critical icon.
constexpr int kUntrappedFlags = vbOKOnly + vbCritical;

QString WithUnixBreaks(QString text) {
    text.replace(kCrLf, QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// The widget counts in whole steps; a large maximum is shown in at most this many, so that a
// copy writing the value once per row moves the widget only when it would show a change.
constexpr int kMaxBarSteps = 10000;

int BarMaximum(float max) {
    if (!(max >= 1.0f)) {
        // A maximum of 0 would turn the bar into a busy indicator.
        return 1;
    }
    return max >= static_cast<float>(kMaxBarSteps) ? kMaxBarSteps : static_cast<int>(max);
}

}  // namespace

const QString Form1::kDesignCaption = QStringLiteral("Dorvik -> SolvanePlus로 자료 복사");

Form1::Form1(Platform& platform, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint),
      platform_(platform),
      conversion_(platform, *this, *this, *this) {
    SetUpWindow(*this, kDesignCaption);
    CreateButtonsAndLog();
    CreateNotes();
    CreateBarAndBoxes();
    // Created in tab order, so the focus chain starts out right; this states it.
    QWidget::setTabOrder(command1_, text1_);
    QWidget::setTabOrder(text1_, command2_);
    QWidget::setTabOrder(command2_, check1_[0]);
    QWidget::setTabOrder(check1_[0], check1_[1]);
    command1_->setFocus();

    connect(command1_, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(command2_, &QPushButton::clicked, this, &Form1::Command2_Click);

    CentreOnScreen(*this);
}

Form1::~Form1() = default;

void Form1::CreateButtonsAndLog() {
    command1_ = new QPushButton(QStringLiteral("시작"), this);
    command1_->setObjectName(QStringLiteral("Command1"));
    command1_->setGeometry(Place({6165, 1755, 1230, 510}));
    // Enter presses the focused button, as on the home platform.
    command1_->setAutoDefault(true);

    text1_ = new QPlainTextEdit(this);
    text1_->setObjectName(QStringLiteral("Text1"));
    text1_->setGeometry(Place({180, 2295, 8475, 3210}));
    text1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Tab leaves the pane instead of typing a tab, like a text box in a dialog.
    text1_->setTabChangesFocus(true);

    command2_ = new QPushButton(QStringLiteral("닫기"), this);
    command2_->setObjectName(QStringLiteral("Command2"));
    command2_->setGeometry(Place({7470, 1755, 1230, 510}));
    command2_->setAutoDefault(true);
}

void Form1::CreateNotes() {
    const auto addLabel = [this](int index, const QString& text, QRect geometry) {
        auto* label = new QLabel(text, this);
        label->setObjectName(QStringLiteral("Label2_%1").arg(index));
        label->setGeometry(geometry);
        label->setTextFormat(Qt::PlainText);
        label->setFocusPolicy(Qt::NoFocus);
        label2_[static_cast<size_t>(index)] = label;
        return label;
    };
    addLabel(0, QStringLiteral("※사전 준비 사항 및 유의사항(아래 준비사항은 꼭 확인해야 됩니다.)"),
             Place({225, 90, 6630, 195}));
    addLabel(
        1,
        QStringLiteral(" - SolvanePlus설치 후 한번은 무조건 실행하여야 하며, 아무 데이터도 넣지 "
                       "말고 바로 종료하세요."),
        Place({225, 360, 8070, 195}));
    addLabel(2, QStringLiteral(" - Dorvik DB 따로 안전한 곳에 백업"), Place({225, 900, 6630, 195}));
    addLabel(4, QStringLiteral(" - 아래 시작을 누르면 교체작업이 시작됩니다."),
             Place({225, 1170, 6630, 195}));
    QLabel* warning = addLabel(
        5,
        QStringLiteral(" - SolvanePlus에 이미 데이터가 들어가 있을 경우, 해당 데이터(상품또는 "
                       "거래처)는 모두 삭제됩니다."),
        Place({225, 630, 8430, 195}));
    QPalette red = warning->palette();
    red.setColor(QPalette::WindowText, QColor(255, 0, 0));
    warning->setPalette(red);
}

void Form1::CreateBarAndBoxes() {
    progressBar1_ = new QProgressBar(this);
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1_0"));
    progressBar1_->setGeometry(Place({180, 1845, 5910, 330}));
    progressBar1_->setOrientation(Qt::Horizontal);
    progressBar1_->setRange(0, barMax_);
    progressBar1_->setValue(barValue_);
    progressBar1_->setTextVisible(false);
    progressBar1_->setFocusPolicy(Qt::NoFocus);

    const auto addCheck = [this](int index, const QString& text, QRect geometry) {
        auto* box = new QCheckBox(text, this);
        box->setObjectName(QStringLiteral("Check1_%1").arg(index));
        box->setGeometry(geometry);
        box->setChecked(false);
        check1_[static_cast<size_t>(index)] = box;
    };
    addCheck(0, QStringLiteral("상품 복사"), Place({270, 1530, 1590, 240}));
    addCheck(1, QStringLiteral("거래처 복사"), Place({1935, 1530, 1590, 240}));
}

QLabel* Form1::Label2(int index) const {
    return index >= 0 && index < static_cast<int>(label2_.size())
               ? label2_[static_cast<size_t>(index)]
               : nullptr;
}

QProgressBar* Form1::ProgressBar1(int index) const {
    return index == 0 ? progressBar1_ : nullptr;
}

QCheckBox* Form1::Check1(int index) const {
    return index >= 0 && index < static_cast<int>(check1_.size())
               ? check1_[static_cast<size_t>(index)]
               : nullptr;
}

const QString Form1::kRehearsalCaption = QStringLiteral(" - 미리 해보기");

void Form1::Form_Load() {
    setWindowTitle(windowTitle() + VersionCaption(platform_.Version()) +
                   (conversion_.Rehearsing() ? kRehearsalCaption : QString()));
    // A restore or a run that was killed is named before anything else can be started.
    CheckUnfinished(platform_, true);
}

void Form1::Command1_Click() {
    if (running_) {
        // Input is blocked during a run; this only guards against a programmatic click.
        return;
    }
    running_ = true;
    callsSinceClock_ = 0;
    paintClock_.start();
    QString untrapped;
    {
        InputBlocker blocker(*this);
        // A statement over a large table, or a commit, runs for seconds without a progress call
        // of its own; the engine calls back while it waits, so that the window keeps painting.
        const dao::EngineOptionsScope painting(dao::WithBusyCallback([this] { KeepPainting(); }));
        try {
            conversion_.Command1_Click();
        } catch (const dao::Error& e) {
            untrapped =
                QStringLiteral("런타임 오류 '%1':\r\n\r\n%2").arg(e.Number()).arg(e.Description());
        } catch (const std::exception& e) {
            untrapped = QStringLiteral("런타임 오류:\r\n\r\n") + QString::fromUtf8(e.what());
        } catch (...) {
            // Nothing may leave an event handler: Qt cannot carry an exception through its loop.
            untrapped = QStringLiteral("런타임 오류");
        }
    }
    running_ = false;
    // The last value of the run is shown even if no beat came after it.
    ShowValue();
    if (!untrapped.isNull()) {
        ReportUntrapped(untrapped);
    }
}

void Form1::ReportUntrapped(const QString& message) {
    platform_.MsgBox(message, kUntrappedFlags);
    platform_.Unload();
}

void Form1::Command2_Click() {
    platform_.Unload();
}

QString Form1::Text() const {
    // The raw text keeps every character as typed (toPlainText would turn no-break spaces into
    // spaces); paragraph and line separators both read as CR LF.
    QString text = text1_->document()->toRawText();
    text.replace(QChar::ParagraphSeparator, kCrLf);
    text.replace(QChar::LineSeparator, kCrLf);
    return text;
}

void Form1::SetText(const QString& text) {
    text1_->setPlainText(WithUnixBreaks(text));
}

void Form1::AddLog(const QString& line) {
    // The line goes to the end whatever the user left selected; the selection is dropped, not
    // replaced, and the caret follows the new line so that the pane shows it.
    QTextCursor end(text1_->document());
    end.movePosition(QTextCursor::End);
    end.insertText(WithUnixBreaks(line) + QLatin1Char('\n'));
    text1_->setTextCursor(end);
    text1_->ensureCursorVisible();
    if (running_) {
        KeepPainting();
    }
}

int Form1::BarUnits(float value) const {
    if (!(value > 0.0f)) {
        return 0;
    }
    const float units = value * barScale_;
    return units >= static_cast<float>(barMax_) ? barMax_ : static_cast<int>(units);
}

void Form1::SetMax(float max) {
    max_ = max;
    barMax_ = BarMaximum(max);
    barScale_ = max > 0.0f ? static_cast<float>(barMax_) / max : 0.0f;
    progressBar1_->setMaximum(barMax_);
    barValue_ = BarUnits(value_);
    progressBar1_->setValue(barValue_);
}

void Form1::SetValue(float value) {
    value_ = value;
    // During a run the widget takes the value on the pump's beat (KeepPainting); a full bar is
    // shown at once, so that a finished table does not look unfinished during what follows it.
    if (!running_ || value >= max_) {
        ShowValue();
    }
    if (running_ && ++callsSinceClock_ >= kCallsPerClockRead) {
        KeepPainting();
    }
}

void Form1::ShowValue() {
    const int units = BarUnits(value_);
    if (units != barValue_) {
        barValue_ = units;
        progressBar1_->setValue(units);
    }
}

int16_t Form1::Value(int index) const {
    const QCheckBox* box = Check1(index);
    return box != nullptr && box->isChecked() ? vbChecked : vbUnchecked;
}

void Form1::KeepPainting() {
    callsSinceClock_ = 0;
    if (paintClock_.elapsed() < kPaintIntervalMs) {
        return;
    }
    if (BarUnits(value_) != barValue_) {
        // QProgressBar paints a new value at once, and only when the bar has grown by a whole
        // chunk, which on a large table is a few times a second. Held back, the new value is
        // painted below on every beat that moves it, and at no other time.
        progressBar1_->setUpdatesEnabled(false);
        ShowValue();
        progressBar1_->setUpdatesEnabled(true);
    }
    // Input that arrives here is eaten by the run's InputBlocker, so this cannot re-enter.
    QCoreApplication::processEvents();
    paintClock_.restart();
}
