#pragma once

#include <array>

#include "conversion/Controls.h"

// The window's controls as plain values, for tests of the core without widgets.
class FakeForm : public LogPane, public ProgressBar, public CheckBoxes {
public:
    QString Text() const override { return text; }
    void SetText(const QString& t) override { text = t; }
    void AddLog(const QString& line) override { text += line + QStringLiteral("\r\n"); }

    float Max() const override { return max; }
    void SetMax(float m) override {
        max = m;
        ++maxWrites;
    }
    float Value() const override { return value; }
    void SetValue(float v) override {
        value = v;
        ++valueWrites;
    }

    int16_t Value(int index) const override { return check.at(static_cast<size_t>(index)); }

    QString text;
    float max = 100;
    float value = 0;
    int maxWrites = 0;
    int valueWrites = 0;
    std::array<int16_t, 2> check{0, 0};
};
