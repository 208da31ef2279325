#pragma once

#include <QElapsedTimer>
#include <QWidget>
#include <array>
#include <cstdint>

#include "conversion/Controls.h"
#include "conversion/Conversion.h"
#include "conversion/Platform.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

// The tool's only window: the preparation notes, the two check boxes, Start and Close, the
// progress bar and the log pane. It owns the conversion and hands it the Start button's click;
// the conversion reaches the log pane, the bar and the boxes through the interfaces below.
//
// The controls keep the names of the design (also their object names, which tests look up):
//
//   Control          Object name       Role
//   Command1         Command1          시작 (Start): one guarded conversion run
//   Command2         Command2          닫기 (Close): ends the program
//   Text1            Text1             the log pane (LogPane)
//   Label2(0..5)     Label2_<i>        the preparation notes; there is no Label2(3), and
//                                      Label2(5), in red, warns that data will be replaced
//   ProgressBar1(0)  ProgressBar1_0    the rows copied of the current table (ProgressBar)
//   Check1(0)        Check1_0          상품 복사: run the product recipe (CheckBoxes)
//   Check1(1)        Check1_1          거래처 복사: run the trader recipe (CheckBoxes)
class Form1 : public QWidget, public LogPane, public ProgressBar, public CheckBoxes {
    Q_OBJECT

public:
    // The caption of the design, before the load handler appends the version.
    static const QString kDesignCaption;

    explicit Form1(Platform& platform, QWidget* parent = nullptr);
    ~Form1() override;

    // What a rehearsal's caption has after the window's: "... ver.1.0.4 - 미리 해보기".
    static const QString kRehearsalCaption;

    // The window of "dorvik2solvane --rehearse": Start rehearses on copies. Set before Form_Load.
    void SetRehearsal(bool rehearsal) { conversion_.SetRehearsal(rehearsal); }

    // Event handlers.
    void Form_Load();
    void Command1_Click();
    void Command2_Click();

    // The controls. Arrays are addressed by index; an index the design has no element for
    // (Label2(3), for one) gives nullptr.
    QPushButton* Command1() const { return command1_; }
    QPushButton* Command2() const { return command2_; }
    QPlainTextEdit* Text1() const { return text1_; }
    QLabel* Label2(int index) const;
    QProgressBar* ProgressBar1(int index) const;
    QCheckBox* Check1(int index) const;

    Conversion& conversion() { return conversion_; }

    // True from the Start click until the run returns.
    bool RunInProgress() const { return running_; }

    // The log pane `Text1`.
    QString Text() const override;
    void SetText(const QString& text) override;
    void AddLog(const QString& line) override;

    // `ProgressBar1`(0).
    float Max() const override { return max_; }
    void SetMax(float max) override;
    float Value() const override { return value_; }
    void SetValue(float value) override;

    // `Check1`(index).
    int16_t Value(int index) const override;

private:
    // The constructor's parts: each creates and places some of the controls.
    void CreateButtonsAndLog();
    void CreateNotes();
    void CreateBarAndBoxes();
    // The widget's step for a value of the bar.
    int BarUnits(float value) const;
    // Shows the bar's value on the widget now.
    void ShowValue();
    // During a run: lets the window repaint what changed, at most every kPaintIntervalMs.
    void KeepPainting();
    // An error that nothing in the run caught: shown with its number, then the program ends.
    void ReportUntrapped(const QString& message);

    Platform& platform_;

    QPushButton* command1_ = nullptr;
    QPlainTextEdit* text1_ = nullptr;
    QPushButton* command2_ = nullptr;
    std::array<QLabel*, 6> label2_{};  // element 3 does not exist
    QProgressBar* progressBar1_ = nullptr;
    std::array<QCheckBox*, 2> check1_{};

    // The bar's maximum and value as the conversion wrote them. The widget shows them in
    // whole steps (value * barScale_), and barValue_ mirrors what it shows so that a write
    // that would not move it costs a multiplication and a comparison. During a run the widget
    // catches up with the value on the paint pump's beat only.
    float max_ = 100.0f;
    float value_ = 0.0f;
    int barMax_ = 100;
    float barScale_ = 1.0f;
    int barValue_ = 0;

    bool running_ = false;
    QElapsedTimer paintClock_;
    int callsSinceClock_ = 0;

    Conversion conversion_;
};
