#pragma once

// What an engine is told at its creation instead of reading process-wide settings: how long to
// wait for another program's lock, when saved rows are committed, what to call while long work
// keeps the caller waiting, and the switch that lets tests run the ODBC code on SQLite files.

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <utility>

namespace dao {

// When the rows saved through a dynaset are committed (SQLite files through the C API; ODBC
// commits every 1,000 rows). A batch is due after `minimumTime`, but one that follows earlier
// batches of the same series of saves (one copy) runs at least as long as they did together;
// `maximumRows` ends a batch sooner when set.
struct CommitBatchPolicy {
    int64_t maximumRows = std::numeric_limits<int64_t>::max();
    std::chrono::milliseconds minimumTime{2000};
};

struct EngineOptions {
    // How long an open, a read or a write waits for another process's lock.
    std::chrono::milliseconds busyTimeout{2000};
    CommitBatchPolicy batches;
    // Called over and over, on the thread that opened the database, while the engine's long work
    // (a statement over a whole table, a commit that waits on the disk) runs on another thread, so
    // that a window waiting on it keeps painting. It must not use the engine and must not throw;
    // empty keeps all work on the caller's thread. Drivers that cannot hand their work over (ODBC)
    // never call it.
    std::function<void()> busyCallback;
    // Tests only: SQLite files go through the ODBC driver instead of the C API, so that the ODBC
    // code is proven where no Access driver exists.
    bool sqliteThroughOdbc = false;
    // Tests only: the path the SQLite ODBC driver is given for a file; empty gives it the file's
    // absolute path. Under Wine that driver is the host's (reached through Wine's odbc32), which
    // reads host paths only.
    std::function<QString(const QString&)> odbcSqlitePath;
};

// The default options, with a busy callback.
inline EngineOptions WithBusyCallback(std::function<void()> callback) {
    EngineOptions options;
    options.busyCallback = std::move(callback);
    return options;
}

// Options for the length of a scope: while it lives, every database opened on this thread uses
// these options instead of its engine's own. The window sets its busy callback this way for the
// length of a run, and tests that drive whole runs set their timeouts and batches.
class EngineOptionsScope {
public:
    explicit EngineOptionsScope(EngineOptions options);
    ~EngineOptionsScope();
    EngineOptionsScope(const EngineOptionsScope&) = delete;
    EngineOptionsScope& operator=(const EngineOptionsScope&) = delete;

    // The options of the innermost scope alive on this thread, or null.
    static const EngineOptions* Current();

private:
    EngineOptions options_;
    const EngineOptionsScope* outer_;
};

}  // namespace dao
