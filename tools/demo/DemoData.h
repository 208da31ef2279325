#pragma once

// Demo databases that anyone can try the tool on: a Dorvik dbbasic.mdb to copy from, a SolvanePlus
// dbbasic.mdb to copy into, and the two folder settings that point the tool at them. Both files
// are SQLite. The data is invented, Korean, and the same for the same seed on every machine.
//
// The two schemas differ the way two products' schemas do: the destination has columns of its own
// (each with a default or nullable, since the copy only writes the columns the source has), the
// columns stand in another order and some are spelled in another letter case. Every source
// column of product and trader exists in the destination, so the copy can run.

#include <QString>
#include <cstdint>

// How many rows to write. For the source these are the rows to copy; for the destination the rows
// it already holds before a run.
struct DemoSize {
    int64_t products = 0;
    int64_t traders = 0;
    // Gives every product a long memo (a few hundred characters), for measuring the copy with
    // large rows. Otherwise most memos are null or one short line.
    bool longMemo = false;
};

// What `make_demo` writes by default.
inline constexpr DemoSize kDemoSourceSize{1200, 300};
inline constexpr DemoSize kDemoDestSize{25, 10};
inline constexpr uint32_t kDemoSeed = 20240917;

// The rows of the destination's class table before any run. None of them is the class that a run
// inserts, so the first run adds it and a second run finds it already there.
inline constexpr int64_t kDemoClassRows = 3;

// Writes Dorvik's database: product and trader, plus company and dbinfo, which the tool never
// touches. Replaces a file already at `path` and creates missing parent folders. Throws
// std::runtime_error on any failure, leaving no partial file at `path`.
void WriteSourceDatabase(const QString& path, const DemoSize& size, uint32_t seed);

// Writes SolvanePlus's database: product, pclass and trader with the rows it already holds, plus
// company and dbinfo. Same replacing and failure rules as WriteSourceDatabase.
void WriteDestDatabase(const QString& path, const DemoSize& size, uint32_t seed);

// The settings the tool reads the two folders from.
inline QString SettingsOrganization() {
    return QStringLiteral("VB and VBA Program Settings");
}
inline QString SourceSettingsApp() {
    return QStringLiteral("세금계산서");
}
inline QString DestSettingsApp() {
    return QStringLiteral("Solvane2");
}
inline QString SettingsSection() {
    return QStringLiteral("환경설정");
}
inline QString SettingsKey() {
    return QStringLiteral("db경로");
}

// The file that holds one application's settings under a private configuration folder, where
// QSettings looks for it when XDG_CONFIG_HOME names that folder:
// <configHome>/VB and VBA Program Settings/<application>.conf
QString DemoSettingsFile(const QString& configHome, const QString& application);

// Writes the source and destination folders into the settings files under `configHome`, never
// into the user's own configuration, and reads them back. Other keys in those files are removed.
// Throws std::runtime_error when a file cannot be written or reads back differently.
void WriteDemoSettings(const QString& configHome, const QString& sourceFolder,
                       const QString& destFolder);

// The number of rows of a table in an SQLite file, of those matching `where` when it is given;
// throws std::runtime_error on failure.
int64_t CountDemoRows(const QString& path, const QString& table, const QString& where = {});
