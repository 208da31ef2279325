#pragma once

#include <QString>
#include <optional>

// The platform services the tool uses besides the database engine and the window's controls:
// modal message box and input box, the per-user settings store, the beep, the application's title
// and version, and unloading the main window. The window supplies the Qt implementation; tests
// supply a scripted one that records every call and answers from a queue, so that no test ever
// blocks on a modal dialog.

// Message box flags: buttons + icon + default button (the one Enter presses), summed. Each part
// has a digit of its own, read back with the masks below. Every box of the tool shows OK alone
// but the run's confirmation.
// clang-format off
enum MsgBoxStyle : int {
    vbOKOnly = 0, vbOKCancel = 1, vbAbortRetryIgnore = 2,
    vbYesNoCancel = 3, vbYesNo = 4, vbRetryCancel = 5,
    vbCritical = 16, vbQuestion = 32, vbExclamation = 48, vbInformation = 64,
    vbDefaultButton1 = 0, vbDefaultButton2 = 256, vbDefaultButton3 = 512,
};
// clang-format on
inline constexpr int kMsgBoxButtonsMask = 0x0f;
inline constexpr int kMsgBoxIconMask = 0xf0;
inline constexpr int kMsgBoxDefaultMask = 0xf00;
// The default button's digit counts buttons from the left: 256 is the second.
inline constexpr int kMsgBoxDefaultShift = 8;

// The line break of every text the tool shows or writes: message boxes, the log pane,
// failed-rows.csv.
inline const QString kCrLf = QStringLiteral("\r\n");

// The button the user pressed; a box that went away without a button gives vbCancel.
// clang-format off
enum MsgBoxResult : int {
    vbOK = 1, vbCancel = 2, vbAbort = 3, vbRetry = 4, vbIgnore = 5, vbYes = 6, vbNo = 7,
};
// clang-format on

// One setting as read from the per-user store, told apart by why it has no usable value.
struct SettingRead {
    enum class Status {
        Found,       // a text, possibly empty
        NotSet,      // no such key (or no store at all)
        Unreadable,  // the store exists but cannot be read or parsed
        NotText,     // the key holds something other than a text
    };
    Status status = Status::NotSet;
    QString value;
    // Where the store lives (a file, or the registry key on Windows), for the user to look at.
    QString store;
};

struct AppVersion {
    int Major = 0;
    int Minor = 0;
    int Revision = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // Shows a modal message box and returns the button pressed. Without a title the application
    // title is shown. The text may hold CR LF or CR line breaks.
    virtual int MsgBox(const QString& prompt, int buttons,
                       const std::optional<QString>& title = std::nullopt) = 0;

    // Shows a modal input box under the application title with an empty entry field. Cancel
    // returns empty text. With hideInput the typed characters are masked (a password).
    virtual QString InputBox(const QString& prompt, bool hideInput = false) = 0;

    // Reads a per-user setting; a missing key gives empty text.
    virtual QString GetSetting(const QString& appName, const QString& section,
                               const QString& key) = 0;

    // Reads a per-user setting and says why it has no value when it has none. The default
    // knows no more than GetSetting: an empty text counts as not set.
    virtual SettingRead ReadSetting(const QString& appName, const QString& section,
                                    const QString& key) {
        SettingRead read;
        read.value = GetSetting(appName, section, key);
        read.status =
            read.value.isEmpty() ? SettingRead::Status::NotSet : SettingRead::Status::Found;
        return read;
    }

    virtual void Beep() = 0;

    // The folder that holds the run folders (the backups and reports runs leave behind): the
    // user's per-application data folder, subfolder "runs".
    virtual QString RunsFolder() const = 0;
    virtual QString AppTitle() const = 0;
    virtual AppVersion Version() const = 0;

    // Closes the main window; with it the program ends.
    virtual void Unload() = 0;
};

// The version of this build, defined once by the build system.
inline constexpr AppVersion kBuildVersion{APP_VERSION_MAJOR, APP_VERSION_MINOR,
                                          APP_VERSION_REVISION};
