#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <memory>
#include <utility>

#include "conversion/Platform.h"

class QCoreApplication;
class QInputDialog;
class QSettings;
class QTranslator;
class QWidget;

// The title of the tool: shown on every message box and input box that passes no title.
inline const QString kAppTitle = QStringLiteral("Dorvik -> SolvanePlus 자료 복사");

// The organisation the accounting products' runtime files their per-user settings under.
inline const QString kSettingsRoot = QStringLiteral("VB and VBA Program Settings");

// The platform services on Qt: QMessageBox, QInputDialog, QSettings in the place where the
// home platform's per-user application settings live, and the main window.
class QtPlatform : public Platform {
public:
    // Tests give a settings root of their own: on Windows the store is the registry, which
    // cannot be moved to a scratch folder, and the products' real keys must stay untouched.
    explicit QtPlatform(QString settingsRoot = kSettingsRoot)
        : settingsRoot_(std::move(settingsRoot)) {}

    // The dialogs are centred on this window, and Unload closes it.
    void SetMainWindow(QWidget* window) { mainWindow_ = window; }

    int MsgBox(const QString& prompt, int buttons,
               const std::optional<QString>& title = std::nullopt) override;
    QString InputBox(const QString& prompt, bool hideInput = false) override;
    QString GetSetting(const QString& appName, const QString& section, const QString& key) override;
    SettingRead ReadSetting(const QString& appName, const QString& section,
                            const QString& key) override;
    void Beep() override;
    QString RunsFolder() const override;
    // Tests keep their run folders in a scratch folder of their own.
    void SetRunsFolder(const QString& folder) { runsFolder_ = folder; }
    QString AppTitle() const override { return kAppTitle; }
    AppVersion Version() const override { return kBuildVersion; }
    void Unload() override;

    // Sets up a message box for a text and flags (buttons + icon + default button), without
    // showing it. An empty or missing title shows the application title.
    static void ConfigureMessageBox(QMessageBox& box, const QString& prompt, int flags,
                                    const QString& title);
    // The code MsgBox returns for the button pressed: 1 OK, 2 Cancel, 3 Abort, 4 Retry,
    // 5 Ignore, 6 Yes, 7 No.
    static int ResultCode(QMessageBox::StandardButton button);

    // Sets up the input box: the application title, the prompt, an empty entry field.
    static void ConfigureInputDialog(QInputDialog& dialog, const QString& prompt, bool hideInput,
                                     const QString& title);

    // The settings of one application in the per-user store the accounting products write:
    // HKEY_CURRENT_USER\Software\<root>\<application> on Windows, "<root>/<application>.conf"
    // under the user's configuration folder elsewhere. Sections are groups. Only that store is
    // read: fallbacks are off.
    static std::unique_ptr<QSettings> OpenSettings(const QString& appName,
                                                   const QString& root = kSettingsRoot);
    const QString& SettingsRoot() const { return settingsRoot_; }

    // Line breaks as a dialog shows them: CR LF and a lone CR become LF.
    static QString DisplayText(const QString& text);

private:
    QString settingsRoot_;
    QString runsFolder_;
    QPointer<QWidget> mainWindow_;
};

// Loads Qt's own Korean translation so that the standard buttons read 예, 아니요, 확인, 취소.
// Returns the installed translator (owned by app), or nullptr when the translation is not
// installed on this machine; the buttons then stay in English.
QTranslator* InstallQtKoreanTranslation(QCoreApplication& app);
