#pragma once

// The engine's errors: a number that callers test, what the error concerns (file, table, column,
// the driver's own text) and the situation it reports. ErrorTexts.cpp words every situation once,
// in Korean, for the user; drivers build no text of their own.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

namespace dao {

// Error numbers. The callers test 91, 3011 and 3261; the rest are reported to the user as they
// come. They follow the classic engine's numbering so that a user or a support desk recognises
// them.
enum ErrorNumber : int32_t {
    errObjectNotSet = 91,           // operation on an empty handle
    errInvalidArgument = 3001,      // an argument the engine cannot use
    errDatabaseLocked = 3006,       // the database is locked by another process
    errObjectNotFound = 3011,       // the query names a table that does not exist
    errNoCurrentRecord = 3021,      // no current row
    errUpdateWithoutAddNew = 3020,  // field write or Update with no row pending
    errDuplicateKey = 3022,         // a save or change would duplicate a key
    errFileNotFound = 3024,         // the database file is not there
    errDiskFull = 3026,             // no space left to save
    errReadOnly = 3027,             // the object or the database cannot be written
    errCannotOpenFile = 3051,       // the file cannot be opened for reading and writing
    errTooFewParameters = 3061,     // the statement names a column that does not exist
    errSyntax = 3075,               // the statement cannot be parsed
    errInstallableIsam = 3170,      // no driver installed for this kind of file
    errRecordLocked = 3260,         // a row or table is locked by another process
    errTableLocked = 3261,          // a table is exclusively locked by another process
    errItemNotFound = 3265,         // no field of that name or position
    errRequired = 3314,             // a column that needs a value got null
    errValidationRule = 3317,       // a value the column's rule refuses
    errDataTypeConversion = 3421,   // a value the column's type refuses
    errUnrecognisedFormat = 3343,   // the file is not a database the engine knows
    errObjectInvalid = 3420,        // the database or recordset has been closed
    errDriverFailure = 3146,        // any other failure reported by the driver
    errRowIgnored = 3157,           // a save or change the destination silently ignored
    errFileMoved = 3043,            // the file was moved, deleted or replaced while open
    errPathTooLong = 3044,          // a path longer than the driver can open
    errFileInUse = 3045,            // another user (this PC or another) holds the file open
    errCannotLockFile = 3050,       // the lock file beside the database cannot be made
    errTooManyLocks = 3052,         // one transaction took more locks than MaxLocksPerFile
    errBadPassword = 3031,          // the database has a password
    errFieldTooSmall = 3163,        // a value longer than its column
    errZeroLength = 3315,           // an empty text where the column refuses one
    // The engine's own, beyond the classic numbers.
    errValuesDiffer = 4001,  // a value read back differs from the value written
    errNarrowText = 4002,    // the driver takes no wide text: Korean would be garbled
};

// Numbers that mean another user holds the file or its rows: the run stops on them and tells
// the user to close the products.
inline bool IsInUseNumber(int32_t number) {
    return number == errDatabaseLocked || number == errFileInUse;
}

// The situations the engine reports, each with one wording (ErrorTexts.cpp).
enum class ErrorKind : uint8_t {
    Given,  // a description given as it is, by code outside the engine
    // Handles, recordsets and fields
    ObjectNotSet,
    ObjectClosed,
    ItemNotFoundAt,     // details: the position
    ItemNotFoundNamed,  // column: the name asked for
    NoCurrentRecord,
    NothingPending,
    SnapshotReadOnly,
    QueryReadOnly,         // details: the source
    InvalidRecordsetType,  // details: the type
    DynasetNeedsTable,     // details: the source
    NotASelect,            // details: the source
    NoStatement,
    OneStatementOnly,  // details: what follows the first statement
    // Files
    FileNotFound,
    FolderInsteadOfFile,
    FileNotReadable,
    EmptyFile,
    UnknownFormat,
    DamagedFile,      // found at open
    DamagedInUse,     // found later
    NotARegularFile,  // a device, a pipe or a socket
    FileMoved,        // moved, deleted or replaced while open
    PathTooLong,      // details: the path's length, the longest the driver opens (bytes)
    CannotOpen,
    FileNotWritable,
    FolderNotWritable,  // details: the folder
    DsnInPath,
    FileLocked,
    FileInUse,       // opened by another user, on this PC or another; details: the product
    CannotLockFile,  // the folder does not let Jet make its lock file
    ReadOnlyFile,
    BadPassword,
    TooManyLocks,
    TableLocked,  // table, or the file when the table is not known
    DiskFull,
    CopyFailed,  // the file copied; details: the copy's path; driverText: why
    // Statements and rows
    TableNotFound,
    ColumnNotFound,
    Syntax,
    DuplicateKey,
    Integrity,
    Required,
    ValidationRule,     // details: the rule, when the driver names it
    ZeroLength,         // column, when the driver names it
    FieldTooSmall,      // column, when the driver names it
    ValuesDiffer,       // column; details: the value written, the value read back
    NarrowText,         // details: the driver
    ColumnTypeRefuses,  // column; details: the column's type, the value's type
    TypeMismatch,
    DriverFailure,
    RowIgnored,       // table, when known
    CommitFailed,     // details: the rows taken back; the cause follows
    BatchRolledBack,  // details: the rows taken back; follows the cause
    // Drivers
    MissingOdbcPlugin,
    MissingOdbcDriver,
    MissingAccessDriver,
    MissingSqliteOdbcDriver,
};

// What an error concerns. Empty parts are left out of the description. Contexts are written with
// designated initializers ({.file = path}), naming the fields they fill; every field has a
// default so that the others may go unnamed.
struct ErrorContext {
    QString file{};  // the database file, as the driver names it
    QString table{};
    QString column{};       // "column" or "table.column"
    QString driverText{};   // the driver's own message
    QStringList details{};  // further words the situation's wording takes, in its order
    // How an Access file was reached: its format and the driver ("Jet 4, Microsoft Access
    // Driver (*.mdb)"); the description ends with it.
    QString via{};
    // The driver's raw diagnostic beside driverText, for the run's report.
    QString sqlState{};
    QString nativeCode{};
};

// The driver's raw diagnostic of an error, as the report quotes it ("드라이버 진단: SQLSTATE
// HY000, 번호 -1032, 내용 ..."); empty when the error did not come from a driver's diagnostic.
QString RawDiagnostic(const ErrorContext& context);

class Error : public std::exception {
public:
    // An engine error; its description is the catalogue's wording of `kind` for `context`, after
    // or before the description of the error that caused it, when there is one.
    Error(int32_t number, ErrorKind kind, ErrorContext context = {}, const Error* cause = nullptr);
    // An error with a description of its own, raised outside the engine.
    Error(int32_t number, QString description);

    int32_t Number() const { return number_; }
    ErrorKind Kind() const { return kind_; }
    const ErrorContext& Context() const { return *context_; }
    const QString& Description() const { return description_; }
    const char* what() const noexcept override { return what_.c_str(); }

    // How many rows that earlier saves had stored were taken back with this failure, as when a
    // batch of saved rows cannot be committed; 0 for most errors.
    int64_t RowsLost() const { return rowsLost_; }
    Error& WithRowsLost(int64_t rows) {
        rowsLost_ = rows;
        return *this;
    }

private:
    int32_t number_;
    ErrorKind kind_;
    std::shared_ptr<const ErrorContext> context_;  // shared: errors are copied as they travel
    QString description_;
    std::string what_;
    int64_t rowsLost_ = 0;
};

// The catalogue: the Korean description of a situation, as the user sees it. `cause` is the
// description of the error that caused this one, or empty.
QString DescribeEngineError(ErrorKind kind, const ErrorContext& context, const QString& cause);

}  // namespace dao
