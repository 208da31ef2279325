#pragma once

// Whether the tests run under Wine, where a few things cannot be shown the way Windows shows them
// (each test that skips says why; docs/WINDOWS.md lists them).

#include <QString>
#ifdef _WIN32
#include <QLibrary>
#endif

inline bool UnderWine() {
#ifdef _WIN32
    static const bool wine =
        QLibrary::resolve(QStringLiteral("ntdll"), "wine_get_version") != nullptr;
    return wine;
#else
    return false;
#endif
}

// The path the SQLite ODBC driver is given for a file in tests. Under Wine that driver is the
// host's, reached through Wine's odbc32, and reads host paths only; elsewhere the path stays.
QString OdbcDriverPath(const QString& path);
