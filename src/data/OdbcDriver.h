#pragma once

// The ODBC driver of the engine, through Qt's QODBC plugin: Jet and ACE files through the
// Microsoft Access driver, and (tests only) SQLite files through the SQLite ODBC driver, so that
// the ODBC code runs on machines without Access. OpenOdbcDatabase (Drivers.h) is its entry point;
// what is declared here are the pieces worth testing on their own.

#include <QString>
#include <cstdint>

#include "data/Engine.h"

namespace dao::detail::odbc {

// One diagnostic of a failed ODBC call.
struct Diagnostic {
    QString sqlState;    // the five-character SQLSTATE ("23000"); empty when not known
    QString nativeCode;  // the driver's own error number, as text; empty when not known
    QString message;     // the driver's text
};

// What a failure means, whatever the driver and the language of its messages.
enum class Failure {
    MissingDriver,  // no ODBC driver of that name is installed, or it cannot be loaded
    CannotOpen,     // the file cannot be opened
    NotADatabase,   // the file is not a database the driver knows
    MissingTable,
    MissingColumn,
    Syntax,
    Locked,      // another process holds a lock, or waiting for it timed out
    Duplicate,   // a unique index or primary key would be duplicated
    Required,    // a column that needs a value got null
    Validation,  // a CHECK constraint or validation rule refused the value
    Integrity,   // another integrity constraint (a relationship, for instance)
    ColumnType,  // a value the column's declared type refuses for this row (SQLite's STRICT)
    Conversion,  // a value that cannot be converted (the statement's own types do not match)
    DiskFull,
    Other,
};

Failure Classify(const Diagnostic& diagnostic);

// True for the failures that concern the values of one row rather than the statement: the
// classic engine leaves such rows out of an action statement.
bool IsRowFailure(Failure failure);

// The engine operation that failed; a lock is reported differently by each.
enum class Operation { Open, Execute, OpenRecordset, Read, Update, Commit };

// The engine's error for a failure. `table` is the table the operation was about and `file` the
// database file; the description names them, and what the driver's message names.
Error ToError(const Diagnostic& diagnostic, Operation operation, const QString& table = {},
              const QString& file = {});

// The description for a Jet or ACE file when no Access ODBC driver is installed: what is missing
// and how to get it on this platform.
QString MissingAccessDriverText(const QString& path);

// Parsing of the statements the driver must take apart.

// The table of a "SELECT * FROM <table>" source (bare, [bracketed], "quoted" or `quoted`, an
// optional trailing semicolon), as written; empty when the source has another form.
QString TableOfSelectAll(const QString& source);

// Turns a leading INSERT INTO or UPDATE into INSERT OR IGNORE INTO / UPDATE OR IGNORE (SQLite's
// way of leaving out the rows that break a constraint); anything else is returned unchanged.
QString WithOrIgnore(const QString& sql);

}  // namespace dao::detail::odbc

namespace dao::testing {
// Runs action statements on SQLite files through ODBC the way they run on Access files (no
// OR IGNORE; a statement refused for a row's values is replayed row by row), so that the Access
// code path is proven where no Access driver exists. Tests only.
void SetOdbcAccessStyleExecute(bool on);

// Gives the SQLite ODBC driver another path for a file than the program's own: under Wine that
// driver is the host's (reached through Wine's odbc32), which reads host paths only. Tests only;
// nullptr gives the path as it is.
using OdbcPathMap = QString (*)(const QString& path);
void SetSqliteOdbcPathMap(OdbcPathMap map);
}  // namespace dao::testing
