// The SQLite driver's errors: SQLite's result codes and messages read as the engine's numbers and
// as what they concern.

#include <QRegularExpression>

#include "data/SqlText.h"
#include "data/SqliteDriver.h"

namespace dao::detail::sqlite {

int32_t ErrorNumber(int extendedCode, const QString& message) {
    switch (extendedCode) {
        case SQLITE_CONSTRAINT_UNIQUE:
        case SQLITE_CONSTRAINT_PRIMARYKEY:
        case SQLITE_CONSTRAINT_ROWID:
            return errDuplicateKey;
        case SQLITE_CONSTRAINT_NOTNULL:
            return errRequired;
        case SQLITE_CONSTRAINT_CHECK:
            return errValidationRule;
        case SQLITE_CONSTRAINT_DATATYPE:
            return errDataTypeConversion;
        case SQLITE_READONLY_DBMOVED:
            return errFileMoved;
        default:
            break;
    }
    switch (PrimaryCode(extendedCode)) {
        case SQLITE_MISMATCH:
            return errDataTypeConversion;
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            return errRecordLocked;
        case SQLITE_READONLY:
            return errReadOnly;
        case SQLITE_FULL:
            return errDiskFull;
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            return errUnrecognisedFormat;
        case SQLITE_ERROR:
            if (message.startsWith(QLatin1String("no such table:"))) {
                return errObjectNotFound;
            }
            if (message.startsWith(QLatin1String("no such column:")) ||
                (message.startsWith(QLatin1String("table ")) &&
                 message.contains(QLatin1String(" has no column named ")))) {
                return errTooFewParameters;
            }
            if (message.contains(QLatin1String("syntax error")) ||
                message.startsWith(QLatin1String("incomplete input")) ||
                message.startsWith(QLatin1String("unrecognized token"))) {
                return errSyntax;
            }
            break;
        default:
            break;
    }
    return errDriverFailure;
}

QString ErrorMessage(sqlite3* db) {
    return QString::fromUtf8(sqlite3_errmsg(db));
}

// What follows the marker in SQLite's message, e.g. the table of "no such table: x".
QString After(const QString& message, const QString& marker) {
    const qsizetype at = message.indexOf(marker);
    return at < 0 ? message : message.mid(at + marker.size()).trimmed();
}

// What SQLite's message names, for the error's context: the table, the column, the rule.
void ReadNames(int32_t number, const QString& message, ErrorContext& c) {
    static const QRegularExpression typeMessage(
        QStringLiteral("^cannot store (\\S+) value in (\\S+) column (.+)$"));
    switch (number) {
        case errObjectNotFound:
            c.table = After(message, QStringLiteral(":"));
            break;
        case errTooFewParameters:
            if (message.startsWith(QLatin1String("table "))) {
                const QString rest = message.mid(6);
                c.table = rest.left(rest.indexOf(QLatin1String(" has no column named ")));
                c.column = After(rest, QStringLiteral(" named "));
            } else {
                c.column = After(message, QStringLiteral(":"));
            }
            break;
        case errDuplicateKey:
        case errRequired:
            c.column = After(message, QStringLiteral("failed:"));
            break;
        case errValidationRule:
            c.details << After(message, QStringLiteral("failed:"));
            break;
        case errDataTypeConversion:
            if (const QRegularExpressionMatch m = typeMessage.match(message); m.hasMatch()) {
                c.column = m.captured(3);
                c.details << m.captured(2) << m.captured(1);
            }
            break;
        default:
            break;
    }
}

ErrorKind KindOf(int32_t number, const ErrorContext& c) {
    switch (number) {
        case errObjectNotFound:
            return ErrorKind::TableNotFound;
        case errTooFewParameters:
            return ErrorKind::ColumnNotFound;
        case errSyntax:
            return ErrorKind::Syntax;
        case errDuplicateKey:
            return ErrorKind::DuplicateKey;
        case errRequired:
            return ErrorKind::Required;
        case errValidationRule:
            return ErrorKind::ValidationRule;
        case errDataTypeConversion:
            return c.column.isEmpty() ? ErrorKind::TypeMismatch : ErrorKind::ColumnTypeRefuses;
        case errRecordLocked:
            return ErrorKind::FileLocked;
        case errReadOnly:
            return ErrorKind::FileNotWritable;
        case errFileMoved:
            return ErrorKind::FileMoved;
        case errDiskFull:
            return ErrorKind::DiskFull;
        case errUnrecognisedFormat:
            return ErrorKind::DamagedInUse;
        default:
            return ErrorKind::DriverFailure;
    }
}

// An error for SQLite's code and message. The file and the table name the objects a user can look
// for; SQLite's English message is shown only where it points at the cause.
Error MakeError(int code, const QString& message, const QString& file, const QString& table) {
    const int32_t number = sqlite::ErrorNumber(code, message);
    ErrorContext c{.file = file, .table = table, .driverText = message};
    ReadNames(number, message, c);
    const ErrorKind kind = KindOf(number, c);
    if (kind == ErrorKind::DuplicateKey || kind == ErrorKind::ValidationRule) {
        c.table = table;  // the statement's own table, not one the message names
    }
    return Error(number, kind, std::move(c));
}

Error TableLockedError(const QString& file, const QString& table) {
    return Error(errTableLocked, ErrorKind::TableLocked, {.file = file, .table = table});
}

Error ClosedError() {
    return Error(errObjectInvalid, ErrorKind::ObjectClosed);
}

Error NoCurrentRecordError() {
    return Error(errNoCurrentRecord, ErrorKind::NoCurrentRecord);
}

Error NothingPendingError() {
    return Error(errUpdateWithoutAddNew, ErrorKind::NothingPending);
}

QByteArray QuoteName(const QString& name) {
    return sql::DoubleQuoted(name).toUtf8();
}

}  // namespace dao::detail::sqlite
