#pragma once

// Whether the tests run under Wine, where a few things cannot be shown the way Windows shows them
// (each test that skips says why; docs/WINDOWS.md lists them).

#ifdef _WIN32
#include <QLibrary>
#include <QString>
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
