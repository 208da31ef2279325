#include "ui/NoWindow.h"

#include <QDir>
#include <QTextStream>
#include <array>
#include <cstdio>

#include "conversion/Controls.h"
#include "conversion/Conversion.h"
#include "ui/QtPlatform.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

const QString kTablesOption = QStringLiteral("--tables");

// The tool's own settings and folders, with every box on standard error and its default button
// taken: nobody is there to answer.
class ConsolePlatform : public QtPlatform {
public:
    using QtPlatform::QtPlatform;
    int MsgBox(const QString& prompt, int buttons,
               const std::optional<QString>& /*title*/) override {
        QTextStream(stderr) << DisplayText(prompt) << Qt::endl;
        const int defaultButton = (buttons & kMsgBoxDefaultMask) >> kMsgBoxDefaultShift;
        switch (buttons & kMsgBoxButtonsMask) {
            case vbYesNo:
                return defaultButton == 1 ? vbNo : vbYes;
            case vbOKCancel:
                return defaultButton == 1 ? vbCancel : vbOK;
            default:
                return vbOK;
        }
    }
    QString InputBox(const QString& /*prompt*/, bool /*hideInput*/) override { return {}; }
    void Beep() override {}
    void Unload() override {}
};

// The log pane, the bar and the boxes without a window: the log is kept for report.txt.
class ConsoleControls : public LogPane, public ProgressBar, public CheckBoxes {
public:
    QString Text() const override { return text_; }
    void SetText(const QString& text) override { text_ = text; }
    void AddLog(const QString& line) override { text_ += line + kCrLf; }
    float Max() const override { return max_; }
    void SetMax(float max) override { max_ = max; }
    float Value() const override { return value_; }
    void SetValue(float value) override { value_ = value; }
    int16_t Value(int index) const override {
        return index >= 0 && index < 2 ? checks_[static_cast<size_t>(index)] : vbUnchecked;
    }
    void SetCheck(int index, int16_t value) { checks_[static_cast<size_t>(index)] = value; }

private:
    QString text_;
    float max_ = 100.0f;
    float value_ = 0.0f;
    std::array<int16_t, 2> checks_{vbUnchecked, vbUnchecked};
};

// Ticks the boxes that --tables names (both when it is left out); false, after saying why, for
// a name that is neither table.
bool TickTables(const QStringList& arguments, ConsoleControls& controls) {
    const qsizetype at = arguments.indexOf(kTablesOption);
    if (at < 0) {
        controls.SetCheck(kProductsCheck, vbChecked);
        controls.SetCheck(kTradersCheck, vbChecked);
        return true;
    }
    const QStringList names = arguments.value(at + 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString& name : names) {
        if (name.trimmed().compare(QStringLiteral("product"), Qt::CaseInsensitive) == 0) {
            controls.SetCheck(kProductsCheck, vbChecked);
        } else if (name.trimmed().compare(QStringLiteral("trader"), Qt::CaseInsensitive) == 0) {
            controls.SetCheck(kTradersCheck, vbChecked);
        } else {
            QTextStream(stderr) << QStringLiteral(
                                       "--tables에는 product와 trader만 쓸 수 있습니다: ")
                                << name << Qt::endl;
            return false;
        }
    }
    if (names.isEmpty()) {
        QTextStream(stderr) << QStringLiteral("--tables 뒤에 product,trader를 적으세요.")
                            << Qt::endl;
        return false;
    }
    return true;
}

// A program built for the window has no console of its own: it writes to the one it was
// started from, unless its output already goes to a file or a pipe.
// https://learn.microsoft.com/en-us/windows/console/attachconsole
void UseParentConsole() {
#ifdef Q_OS_WIN
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if ((out == nullptr || out == INVALID_HANDLE_VALUE) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        (void)freopen("CONOUT$", "w", stdout);
        (void)freopen("CONOUT$", "w", stderr);
    }
#endif
}

}  // namespace

int RehearseWithoutWindow(const QStringList& arguments) {
    return RehearseWithoutWindow(arguments, kSettingsRoot);
}

int RehearseWithoutWindow(const QStringList& arguments, const QString& settingsRoot) {
    UseParentConsole();
    ConsoleControls controls;
    if (!TickTables(arguments, controls)) {
        return kRehearsalNotMade;
    }
    ConsolePlatform platform(settingsRoot);
    Conversion conversion(platform, controls, controls, controls);
    conversion.SetRehearsal(true, false);
    conversion.Command1_Click();
    const std::optional<RehearsalResult>& result = conversion.LastRehearsal();
    if (!result) {
        return kRehearsalNotMade;
    }
    QTextStream out(stdout);
    out << QStringLiteral("미리 해보기 폴더: ") << QDir::toNativeSeparators(result->folder)
        << Qt::endl
        << QtPlatform::DisplayText(result->Summary()) << Qt::endl;
    switch (result->outcome) {
        case RehearsalResult::Outcome::Completes:
            return result->originalsUnchanged ? kRehearsalCompletes : kRehearsalWithErrors;
        case RehearsalResult::Outcome::CompletesWithErrors:
            return kRehearsalWithErrors;
        case RehearsalResult::Outcome::NotRehearsed:
            break;
    }
    QTextStream(stderr) << QStringLiteral("미리 해보기를 끝까지 하지 못했습니다. 보고서: ")
                        << QDir::toNativeSeparators(result->folder) << Qt::endl;
    return kRehearsalNotMade;
}
