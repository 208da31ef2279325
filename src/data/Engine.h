#pragma once

// The database engine: a thin object model (engine, database, recordset, fields, field, values
// that may be null, numbered errors) over real drivers. Which driver serves a file is decided by
// the file's own first bytes, never by its name: SQLite files go to SQLite's C API, Jet and ACE
// files to ODBC. Nothing above this layer knows which driver it talks to.

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/EngineOptions.h"
#include "data/Error.h"
#include "data/Value.h"

namespace dao {

// Recordset types, as the callers pass them.
enum RecordsetType : int32_t {
    dbOpenDynaset = 2,  // updatable
    // Read-only. A stable view over SQLite's C API only: over ODBC a snapshot runs its query
    // again when a commit closes its cursor, and may then see rows changed since it was opened.
    dbOpenSnapshot = 4,
};

enum EditModeEnum : int32_t {
    dbEditNone = 0,
    dbEditInProgress = 1,
    dbEditAdd = 2,
};

enum UpdateTypeEnum : int32_t {
    dbUpdateRegular = 1,
};

// Options of OpenDatabase.
enum DatabaseOptionEnum : int16_t { dbExclusive = 1 };

// What CloseObject closes: a database or a recordset.
class Closable {
public:
    virtual ~Closable() = default;
    virtual void Close() = 0;
};

class Recordset;
class Fields;

// What the last Execute on a database did.
struct ExecuteOutcome {
    int64_t affected = 0;  // rows it changed, inserted or deleted
    int64_t leftOut =
        0;  // rows it should have changed or inserted but left out (refused or ignored)
    std::optional<Error> firstLeftOut;  // why the first of them was left out
};

class Database : public Closable {
public:
    // Runs one action statement (UPDATE, INSERT INTO, DELETE) and applies it before returning.
    // Rows it cannot insert or change (a duplicate key, a refused value) are left out without an
    // error; only a statement that cannot run at all raises. LastExecute then says how many rows
    // it changed and how many it left out.
    virtual void Execute(const QString& sql) = 0;

    // What the last Execute did; all zero before the first, and after one that raised.
    const ExecuteOutcome& LastExecute() const { return lastExecute_; }
    // The object model's name for the rows the last Execute changed.
    int64_t RecordsAffected() const { return LastExecute().affected; }

    // Opens a table whole, by its name, as a snapshot (dbOpenSnapshot) or a dynaset
    // (dbOpenDynaset).
    virtual std::shared_ptr<Recordset> OpenTable(const QString& tableName, int32_t type) = 0;

    // Opens "SELECT * FROM <table>" through OpenTable. Any other query reads as a snapshot; a
    // dynaset over it cannot add rows (SQLite refuses it at once, ODBC at its first AddNew).
    std::shared_ptr<Recordset> OpenRecordset(const QString& source, int32_t type);

    // The file's path, as opened.
    virtual QString Name() const = 0;

    // The names of the database's own tables (not the engine's system tables), in no set order.
    virtual QStringList TableNames() = 0;

    // What this database is and what serves it, one "name: value" line each: the file's format,
    // the driver and its version, the database's name and version, and for ODBC the version in
    // force, whether text goes as Unicode and Windows' ANSI code page.
    virtual QStringList Describe() = 0;

    // Writes a consistent copy of the whole file to `path`, replacing whatever is there, after
    // committing what is pending. SQLite copies through its online backup from this connection,
    // so another program's reads and writes cannot tear it; other files are copied byte for byte
    // while this connection holds them. The copy is never left half written under `path`.
    virtual void BackupTo(const QString& path) = 0;

    // Replaces the whole database with the one in the file at `path`, through this connection
    // (SQLite's online backup into it), so that a journal or write-ahead log it keeps stays
    // consistent with the file. Either all of it is replaced or nothing. Drivers that cannot
    // fail with errCannotOpenFile.
    virtual void RestoreFrom(const QString& path);
    // Commits what is pending and writes what a write-ahead log holds into the file itself, so
    // that the file's bytes are the database; waits out readers for the busy timeout and leaves
    // the log as it is when they stay. Nothing to do for other files.
    virtual void Checkpoint() {}

    // Whether RestoreFrom can: false where the file must be copied while nothing holds it.
    virtual bool CanRestoreFrom() const { return false; }

    // Commits what is pending and releases the file. Dropping the last reference without Close
    // does the same.
    void Close() override = 0;

protected:
    // Fails with errInvalidArgument for a type other than dbOpenSnapshot and dbOpenDynaset.
    static void CheckRecordsetType(int32_t type);
    // Opens a query other than one whole table.
    virtual std::shared_ptr<Recordset> OpenQuery(const QString& source, int32_t type) = 0;

    // Drivers record each Execute's outcome here.
    void SetLastExecute(ExecuteOutcome outcome) { lastExecute_ = std::move(outcome); }

private:
    ExecuteOutcome lastExecute_;
};

// A field of a recordset's current row: a light proxy, valid while its recordset is.
class Field {
public:
    Field(Recordset* rs, int16_t index) : rs_(rs), index_(index) {}
    QString Name() const;
    Value GetValue() const;
    void SetValue(const Value& v) const;
    int16_t Index() const { return index_; }

private:
    Recordset* rs_;
    int16_t index_;
};

// A recordset's ordered fields.
class Fields {
public:
    explicit Fields(Recordset* rs) : rs_(rs) {}
    int16_t Count() const;
    // By 0-based position; fails with errItemNotFound outside the range.
    Field Item(int16_t position) const;
    // By name, without regard to letter case as the database sees it (SQLite: ASCII letters only;
    // Jet: every letter); fails with errItemNotFound for an unknown name.
    Field Item(const QString& name) const;

private:
    Recordset* rs_;
};

class Recordset : public Closable {
public:
    virtual bool Eof() = 0;
    virtual void MoveFirst() = 0;
    virtual void MoveLast(int32_t options = 0) = 0;
    virtual void MoveNext() = 0;
    // The number of rows visited so far; the full count after MoveLast.
    virtual int32_t RecordCount() = 0;

    // Dynasets only: starts a new, empty pending row.
    virtual void AddNew() = 0;
    // Stores the pending row. Fails with errUpdateWithoutAddNew when none is pending; a row that
    // breaks a constraint fails with its own number and the recordset stays usable.
    virtual void Update(int32_t type = dbUpdateRegular, bool force = false) = 0;
    virtual int32_t EditMode() = 0;
    virtual void CancelUpdate(int32_t type = dbUpdateRegular) = 0;
    // Tries the pending row as Update would store it, inside a savepoint that is rolled back at
    // once; throws what Update would throw. The row stays pending and nothing is stored. Rows
    // saved before stay saved (the ODBC driver commits them first). Returns the row as the
    // database stored it, read back inside the try, one value per field in field order; empty
    // when the stored row cannot be found again (a table without a key, say).
    virtual std::vector<Value> TryPendingRow() = 0;

    Fields GetFields() { return Fields(this); }

    // The primitives behind Fields and Field.
    virtual int16_t FieldCount() = 0;
    virtual QString FieldName(int16_t position) = 0;
    // The position of a field by name, without regard to letter case as the database sees it;
    // -1 when there is none.
    virtual int16_t FieldPosition(const QString& name) = 0;
    // The value of the current row, or of the pending row after AddNew.
    virtual Value FieldValue(int16_t position) = 0;
    // FieldValue into `out`, for a caller that reads the same field of many rows: a driver may
    // reuse the buffer that `out` already holds. Same value, same failures.
    virtual void ReadFieldValue(int16_t position, Value& out) { out = FieldValue(position); }
    // Writes into the pending row; fails with errUpdateWithoutAddNew when none is pending.
    virtual void SetFieldValue(int16_t position, const Value& v) = 0;

    void Close() override = 0;
};

// The engine: one per process in the tool, created at the first database open; tests make their
// own with the options they need.
class DBEngine {
public:
    explicit DBEngine(EngineOptions options = {});
    DBEngine(const DBEngine&) = delete;
    DBEngine& operator=(const DBEngine&) = delete;

    // Opens a database file for reading and writing, shared or, with dbExclusive, for this
    // connection alone: an Access file in Jet's exclusive mode, an SQLite file in exclusive
    // locking mode with its write lock taken, so that a file another connection uses fails the
    // open (errDatabaseLocked). Never creates a file. The database keeps the options in force now:
    // those of an EngineOptionsScope on this thread, else the engine's own.
    std::shared_ptr<Database> OpenDatabase(const QString& path, int16_t options = 0);

    const EngineOptions& Options() const { return options_; }

    // How many of the databases this engine opened are still referenced anywhere, whatever the
    // driver: a run that ends with none has released every file it opened.
    int OpenDatabaseCount() const { return openDatabases_->load(); }

private:
    EngineOptions options_;
    // Shared with the databases, which may outlive their engine.
    std::shared_ptr<std::atomic<int>> openDatabases_;
};

// A reference to an open object, or empty. Any use of an empty handle fails with
// errObjectNotSet.
template <class T>
class Handle {
public:
    Handle() = default;
    Handle(std::shared_ptr<T> p) : p_(std::move(p)) {}
    T* operator->() const {
        if (!p_) {
            ThrowObjectNotSet();
        }
        return p_.get();
    }
    T& operator*() const { return *operator->(); }
    explicit operator bool() const { return p_ != nullptr; }
    bool IsEmpty() const { return p_ == nullptr; }
    void Reset() { p_.reset(); }
    const std::shared_ptr<T>& Get() const { return p_; }

private:
    [[noreturn]] static void ThrowObjectNotSet();
    std::shared_ptr<T> p_;
};

using DatabaseHandle = Handle<Database>;
using RecordsetHandle = Handle<Recordset>;

[[noreturn]] void ThrowObjectNotSetError();

template <class T>
void Handle<T>::ThrowObjectNotSet() {
    ThrowObjectNotSetError();
}

}  // namespace dao
