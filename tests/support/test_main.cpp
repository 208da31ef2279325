#include <gtest/gtest.h>

#include <QDir>
#include <QStandardPaths>
#include <QTemporaryDir>

#ifdef TEST_WITH_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

int main(int argc, char** argv) {
    // No test may block on a display or touch the user's real settings. Qt for Windows has no
    // offscreen platform without FreeType: there the widget tests use real windows (under Wine,
    // on a private X display).
#ifndef Q_OS_WIN
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QDir(config.path()).absolutePath().toLocal8Bit());
    // Run folders (backups, reports) go to a scratch data folder too; on Windows, where the
    // data folder comes from the system, to Qt's test location.
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QDir(data.path()).absolutePath().toLocal8Bit());
#ifdef Q_OS_WIN
    QStandardPaths::setTestModeEnabled(true);
#endif

    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
