#include "support/Wine.h"

#ifdef _WIN32
#include <windows.h>

#include <QDir>
#endif

QString OdbcDriverPath(const QString& path) {
#ifdef _WIN32
    // Wine's kernel32 turns a Windows path into the host's; on Windows itself the function is
    // missing and paths stay as they are.
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
#else
    return path;
#endif
}
