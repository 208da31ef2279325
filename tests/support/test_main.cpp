#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#ifdef _WIN32
#include <windows.h>

#include <QLibrary>

#include "data/OdbcDriver.h"
#endif

#ifdef TEST_WITH_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#endif

#ifdef _WIN32
namespace {
// Under Wine, the SQLite ODBC driver that Wine's odbc32 reaches is the host's, which reads host
// paths; Wine's kernel32 turns a Windows path into the host's. On Windows itself the function is
// missing and paths stay as they are.
QString HostPath(const QString& path) {
    using ToHost = char*(CDECL*)(LPCWSTR);
    static const auto toHost = reinterpret_cast<ToHost>(
        QLibrary::resolve(QStringLiteral("kernel32"), "wine_get_unix_file_name"));
    if (toHost == nullptr) {
        return path;
    }
    const QString native = QDir::toNativeSeparators(path);
    char* host = toHost(reinterpret_cast<LPCWSTR>(native.utf16()));
    if (host == nullptr) {
        return path;
    }
    // Host paths are UTF-8.
    QString result = QString::fromUtf8(host);
    HeapFree(GetProcessHeap(), 0, host);
    return result;
}
}  // namespace
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

#ifdef _WIN32
    dao::testing::SetSqliteOdbcPathMap(HostPath);
#endif

    TestApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
