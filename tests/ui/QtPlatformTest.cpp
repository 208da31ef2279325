// The Qt platform: message box flags and answers, the input box, the settings store, the
// title, the version and unloading the window.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTranslator>
#include <memory>

#include "ui/Form1.h"
#include "ui/QtPlatform.h"
#include "ui/UiTestSupport.h"

namespace {

using SB = QMessageBox::StandardButton;

QList<SB> ButtonsOf(const QMessageBox& box) {
    QList<SB> buttons;
    for (QAbstractButton* b : box.buttons()) {
        buttons.append(box.standardButton(b));
    }
    std::sort(buttons.begin(), buttons.end());
    return buttons;
}

SB DefaultOf(const QMessageBox& box) {
    return box.standardButton(box.defaultButton());
}

TEST(QtPlatformMessageBox, FlagsZeroIsOkAloneWithoutIcon) {
    QMessageBox box;
    QtPlatform::ConfigureMessageBox(box, QStringLiteral("암호가 틀립니다."), 0, QString());
    EXPECT_EQ(ButtonsOf(box), QList<SB>{SB::Ok});
    EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
    EXPECT_EQ(DefaultOf(box), SB::Ok);
    EXPECT_EQ(box.text(), QStringLiteral("암호가 틀립니다."));
}

TEST(QtPlatformMessageBox, Flags292IsYesNoWithQuestionAndNoAsDefault) {
    QMessageBox box;
    QtPlatform::ConfigureMessageBox(box, QStringLiteral("시작 하시겠습니까?"),
                                    vbYesNo + vbQuestion + vbDefaultButton2, QString());
    EXPECT_EQ(ButtonsOf(box), (QList<SB>{SB::Yes, SB::No}));
    EXPECT_EQ(box.icon(), QMessageBox::Question);
    EXPECT_EQ(DefaultOf(box), SB::No);
}

TEST(QtPlatformMessageBox, YesNoWithoutDefaultFlagDefaultsToYes) {
    QMessageBox box;
    QtPlatform::ConfigureMessageBox(box, QStringLiteral("?"), vbYesNo, QString());
    EXPECT_EQ(ButtonsOf(box), (QList<SB>{SB::Yes, SB::No}));
    EXPECT_EQ(box.icon(), QMessageBox::NoIcon);
    EXPECT_EQ(DefaultOf(box), SB::Yes);
}

TEST(QtPlatformMessageBox, OtherButtonSetsIconsAndDefaults) {
    QMessageBox box;
    QtPlatform::ConfigureMessageBox(box, QStringLiteral("?"), 3 + 48 + 512, QString());
    EXPECT_EQ(ButtonsOf(box), (QList<SB>{SB::Yes, SB::No, SB::Cancel}));
    EXPECT_EQ(box.icon(), QMessageBox::Warning);
    EXPECT_EQ(DefaultOf(box), SB::Cancel);

    QtPlatform::ConfigureMessageBox(box, QStringLiteral("?"), 1 + 16, QString());
    EXPECT_EQ(ButtonsOf(box), (QList<SB>{SB::Ok, SB::Cancel}));
    EXPECT_EQ(box.icon(), QMessageBox::Critical);
    EXPECT_EQ(DefaultOf(box), SB::Ok);

    // A default beyond the last button falls back to the first.
    QtPlatform::ConfigureMessageBox(box, QStringLiteral("?"), 0 + 64 + 256, QString());
    EXPECT_EQ(box.icon(), QMessageBox::Information);
    EXPECT_EQ(DefaultOf(box), SB::Ok);
}

TEST(QtPlatformMessageBox, MissingOrEmptyTitleShowsTheApplicationTitle) {
    QMessageBox box;
    QtPlatform::ConfigureMessageBox(box, QStringLiteral("x"), 0, QString());
    EXPECT_EQ(box.windowTitle(), QStringLiteral("Dorvik -> SolvanePlus 자료 복사"));
    QtPlatform::ConfigureMessageBox(box, QStringLiteral("x"), 0, QStringLiteral("레코드셋 오류"));
    EXPECT_EQ(box.windowTitle(), QStringLiteral("레코드셋 오류"));
}

TEST(QtPlatformMessageBox, LineBreaksShowAndMarkupDoesNot) {
    QMessageBox box;
    QtPlatform::ConfigureMessageBox(box, QStringLiteral("※작업전\r\n\r\n시작?\r<b>Error 3061</b>"),
                                    0, QString());
    EXPECT_EQ(box.textFormat(), Qt::PlainText);
    EXPECT_EQ(box.text(), QStringLiteral("※작업전\n\n시작?\n<b>Error 3061</b>"));
}

TEST(QtPlatformMessageBox, ResultCodesFollowTheButtons) {
    EXPECT_EQ(QtPlatform::ResultCode(SB::Ok), 1);
    EXPECT_EQ(QtPlatform::ResultCode(SB::Cancel), 2);
    EXPECT_EQ(QtPlatform::ResultCode(SB::Abort), 3);
    EXPECT_EQ(QtPlatform::ResultCode(SB::Retry), 4);
    EXPECT_EQ(QtPlatform::ResultCode(SB::Ignore), 5);
    EXPECT_EQ(QtPlatform::ResultCode(SB::Yes), 6);
    EXPECT_EQ(QtPlatform::ResultCode(SB::No), 7);
}

// The real box, answered by the user as soon as it shows.
int Answer(int flags, const std::function<void(QMessageBox*)>& user) {
    QtPlatform platform;
    uitest::AnswerNextModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), kAppTitle);
        user(box);
    });
    return platform.MsgBox(QStringLiteral("질문"), flags);
}

TEST(QtPlatformMessageBox, ShownBoxReturnsThePressedButton) {
    EXPECT_EQ(Answer(0, [](QMessageBox* b) { b->button(SB::Ok)->click(); }), vbOK);
    EXPECT_EQ(Answer(292, [](QMessageBox* b) { b->button(SB::Yes)->click(); }), vbYes);
    EXPECT_EQ(Answer(292, [](QMessageBox* b) { b->button(SB::No)->click(); }), vbNo);
}

TEST(QtPlatformMessageBox, EnterTakesTheDefaultAndEscapeTheSafeAnswer) {
    const auto enter = [](QMessageBox* b) {
        uitest::SystemKey(b, Qt::Key_Return, QStringLiteral("\r"));
    };
    const auto escape = [](QMessageBox* b) { uitest::SystemKey(b, Qt::Key_Escape); };
    EXPECT_EQ(Answer(292, enter), vbNo);
    EXPECT_EQ(Answer(vbYesNo, enter), vbYes);
    EXPECT_EQ(Answer(0, enter), vbOK);
    EXPECT_EQ(Answer(0, escape), vbOK);
    EXPECT_EQ(Answer(292, escape), vbNo);
}

TEST(QtPlatformMessageBox, KoreanTranslationNamesTheButtons) {
    const QString qm =
        QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_ko.qm");
    ASSERT_TRUE(QFileInfo::exists(qm))
        << "Qt's Korean translation is not installed: " << qm.toStdString();
    QTranslator* translator = InstallQtKoreanTranslation(*qApp);
    ASSERT_NE(translator, nullptr);
    QMessageBox box;
    QtPlatform::ConfigureMessageBox(box, QStringLiteral("?"), 292, QString());
    EXPECT_EQ(box.button(SB::Yes)->text(), QStringLiteral("예(&Y)"));
    EXPECT_EQ(box.button(SB::No)->text(), QStringLiteral("아니요(&N)"));
    QtPlatform::ConfigureMessageBox(box, QStringLiteral("?"), 0, QString());
    EXPECT_EQ(box.button(SB::Ok)->text(), QStringLiteral("확인"));
    QCoreApplication::removeTranslator(translator);
    delete translator;
}

TEST(QtPlatformInputBox, StartsEmptyUnderTheApplicationTitle) {
    QInputDialog dialog;
    dialog.setTextValue(QStringLiteral("left over"));
    QtPlatform::ConfigureInputDialog(dialog, QStringLiteral("실행 암호를 입력하세요.\r\n문의"),
                                     true, QString());
    EXPECT_EQ(dialog.windowTitle(), kAppTitle);
    EXPECT_EQ(dialog.labelText(), QStringLiteral("실행 암호를 입력하세요.\n문의"));
    EXPECT_EQ(dialog.inputMode(), QInputDialog::TextInput);
    EXPECT_TRUE(dialog.textValue().isEmpty());
    EXPECT_EQ(dialog.textEchoMode(), QLineEdit::Password);

    QtPlatform::ConfigureInputDialog(dialog, QStringLiteral("?"), false, QString());
    EXPECT_EQ(dialog.textEchoMode(), QLineEdit::Normal);
}

QString Enter(bool accept, const QString& typed) {
    QtPlatform platform;
    uitest::AnswerNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        for (const QChar c : typed) {
            uitest::SystemKey(dialog, 0, QString(c));
        }
        uitest::SystemKey(dialog, accept ? Qt::Key_Return : Qt::Key_Escape,
                          accept ? QStringLiteral("\r") : QString());
    });
    return platform.InputBox(QStringLiteral("실행 암호를 입력하세요."), true);
}

TEST(QtPlatformInputBox, ReturnsTheTypedTextOrEmptyOnCancel) {
    EXPECT_EQ(Enter(true, QStringLiteral("kolum482")), QStringLiteral("kolum482"));
    EXPECT_EQ(Enter(true, QStringLiteral(" 한글 ")), QStringLiteral(" 한글 "));
    EXPECT_EQ(Enter(true, QString()), QString());
    EXPECT_EQ(Enter(false, QStringLiteral("kolum482")), QString());
}

// Every settings test gets a store of its own: a fresh folder, and a settings root of its own,
// which on Windows is a registry key of its own that the test removes afterwards. The products'
// real keys are never touched.
class QtPlatformSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
        RemoveRoot();
    }
    void TearDown() override {
        RemoveRoot();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           qEnvironmentVariable("XDG_CONFIG_HOME"));
    }

    void RemoveRoot() const {
#ifdef Q_OS_WIN
        QSettings software(QStringLiteral("HKEY_CURRENT_USER\\Software"), QSettings::NativeFormat);
        software.remove(root);
        software.sync();
        EXPECT_FALSE(software.childGroups().contains(root));
#endif
    }

    // Where the settings of an application's section live, as the products write them.
    std::unique_ptr<QSettings> Section(const QString& app, const QString& section) const {
#ifdef Q_OS_WIN
        return std::make_unique<QSettings>(
            QStringLiteral("HKEY_CURRENT_USER\\Software\\%1\\%2\\%3").arg(root, app, section),
            QSettings::NativeFormat);
#else
        auto settings = std::make_unique<QSettings>(
            dir.filePath(QStringLiteral("%1/%2.conf").arg(root, app)), QSettings::NativeFormat);
        settings->beginGroup(section);
        return settings;
#endif
    }

    bool StoreExists(const QString& app) const {
#ifdef Q_OS_WIN
        return QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\%1").arg(root),
                         QSettings::NativeFormat)
            .childGroups()
            .contains(app);
#else
        return QFileInfo::exists(dir.filePath(QStringLiteral("%1/%2.conf").arg(root, app)));
#endif
    }

    void Write(const QString& app, const QString& section, const QString& key,
               const QString& value) const {
        const auto settings = Section(app, section);
        settings->setValue(key, value);
        settings->sync();
        ASSERT_EQ(settings->status(), QSettings::NoError);
    }

    QTemporaryDir dir;
    const QString root = QStringLiteral("dorvik2solvane tests %1 VB and VBA Program Settings")
                             .arg(QCoreApplication::applicationPid());
    QtPlatform platform{root};
};

TEST_F(QtPlatformSettings, TheProductsRootIsTheDefault) {
    EXPECT_EQ(QtPlatform().SettingsRoot(), QStringLiteral("VB and VBA Program Settings"));
    EXPECT_EQ(platform.SettingsRoot(), root);
}

TEST_F(QtPlatformSettings, KoreanApplicationSectionAndKeyRoundTrip) {
    const QString folder = QStringLiteral("C:\\세금계산서\\Data\\");
    Write(QStringLiteral("세금계산서"), QStringLiteral("환경설정"), QStringLiteral("db경로"),
          folder);
    EXPECT_EQ(platform.GetSetting(QStringLiteral("세금계산서"), QStringLiteral("환경설정"),
                                  QStringLiteral("db경로")),
              folder);
    // The store is the application's key (Windows) or file (elsewhere) under the settings root.
    EXPECT_TRUE(StoreExists(QStringLiteral("세금계산서")));
}

TEST_F(QtPlatformSettings, EachApplicationKeepsItsOwnValue) {
    Write(QStringLiteral("세금계산서"), QStringLiteral("환경설정"), QStringLiteral("db경로"),
          QStringLiteral("/data/dorvik"));
    Write(QStringLiteral("Solvane2"), QStringLiteral("환경설정"), QStringLiteral("db경로"),
          QStringLiteral("/data/solvane plus"));
    EXPECT_EQ(platform.GetSetting(QStringLiteral("세금계산서"), QStringLiteral("환경설정"),
                                  QStringLiteral("db경로")),
              QStringLiteral("/data/dorvik"));
    EXPECT_EQ(platform.GetSetting(QStringLiteral("Solvane2"), QStringLiteral("환경설정"),
                                  QStringLiteral("db경로")),
              QStringLiteral("/data/solvane plus"));
}

TEST_F(QtPlatformSettings, MissingKeySectionOrApplicationGivesEmptyText) {
    Write(QStringLiteral("세금계산서"), QStringLiteral("환경설정"), QStringLiteral("db경로"),
          QStringLiteral("/data"));
    EXPECT_TRUE(platform
                    .GetSetting(QStringLiteral("세금계산서"), QStringLiteral("환경설정"),
                                QStringLiteral("다른키"))
                    .isEmpty());
    EXPECT_TRUE(platform
                    .GetSetting(QStringLiteral("세금계산서"), QStringLiteral("다른구역"),
                                QStringLiteral("db경로"))
                    .isEmpty());
    EXPECT_TRUE(platform
                    .GetSetting(QStringLiteral("Solvane2"), QStringLiteral("환경설정"),
                                QStringLiteral("db경로"))
                    .isEmpty());
    // Reading creates nothing.
    EXPECT_FALSE(StoreExists(QStringLiteral("Solvane2")));
}

TEST_F(QtPlatformSettings, OpenSettingsIsTheSameStore) {
    {
        const auto settings = QtPlatform::OpenSettings(QStringLiteral("Solvane2"), root);
        settings->setValue(QStringLiteral("환경설정/db경로"), QStringLiteral("D:\\Solvane"));
    }
    EXPECT_EQ(platform.GetSetting(QStringLiteral("Solvane2"), QStringLiteral("환경설정"),
                                  QStringLiteral("db경로")),
              QStringLiteral("D:\\Solvane"));
}

SettingRead ReadFolder(QtPlatform& platform, const QString& app) {
    return platform.ReadSetting(app, QStringLiteral("환경설정"), QStringLiteral("db경로"));
}

TEST_F(QtPlatformSettings, ReadSettingTellsAFolderFromNothing) {
    Write(QStringLiteral("세금계산서"), QStringLiteral("환경설정"), QStringLiteral("db경로"),
          QStringLiteral("/data/dorvik"));
    const SettingRead found = ReadFolder(platform, QStringLiteral("세금계산서"));
    EXPECT_EQ(found.status, SettingRead::Status::Found);
    EXPECT_EQ(found.value, QStringLiteral("/data/dorvik"));
#ifdef Q_OS_WIN
    EXPECT_EQ(found.store,
              QStringLiteral("HKEY_CURRENT_USER\\Software\\%1\\세금계산서\\환경설정").arg(root));
#else
    EXPECT_EQ(found.store, dir.filePath(QStringLiteral("%1/세금계산서.conf").arg(root)));
#endif
    const SettingRead missing = ReadFolder(platform, QStringLiteral("Solvane2"));
    EXPECT_EQ(missing.status, SettingRead::Status::NotSet);
    EXPECT_TRUE(missing.value.isEmpty());
}

#ifdef Q_OS_WIN
TEST_F(QtPlatformSettings, AValueThatIsNoTextIsNotAFolderName) {
    // A number is stored as a DWORD value: not a folder name.
    const auto settings = Section(QStringLiteral("Solvane2"), QStringLiteral("환경설정"));
    settings->setValue(QStringLiteral("db경로"), 42);
    settings->sync();
    const SettingRead read = ReadFolder(platform, QStringLiteral("Solvane2"));
    EXPECT_EQ(read.status, SettingRead::Status::NotText);
    EXPECT_TRUE(read.value.isEmpty());
}
#else
// The store's file for one application, written as raw bytes (a store the products or a user
// may have left behind). The registry has no such file to spoil.
void WriteStoreFile(const QTemporaryDir& dir, const QString& root, const QString& app,
                    const QByteArray& bytes) {
    const QString folder = dir.filePath(root);
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile file(folder + QLatin1Char('/') + app + QStringLiteral(".conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

TEST_F(QtPlatformSettings, AStoreThatCannotBeParsedIsUnreadableNotUnset) {
    // A section header without its closing bracket.
    WriteStoreFile(dir, root, QStringLiteral("Solvane2"), "[환경설정\ndb경로=/data/solvane\n");
    const SettingRead read = ReadFolder(platform, QStringLiteral("Solvane2"));
    EXPECT_EQ(read.status, SettingRead::Status::Unreadable);
    EXPECT_TRUE(read.value.isEmpty());
    EXPECT_EQ(read.store, dir.filePath(QStringLiteral("%1/Solvane2.conf").arg(root)));
    EXPECT_TRUE(platform
                    .GetSetting(QStringLiteral("Solvane2"), QStringLiteral("환경설정"),
                                QStringLiteral("db경로"))
                    .isEmpty());
}

TEST_F(QtPlatformSettings, AStoreThatCannotBeOpenedIsUnreadable) {
    // A folder where the file should be cannot be read by anybody, root included.
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("%1/세금계산서.conf").arg(root))));
    const SettingRead read = ReadFolder(platform, QStringLiteral("세금계산서"));
    EXPECT_EQ(read.status, SettingRead::Status::Unreadable);
    EXPECT_TRUE(read.store.endsWith(QStringLiteral("세금계산서.conf")));
}

TEST_F(QtPlatformSettings, AValueThatIsNoTextIsNotAFolderName) {
    // An unquoted comma makes a list; @ByteArray makes bytes.
    WriteStoreFile(dir, root, QStringLiteral("세금계산서"), "[환경설정]\ndb경로=/data/a, b\n");
    WriteStoreFile(dir, root, QStringLiteral("Solvane2"), "[환경설정]\ndb경로=@ByteArray(/data)\n");
    for (const QString& app : {QStringLiteral("세금계산서"), QStringLiteral("Solvane2")}) {
        const SettingRead read = ReadFolder(platform, app);
        EXPECT_EQ(read.status, SettingRead::Status::NotText) << app.toStdString();
        EXPECT_TRUE(read.value.isEmpty());
    }
}

TEST_F(QtPlatformSettings, AValueThatIsNoUtf8IsADamagedSettingNotAFolder) {
    WriteStoreFile(dir, root, QStringLiteral("Solvane2"), "[환경설정]\ndb경로=/data/\xb0\xa1\n");
    const SettingRead read = ReadFolder(platform, QStringLiteral("Solvane2"));
    EXPECT_EQ(read.status, SettingRead::Status::NotText);
}

TEST_F(QtPlatformSettings, OnlyTheUsersOwnStoreIsRead) {
    // The organisation-wide file is where QSettings would look next; the products never write it.
    WriteStoreFile(dir, root + QStringLiteral("/.."), root, "[환경설정]\ndb경로=/elsewhere\n");
    ASSERT_TRUE(QFileInfo::exists(dir.filePath(root + QStringLiteral(".conf"))));
    EXPECT_EQ(ReadFolder(platform, QStringLiteral("Solvane2")).status, SettingRead::Status::NotSet);
}
#endif

TEST(QtPlatformWindow, TitleVersionAndUnload) {
    QtPlatform platform;
    EXPECT_EQ(platform.AppTitle(), QStringLiteral("Dorvik -> SolvanePlus 자료 복사"));
    const AppVersion version = platform.Version();
    EXPECT_EQ(version.Major, 1);
    EXPECT_EQ(version.Minor, 0);
    EXPECT_EQ(version.Revision, 4);

    platform.Unload();  // no window yet: nothing to close
    Form1 form(platform);
    platform.SetMainWindow(&form);
    ASSERT_TRUE(uitest::ShowActive(form));
    form.Command2_Click();
    EXPECT_FALSE(form.isVisible());
}

}  // namespace
