#pragma once

// The ODBC driver of the engine, through Qt's QODBC plugin: Jet and ACE files through the
// Microsoft Access driver, and (tests only) SQLite files through the SQLite ODBC driver, so that
// the ODBC code runs on machines without Access. OpenOdbcDatabase (Drivers.h) is its entry point;
// what is declared here are the pieces worth testing on their own.

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <vector>

#include "data/Drivers.h"
#include "data/Engine.h"

class QSqlDatabase;
class QSqlError;
class QSqlQuery;

namespace dao::detail::odbc {

// Qt's connect option that asks the driver manager for ODBC 3 behaviour (3.x SQLSTATEs); without
// it QODBC asks for ODBC 2.
// https://doc.qt.io/qt-6/qsqldatabase.html#setConnectOptions
extern const char* const kOdbc3Option;

// The Access drivers to try for a file of this format, in order.
QStringList AccessDriverOrder(JetFormat format);

// The connection string of an Access file through `driver`.
QString AccessConnectionString(const QString& driver, const QString& nativePath, bool exclusive);

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
    InUse,          // another user holds the file (opened exclusively, or in use)
    CannotLock,     // Jet cannot make or lock the lock file beside the database
    ReadOnly,       // the file or its folder can only be read
    FileNotFound,   // no file at the path, or a path the driver cannot take
    BadPassword,    // the database has a password
    TooManyLocks,   // one transaction took more locks than Jet's MaxLocksPerFile
    ZeroLength,     // an empty text where the column refuses one
    FieldTooSmall,  // a value longer than its column
    Other,
};

// One row of what the Access driver reports, and what it means. A row decides by the driver's
// native number when it has one, else by its SQLSTATE (when it names one) together with the
// text, else by the text alone, English or Korean. `source` names the page the wording comes
// from.
struct DiagnosticRule {
    const char* state;                 // SQLSTATE the row needs, or nullptr
    long long native;                  // the driver's native number that decides, or 0
    std::vector<const char*> markers;  // any of these in the text
    Failure failure;
    const char* source;
};
const std::vector<DiagnosticRule>& AccessRules();

// The row of AccessRules that decides a diagnostic; -1 when none does.
int MatchingRule(const Diagnostic& diagnostic);

Failure Classify(const Diagnostic& diagnostic);

// True for the failures that concern the values of one row rather than the statement: the
// classic engine leaves such rows out of an action statement.
bool IsRowFailure(Failure failure);

// The engine operation that failed; a lock is reported differently by each.
enum class Operation { Open, Execute, OpenRecordset, Read, Update, Commit };

// The engine's error for a failure. `table` is the table the operation was about and `file` the
// database file; the description names them, and what the driver's message names.
// `via` names the file's format and the driver, for an Access file.
Error ToError(const Diagnostic& diagnostic, Operation operation, const QString& table = {},
              const QString& file = {}, const QString& via = {});

// What a failed call reports, read right after it: the driver's text and native number from Qt,
// the SQLSTATE from the handle where Qt keeps it to itself.
Diagnostic FromQtError(const QSqlError& error);
Diagnostic Diagnose(const QSqlQuery& query);
Diagnostic Diagnose(const QSqlDatabase& db);

// Values between the engine and the driver (OdbcValues.cpp).
Value FromVariant(const QVariant& v);
QVariant ToVariant(const Value& v, QMetaType columnType);
// A value of a column of the given type; `exact` for SQL_NUMERIC and SQL_DECIMAL columns, whose
// values the high-precision mode gives as text and which stay text. Other numbers that mode
// gives as text become numbers again.
Value FromColumn(const QVariant& v, QMetaType columnType, bool exact);
// The current row of a query; null columns as invalid QVariants.
QVariantList RowOf(const QSqlQuery& query, int columns);

// A column name as the driver returns it, cut at the first NUL: some drivers report a name's
// length in bytes, and what follows the name is garbage.
QString ColumnName(QString name);

Error ObjectClosedError();
Error NothingPendingError();

}  // namespace dao::detail::odbc
