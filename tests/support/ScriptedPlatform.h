#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "conversion/Platform.h"

// A platform whose user is a script: every dialog is recorded with its exact text, flags and
// title, and answered from a queue. With an empty queue a message box answers its default
// button (as if the user pressed Enter) and an input box answers empty text (Cancel).
class ScriptedPlatform : public Platform {
public:
    enum class Kind { MsgBox, InputBox, Beep, Unload };
    struct Call {
        Kind kind;
        QString text;
        int flags = 0;
        std::optional<QString> title;
        bool hideInput = false;
    };

    int MsgBox(const QString& prompt, int buttons,
               const std::optional<QString>& title = std::nullopt) override;
    QString InputBox(const QString& prompt, bool hideInput = false) override;
    QString GetSetting(const QString& appName, const QString& section, const QString& key) override;
    // A read scripted in settingReads, else the text in settings (Found) or none (NotSet).
    SettingRead ReadSetting(const QString& appName, const QString& section,
                            const QString& key) override;
    void Beep() override;
    // runsFolder when set, else "runs" in the per-application data folder, which the test
    // programs move into a scratch folder.
    QString RunsFolder() const override;
    QString AppTitle() const override { return title; }
    AppVersion Version() const override { return kBuildVersion; }
    void Unload() override;

    void SetSetting(const QString& appName, const QString& section, const QString& key,
                    const QString& value) {
        settings[{appName, section, key}] = value;
    }

    // Only the message boxes, in order.
    std::vector<Call> MessageBoxes() const;

    QString title = QStringLiteral("dorvik2solvane");
    std::deque<int> msgBoxAnswers;
    std::deque<QString> inputAnswers;
    std::map<std::tuple<QString, QString, QString>, QString> settings;
    std::map<std::tuple<QString, QString, QString>, SettingRead> settingReads;
    std::vector<Call> calls;
    QString runsFolder;
    // Called on every message box, before it answers: lets a test act while a box is "open".
    std::function<void(const Call&)> onMsgBox;
};
