#pragma once

// The ODBC driver of the engine, through Qt's QODBC plugin: Jet and ACE files through the
// Microsoft Access driver, and (tests only) SQLite files through the SQLite ODBC driver, so that
// the ODBC code runs on machines without Access. OpenOdbcDatabase (Drivers.h) is its entry point;
// what is declared here are the pieces worth testing on their own.

#include <QMetaType>
#include <QString>
#include <QVariant>
#include <cstdint>

#include "data/Engine.h"

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

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

// What a failed call reports, read right after it: the driver's text and native number from Qt,
// the SQLSTATE from the handle where Qt keeps it to itself.
Diagnostic FromQtError(const QSqlError& error);
Diagnostic Diagnose(const QSqlQuery& query);
Diagnostic Diagnose(const QSqlDatabase& db);

// Values between the engine and the driver (OdbcValues.cpp).
Value FromVariant(const QVariant& v);
QVariant ToVariant(const Value& v, QMetaType columnType);
// The current row of a query; null columns as invalid QVariants.
QVariantList RowOf(const QSqlQuery& query, int columns);

Error ObjectClosedError();
Error NothingPendingError();

}  // namespace dao::detail::odbc
