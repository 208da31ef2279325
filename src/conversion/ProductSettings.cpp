#include "conversion/ProductSettings.h"

#include <QDir>
#include <QFileInfo>

#include "data/FileIdentity.h"

QString DatabaseFile(const QString& folder) {
    return folder + QDir::separator() + kDbFileName;
}

bool FolderUnset(const QString& folder) {
    return folder.trimmed().isEmpty();
}

bool SameFile(const QString& a, const QString& b) {
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    const QFileInfo fa(a);
    const QFileInfo fb(b);
    if (fa.exists() && fb.exists()) {
        // The file system's own numbers see through hard links, junctions, letter case and
        // case-insensitive mounts alike.
        const auto ia = dao::IdentityOf(a);
        const auto ib = dao::IdentityOf(b);
        if (ia && ib) {
            return *ia == *ib;
        }
        return fa.canonicalFilePath().compare(fb.canonicalFilePath(), cs) == 0;
    }
    return QDir::cleanPath(fa.absoluteFilePath())
               .compare(QDir::cleanPath(fb.absoluteFilePath()), cs) == 0;
}
