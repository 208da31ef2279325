#include "ui/QtPlatform.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTranslator>
#include <QWidget>
#include <map>
#include <utility>
#include <vector>

#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

// The button sets of the flags' low digit, in the order the flags count them for the default.
std::vector<QMessageBox::StandardButton> ButtonsFor(int flags) {
    using B = QMessageBox;
    switch (flags & kMsgBoxButtonsMask) {
        case vbOKCancel:
            return {B::Ok, B::Cancel};
        case vbAbortRetryIgnore:
            return {B::Abort, B::Retry, B::Ignore};
        case vbYesNoCancel:
            return {B::Yes, B::No, B::Cancel};
        case vbYesNo:
            return {B::Yes, B::No};
        case vbRetryCancel:
            return {B::Retry, B::Cancel};
        default:
            return {B::Ok};
    }
}

QMessageBox::Icon IconFor(int flags) {
    switch (flags & kMsgBoxIconMask) {
        case vbCritical:
            return QMessageBox::Critical;
        case vbQuestion:
            return QMessageBox::Question;
        case vbExclamation:
            return QMessageBox::Warning;
        case vbInformation:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

#ifndef Q_OS_WIN
// QSettings parses a store once per process and keeps what it parsed while the file stays the
// same; only the instance that parsed it learns of a failure. So a failure is remembered for the
// file as it was (time and size), and a later read of the unchanged file fails the same way.
bool StoreUnreadable(const QSettings& settings) {
    static std::map<QString, std::pair<QDateTime, qint64>> failed;
    const QFileInfo file(settings.fileName());
    const std::pair<QDateTime, qint64> stamp{file.lastModified(), file.size()};
    if (settings.status() != QSettings::NoError) {
        failed[settings.fileName()] = stamp;
        return true;
    }
    const auto it = failed.find(settings.fileName());
    return it != failed.end() && it->second == stamp;
}
#endif

QString TitleOr(const QString& title) {
    return title.isEmpty() ? kAppTitle : title;
}

}  // namespace

QString QtPlatform::DisplayText(const QString& text) {
    QString shown = text;
    shown.replace(kCrLf, QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

void QtPlatform::ConfigureMessageBox(QMessageBox& box, const QString& prompt, int flags,
                                     const QString& title) {
    box.setWindowTitle(TitleOr(title));
    // Plain text: an error description may hold '<' and must not be taken for markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(DisplayText(prompt));
    box.setIcon(IconFor(flags));

    const std::vector<QMessageBox::StandardButton> buttons = ButtonsFor(flags);
    QMessageBox::StandardButtons set;
    for (const QMessageBox::StandardButton b : buttons) {
        set |= b;
    }
    box.setStandardButtons(set);

    const size_t defaultIndex =
        static_cast<size_t>((flags & kMsgBoxDefaultMask) >> kMsgBoxDefaultShift);
    box.setDefaultButton(buttons[defaultIndex < buttons.size() ? defaultIndex : 0]);
}

int QtPlatform::ResultCode(QMessageBox::StandardButton button) {
    switch (button) {
        case QMessageBox::Ok:
            return vbOK;
        case QMessageBox::Cancel:
            return vbCancel;
        case QMessageBox::Abort:
            return vbAbort;
        case QMessageBox::Retry:
            return vbRetry;
        case QMessageBox::Ignore:
            return vbIgnore;
        case QMessageBox::Yes:
            return vbYes;
        case QMessageBox::No:
            return vbNo;
        default:
            return vbCancel;
    }
}

int QtPlatform::MsgBox(const QString& prompt, int buttons, const std::optional<QString>& title) {
    QMessageBox box(mainWindow_);
    ConfigureMessageBox(box, prompt, buttons, title.value_or(QString()));
    box.exec();
    // A box with no escape button refuses to close other than by a button, so a button was
    // pressed unless the box went away with its parent.
    QAbstractButton* clicked = box.clickedButton();
    return clicked != nullptr ? ResultCode(box.standardButton(clicked)) : vbCancel;
}

void QtPlatform::ConfigureInputDialog(QInputDialog& dialog, const QString& prompt, bool hideInput,
                                      const QString& title) {
    dialog.setWindowTitle(TitleOr(title));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setLabelText(DisplayText(prompt));
    dialog.setTextValue(QString());
    dialog.setTextEchoMode(hideInput ? QLineEdit::Password : QLineEdit::Normal);
}

QString QtPlatform::InputBox(const QString& prompt, bool hideInput) {
    QInputDialog dialog(mainWindow_);
    ConfigureInputDialog(dialog, prompt, hideInput, QString());
    // Cancel and an empty entry both give empty text.
    return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
}

std::unique_ptr<QSettings> QtPlatform::OpenSettings(const QString& appName, const QString& root) {
    auto settings =
        std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, root, appName);
    // The products write the user's own store only; a system-wide or organisation-wide value
    // is not theirs and must not stand in for a missing one.
    settings->setFallbacksEnabled(false);
    return settings;
}

#ifdef Q_OS_WIN
SettingRead QtPlatform::ReadSetting(const QString& appName, const QString& section,
                                    const QString& key) {
    // QSettings creates the application's registry key as soon as it reads from it; the tool
    // only reads, so the value is read directly and a missing key stays missing.
    const QString subKey =
        QStringLiteral("Software\\%1\\%2\\%3").arg(settingsRoot_, appName, section);
    SettingRead read;
    read.store = QStringLiteral("HKEY_CURRENT_USER\\") + subKey;
    const auto* sub = reinterpret_cast<LPCWSTR>(subKey.utf16());
    const auto* name = reinterpret_cast<LPCWSTR>(key.utf16());
    DWORD bytes = 0;
    LSTATUS rc =
        RegGetValueW(HKEY_CURRENT_USER, sub, name, RRF_RT_REG_SZ, nullptr, nullptr, &bytes);
    std::vector<wchar_t> text;
    if (rc == ERROR_SUCCESS) {
        text.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        rc =
            RegGetValueW(HKEY_CURRENT_USER, sub, name, RRF_RT_REG_SZ, nullptr, text.data(), &bytes);
    }
    switch (rc) {
        case ERROR_SUCCESS:
            read.status = SettingRead::Status::Found;
            read.value = QString::fromWCharArray(text.data());
            break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            read.status = SettingRead::Status::NotSet;
            break;
        case ERROR_UNSUPPORTED_TYPE:
            // A number or binary data: not a folder name.
            read.status = SettingRead::Status::NotText;
            break;
        default:
            read.status = SettingRead::Status::Unreadable;
            break;
    }
    return read;
}
#else
SettingRead QtPlatform::ReadSetting(const QString& appName, const QString& section,
                                    const QString& key) {
    const std::unique_ptr<QSettings> settings = OpenSettings(appName, settingsRoot_);
    SettingRead read;
    read.store = QDir::toNativeSeparators(settings->fileName());
    // The store is read when it is opened: a store that cannot be read or parsed says so here,
    // and would otherwise look like one without the key.
    if (StoreUnreadable(*settings)) {
        read.status = SettingRead::Status::Unreadable;
        return read;
    }
    settings->beginGroup(section);
    const QVariant value = settings->value(key);
    if (!value.isValid()) {
        read.status = SettingRead::Status::NotSet;
    } else if (value.metaType().id() != QMetaType::QString ||
               value.toString().contains(QChar::ReplacementCharacter)) {
        // A list (an unquoted comma), a number or a byte array: not a folder name. Nor are bytes
        // that are no UTF-8, which QSettings reads as U+FFFD: such a folder is damaged, not
        // missing.
        read.status = SettingRead::Status::NotText;
    } else {
        read.status = SettingRead::Status::Found;
        read.value = value.toString();
    }
    return read;
}
#endif

QString QtPlatform::GetSetting(const QString& appName, const QString& section, const QString& key) {
    return ReadSetting(appName, section, key).value;
}

void QtPlatform::Beep() {
    QApplication::beep();
}

void QtPlatform::Unload() {
    if (mainWindow_ != nullptr) {
        mainWindow_->close();
    }
}

QTranslator* InstallQtKoreanTranslation(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Korean), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return nullptr;
    }
    return translator;
}

QString QtPlatform::RunsFolder() const {
    if (!runsFolder_.isEmpty()) {
        return runsFolder_;
    }
    // %LOCALAPPDATA%\dorvik2solvane on Windows, $XDG_DATA_HOME/dorvik2solvane elsewhere.
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
           QStringLiteral("/runs");
}
