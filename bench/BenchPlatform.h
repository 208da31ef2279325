#pragma once

#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <tuple>
#include <vector>

#include "conversion/Platform.h"

// A silent user for the benchmark: types the run password, answers Yes to the confirmation and OK
// to everything else, and keeps every message box's text so that a run that reported a failure
// can be told from a clean one. Nothing is shown and nothing waits.
class BenchPlatform : public Platform {
public:
    int MsgBox(const QString& prompt, int buttons,
               const std::optional<QString>& /*title*/ = std::nullopt) override {
        boxes.push_back(prompt);
        if (onMsgBox) {
            // Once only: the hook is for the first box of a run.
            const std::function<void()> hook = std::move(onMsgBox);
            onMsgBox = nullptr;
            hook();
        }
        return (buttons & 7) == vbYesNo ? vbYes : vbOK;
    }

    QString InputBox(const QString& /*prompt*/, bool /*hideInput*/ = false) override {
        return password;
    }

    QString GetSetting(const QString& appName, const QString& section,
                       const QString& key) override {
        const auto it = settings.find({appName, section, key});
        return it == settings.end() ? QString() : it->second;
    }

    void Beep() override {}
    QString RunsFolder() const override { return runsFolder; }
    QString AppTitle() const override { return QStringLiteral("copy_bench"); }
    AppVersion Version() const override { return kBuildVersion; }
    void Unload() override {}

    QString password;
    std::map<std::tuple<QString, QString, QString>, QString> settings;
    std::vector<QString> boxes;
    // Where the runs' backups and reports go: a scratch folder of the benchmark's.
    QString runsFolder;
    // Runs inside the first message box, while the window is in its run state.
    std::function<void()> onMsgBox;
};
