#include "support/ScriptedPlatform.h"

#include <QStandardPaths>

int ScriptedPlatform::MsgBox(const QString& prompt, int buttons,
                             const std::optional<QString>& boxTitle) {
    calls.push_back({Kind::MsgBox, prompt, buttons, boxTitle, false});
    if (onMsgBox) {
        onMsgBox(calls.back());
    }
    if (!msgBoxAnswers.empty()) {
        const int answer = msgBoxAnswers.front();
        msgBoxAnswers.pop_front();
        return answer;
    }
    if ((buttons & 7) == vbYesNo) {
        return (buttons & vbDefaultButton2) ? vbNo : vbYes;
    }
    return vbOK;
}

QString ScriptedPlatform::InputBox(const QString& prompt, bool hideInput) {
    calls.push_back({Kind::InputBox, prompt, 0, std::nullopt, hideInput});
    if (inputAnswers.empty()) {
        return {};
    }
    QString answer = inputAnswers.front();
    inputAnswers.pop_front();
    return answer;
}

QString ScriptedPlatform::GetSetting(const QString& appName, const QString& section,
                                     const QString& key) {
    const auto it = settings.find({appName, section, key});
    return it == settings.end() ? QString() : it->second;
}

SettingRead ScriptedPlatform::ReadSetting(const QString& appName, const QString& section,
                                          const QString& key) {
    if (const auto it = settingReads.find({appName, section, key}); it != settingReads.end()) {
        return it->second;
    }
    const auto it = settings.find({appName, section, key});
    if (it == settings.end()) {
        return {SettingRead::Status::NotSet, {}, {}};
    }
    return {SettingRead::Status::Found, it->second, {}};
}

void ScriptedPlatform::Beep() {
    calls.push_back({Kind::Beep, {}, 0, std::nullopt, false});
}

void ScriptedPlatform::Unload() {
    calls.push_back({Kind::Unload, {}, 0, std::nullopt, false});
}

std::vector<ScriptedPlatform::Call> ScriptedPlatform::MessageBoxes() const {
    std::vector<Call> boxes;
    for (const Call& c : calls) {
        if (c.kind == Kind::MsgBox) {
            boxes.push_back(c);
        }
    }
    return boxes;
}

QString ScriptedPlatform::RunsFolder() const {
    if (!runsFolder.isEmpty()) {
        return runsFolder;
    }
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/runs");
}
