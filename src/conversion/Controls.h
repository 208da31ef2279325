#pragma once

#include <QString>
#include <cstdint>

// The few controls of the main window that the conversion reaches. The window implements them;
// tests may implement them with plain members.

// The log pane `Text1`.
class LogPane {
public:
    virtual ~LogPane() = default;
    // The pane's whole text; line breaks read as CR LF.
    virtual QString Text() const = 0;
    virtual void SetText(const QString& text) = 0;
    // Appends `line` and CR LF at the very end of the pane, whatever the caret or selection.
    virtual void AddLog(const QString& line) = 0;
};

// `ProgressBar1`(0). Maximum and value are single-precision numbers.
class ProgressBar {
public:
    virtual ~ProgressBar() = default;
    virtual float Max() const = 0;
    virtual void SetMax(float max) = 0;
    virtual float Value() const = 0;
    virtual void SetValue(float value) = 0;
};

// The check boxes `Check1`(0) (products) and `Check1`(1) (traders).
class CheckBoxes {
public:
    virtual ~CheckBoxes() = default;
    virtual int16_t Value(int index) const = 0;
};
inline constexpr int kProductsCheck = 0;
inline constexpr int kTradersCheck = 1;
// The values of a check box.
inline constexpr int16_t vbUnchecked = 0;
inline constexpr int16_t vbChecked = 1;
