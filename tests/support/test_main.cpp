#include <gtest/gtest.h>

#include <QDir>
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

    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
