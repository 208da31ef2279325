#pragma once

// The seam between the engine's object model and its drivers. DBEngine::OpenDatabase checks the
// file and chooses the driver from its first bytes; each driver opens the file its own way.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

#include "data/Engine.h"
#include "data/FileIdentity.h"

namespace dao::detail {

enum class FileKind { Sqlite, Jet, Unknown };

// Decides the kind of a database file from its first bytes: SQLite's 16-byte header
// "SQLite format 3\0", or "Standard Jet DB" / "Standard ACE DB" at offset 4.
FileKind DetectFileKind(const QByteArray& head);

// The format of a Jet or ACE file, from the version byte of its header.
enum class JetFormat { Jet3, Jet4, Ace, Unknown };
JetFormat DetectJetFormat(const QByteArray& head);
// "Jet 3 (Access 97)", "Jet 4 (Access 2000-2003)", "ACE (Access 2007 이후)", "알 수 없는 Jet 형식".
QString JetFormatName(JetFormat format);

// The options a database was opened with, and the thread that opened it: the busy callback is
// called on that thread only.
struct OpenOptions {
    explicit OpenOptions(EngineOptions options);
    EngineOptions engine;
    std::thread::id openingThread;
    // Opened with dbExclusive: no other connection may use the file while this one is open.
    bool exclusive = false;

    // Runs work that may block for long (a statement over a whole table, a commit waiting on the
    // disk): with a busy callback, on another thread while the opening thread keeps calling back
    // (RunCallingBack); without one, or on any other thread, here and now. Whatever work throws
    // is rethrown.
    void KeepBusyWhile(const std::function<void()>& work) const;
};

// Fails with errFileMoved, naming the file, unless `path` still names the file `opened` was.
void CheckSameFile(const QString& path, const std::optional<FileIdentity>& opened);

// How a database matches names without regard to letter case: SQLite folds the ASCII letters
// only (a table may hold both "Ä" and "ä"), Jet every letter.
enum class NameFolding { Ascii, Unicode };
QString FoldedName(const QString& name, NameFolding folding);

// Fails with errItemNotFound unless 0 <= position < count.
void CheckFieldPosition(int16_t position, int16_t count);

// Fails with errPathTooLong when SQLite cannot open and write a file at `path`, whichever driver
// would open it.
void CheckSqlitePathLength(const QString& path);

// SQLite's C API.
std::shared_ptr<Database> OpenSqliteDatabase(const QString& path, const OpenOptions& options);

// What an ODBC open is for: a Jet or ACE file through the Access driver, or (tests only) an
// SQLite file through the SQLite ODBC driver, so that the ODBC code is proven on Linux.
enum class OdbcTarget { Access, Sqlite };
std::shared_ptr<Database> OpenOdbcDatabase(const QString& path, OdbcTarget target,
                                           const OpenOptions& options);

}  // namespace dao::detail
