// The byte copy of a database file: the Access driver's files, and every restore.

#include "data/FileCopy.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStorageInfo>

#include "data/Error.h"

namespace dao {

namespace {

constexpr qint64 kChunk = 1 << 20;

Error CopyError(const QString& from, const QString& to, const QString& why) {
    return Error(errCannotOpenFile, ErrorKind::CopyFailed,
                 {.file = from, .driverText = why, .details = {to}});
}

}  // namespace

void CopyFileBytes(const QString& from, const QString& to) {
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly)) {
        throw Error(errFileNotFound, ErrorKind::CopyFailed,
                    {.file = from, .driverText = in.errorString(), .details = {to}});
    }
    QSaveFile out(to);
    // A database is never left half written under its own name, even where the folder does not
    // allow a rename over it: then the copy fails.
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly)) {
        throw CopyError(from, to, out.errorString());
    }
    QByteArray chunk;
    while (!in.atEnd()) {
        chunk = in.read(kChunk);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError) {
            out.cancelWriting();
            throw CopyError(from, to, in.errorString());
        }
        if (out.write(chunk) != chunk.size()) {
            const QString why = out.errorString();
            out.cancelWriting();
            if (out.error() == QFileDevice::ResourceError) {
                throw Error(errDiskFull, ErrorKind::DiskFull, {.file = to, .driverText = why});
            }
            throw CopyError(from, to, why);
        }
    }
    if (!out.commit()) {
        const QStorageInfo storage(QFileInfo(to).absolutePath());
        if (storage.isValid() && storage.bytesAvailable() < in.size()) {
            throw Error(errDiskFull, ErrorKind::DiskFull,
                        {.file = to, .driverText = out.errorString()});
        }
        throw CopyError(from, to, out.errorString());
    }
}

}  // namespace dao
