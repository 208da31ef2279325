// The ODBC driver's diagnostics: what a failed call reports, what it means whatever the driver and
// the language of its messages, and the engine's error for it.

#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlResult>
#include <algorithm>
#include <initializer_list>
#include <utility>

#include "data/OdbcApi.h"

namespace dao::detail::odbc {

namespace {

SQLHANDLE HandleOf(const QVariant& handle) {
    if (handle.isValid() && handle.metaType() == QMetaType::fromType<void*>()) {
        return *static_cast<void* const*>(handle.constData());
    }
    return SQL_NULL_HANDLE;
}

void MergeRecord(Diagnostic& d, const std::optional<Diagnostic>& record) {
    if (!record) {
        return;
    }
    if (!record->sqlState.isEmpty()) {
        d.sqlState = record->sqlState;
    }
    if (d.nativeCode.isEmpty() || d.nativeCode == QLatin1String("-1")) {
        d.nativeCode = record->nativeCode;
    }
    if (d.message.isEmpty()) {
        d.message = record->message;
    }
}

}  // namespace

// What QSqlError carries: the driver's text, its native number and, since Qt 6.6 or so, the
// SQLSTATEs after a comma at the end of the text.
Diagnostic FromQtError(const QSqlError& error) {
    Diagnostic d;
    QString text = error.databaseText().trimmed();
    if (text.isEmpty()) {
        text = error.driverText().trimmed();
    }
    static const QRegularExpression stateTail(
        QStringLiteral(R"(,\s*([0-9A-Z]{5})(?:;[0-9A-Z]{5})*\s*$)"));
    const QRegularExpressionMatch m = stateTail.match(text);
    if (m.hasMatch()) {
        d.sqlState = m.captured(1);
        text.truncate(m.capturedStart());
    }
    d.message = text.trimmed();
    d.nativeCode = error.nativeErrorCode().section(QLatin1Char(';'), 0, 0).trimmed();
    return d;
}

// The failure of a query, read right after the failed call (the statement's diagnostics last until
// the next call on it).
Diagnostic Diagnose(const QSqlQuery& query) {
    Diagnostic d = FromQtError(query.lastError());
    if (const QSqlResult* result = query.result()) {
        MergeRecord(d, OdbcApi::Get().FirstRecord(SQL_HANDLE_STMT, HandleOf(result->handle())));
    }
    return d;
}

// The failure of a connection-level call (begin, commit).
Diagnostic Diagnose(const QSqlDatabase& db) {
    Diagnostic d = FromQtError(db.lastError());
    if (const QSqlDriver* driver = db.driver()) {
        MergeRecord(d, OdbcApi::Get().FirstRecord(SQL_HANDLE_DBC, HandleOf(driver->handle())));
    }
    return d;
}

namespace {

bool Contains(const QString& text, const char* marker) {
    return text.contains(QString::fromUtf8(marker), Qt::CaseInsensitive);
}

bool ContainsAny(const QString& text, std::initializer_list<const char*> markers) {
    return std::any_of(markers.begin(), markers.end(),
                       [&text](const char* m) { return Contains(text, m); });
}

// Which constraint a class-23 failure broke, from its text; Integrity when the text says nothing
// known (a translated message, say).
Failure ConstraintKind(const QString& m, long long native, bool numeric) {
    if (ContainsAny(m, {"NOT NULL constraint", "cannot contain a Null value", "may not be NULL",
                        "Null 값을 포함할 수 없"})) {
        return Failure::Required;
    }
    if (ContainsAny(m, {"CHECK constraint", "validation rule", "유효성 검사 규칙"})) {
        return Failure::Validation;
    }
    if ((numeric && native == -1605) ||
        ContainsAny(m, {"UNIQUE constraint", "PRIMARY KEY must be unique", "is not unique",
                        "duplicate values", "duplicate key", "중복"})) {
        return Failure::Duplicate;
    }
    return Failure::Integrity;
}

// The name a driver's message gives for the object of a failure; empty when it gives none.
QString NameInMessage(const QString& m) {
    static const QRegularExpression sqliteName(
        QStringLiteral(
            R"((?:no such table|no such column|constraint failed)\s*:\s*(.+?)\s*(?:\(\d+\))?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression columnNamed(
        QStringLiteral(R"(has no column named\s+(\S+?)\s*(?:\(\d+\))?\s*$)"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression quoted(QStringLiteral(R"('([^']+)')"));
    for (const QRegularExpression* re : {&sqliteName, &columnNamed, &quoted}) {
        const QRegularExpressionMatch match = re->match(m);
        if (match.hasMatch()) {
            return match.captured(1).trimmed();
        }
    }
    return {};
}

}  // namespace

Failure Classify(const Diagnostic& d) {
    const QString state = d.sqlState.trimmed().toUpper();
    const QString& m = d.message;
    bool numeric = false;
    const long long native = d.nativeCode.trimmed().toLongLong(&numeric);
    const bool sqlite = m.contains(QLatin1String("[SQLite]"), Qt::CaseInsensitive);

    if (state == QLatin1String("IM002") || state == QLatin1String("IM003") ||
        ContainsAny(m, {"Data source name not found", "Can't open lib",
                        "Specified driver could not be loaded", "데이터 원본 이름이 없",
                        "드라이버를 로드할 수 없"})) {
        return Failure::MissingDriver;
    }

    // The standard classes first: they do not depend on the language of the message.
    if (state == QLatin1String("42S02")) {
        return Failure::MissingTable;
    }
    // Jet takes an unknown name for a parameter and reports too few parameters (07002).
    if (state == QLatin1String("42S22") || state == QLatin1String("07001") ||
        state == QLatin1String("07002")) {
        return Failure::MissingColumn;
    }
    if (state.startsWith(QLatin1String("23"))) {
        return ConstraintKind(m, native, numeric);
    }
    if (state == QLatin1String("42000") || state == QLatin1String("37000")) {
        return Failure::Syntax;
    }
    if (state == QLatin1String("HYT00") || state == QLatin1String("HYT01") ||
        state == QLatin1String("40001")) {
        return Failure::Locked;
    }
    if (state.startsWith(QLatin1String("22"))) {
        return Failure::Conversion;
    }

    // Then the text and native numbers, for drivers that report only a general SQLSTATE (the
    // SQLite driver says S1000 or HY000 for everything).
    if (ContainsAny(m, {"no such table", "cannot find the input table",
                        "could not find output table", "cannot find table"}) ||
        (numeric && native == -1305)) {
        return Failure::MissingTable;
    }
    if (ContainsAny(m, {"no such column", "has no column named", "too few parameters"}) ||
        (numeric && native == -3010)) {
        return Failure::MissingColumn;
    }
    if (ContainsAny(m, {"syntax error", "incomplete input", "unrecognized token", "구문 오류"})) {
        return Failure::Syntax;
    }
    if (ContainsAny(m, {"database is locked", "database table is locked", "currently locked",
                        "could not lock", "exclusively locked", "already in use", "is locked",
                        "잠겨", "잠금"}) ||
        (sqlite && numeric && (native == 5 || native == 6))) {
        return Failure::Locked;
    }
    // SQLite reports a STRICT column's type refusal as a constraint (19); it concerns one row.
    if (ContainsAny(m, {"cannot store", "datatype mismatch"})) {
        return Failure::ColumnType;
    }
    if (ContainsAny(m, {"data type mismatch", "type mismatch"})) {
        return Failure::Conversion;
    }
    if (ContainsAny(m, {"constraint failed", "duplicate values", "cannot contain a Null value",
                        "validation rule", "related record"}) ||
        (sqlite && numeric && native == 19) || (numeric && native == -1605)) {
        return ConstraintKind(m, native, numeric);
    }
    if (ContainsAny(m, {"database or disk is full", "disk full", "디스크 공간"}) ||
        (sqlite && numeric && native == 13)) {
        return Failure::DiskFull;
    }
    if (ContainsAny(m, {"file is not a database", "Unrecognized database format", "malformed",
                        "인식할 수 없는 데이터베이스 형식"}) ||
        (sqlite && numeric && (native == 26 || native == 11))) {
        return Failure::NotADatabase;
    }
    if (ContainsAny(m, {"unable to open database", "connect failed", "Could not find file",
                        "not a valid file name", "not a valid path", "파일을 찾을 수 없"}) ||
        (sqlite && numeric && native == 14) || state == QLatin1String("08001") ||
        state == QLatin1String("08004")) {
        return Failure::CannotOpen;
    }
    return Failure::Other;
}

bool IsRowFailure(Failure failure) {
    switch (failure) {
        case Failure::Duplicate:
        case Failure::Required:
        case Failure::Validation:
        case Failure::Integrity:
        case Failure::ColumnType:
            return true;
        default:
            return false;
    }
}

namespace {

// The engine's number and situation for a failure of an operation.
std::pair<int32_t, ErrorKind> NumberAndKind(Failure failure, Operation operation) {
    switch (failure) {
        case Failure::MissingDriver:
            return {errInstallableIsam, ErrorKind::MissingOdbcDriver};
        case Failure::CannotOpen:
            return {errCannotOpenFile, ErrorKind::CannotOpen};
        case Failure::NotADatabase:
            return {errUnrecognisedFormat, operation == Operation::Open ? ErrorKind::DamagedFile
                                                                        : ErrorKind::DamagedInUse};
        case Failure::MissingTable:
            return {errObjectNotFound, ErrorKind::TableNotFound};
        case Failure::MissingColumn:
            return {errTooFewParameters, ErrorKind::ColumnNotFound};
        case Failure::Syntax:
            return {errSyntax, ErrorKind::Syntax};
        case Failure::Locked:
            if (operation == Operation::Open) {
                return {errDatabaseLocked, ErrorKind::FileLocked};
            }
            if (operation == Operation::OpenRecordset || operation == Operation::Read) {
                return {errTableLocked, ErrorKind::TableLocked};
            }
            return {errRecordLocked, ErrorKind::FileLocked};
        case Failure::Duplicate:
            return {errDuplicateKey, ErrorKind::DuplicateKey};
        case Failure::Required:
            return {errRequired, ErrorKind::Required};
        case Failure::Validation:
            return {errValidationRule, ErrorKind::ValidationRule};
        case Failure::Integrity:
            return {errDuplicateKey, ErrorKind::Integrity};
        case Failure::ColumnType:
        case Failure::Conversion:
            return {errDataTypeConversion, ErrorKind::TypeMismatch};
        case Failure::DiskFull:
            return {errDiskFull, ErrorKind::DiskFull};
        case Failure::Other:
            break;
    }
    return {errDriverFailure, ErrorKind::DriverFailure};
}

}  // namespace

Error ToError(const Diagnostic& d, Operation operation, const QString& table, const QString& file) {
    const auto [number, kind] = NumberAndKind(Classify(d), operation);
    ErrorContext c{
        file.isEmpty() ? QString() : QDir::toNativeSeparators(file), table, {}, d.message, {}};
    // What the driver's message names: a table, a column ("t.c"), a rule, or nothing.
    const QString named = NameInMessage(d.message);
    if (!named.isEmpty()) {
        switch (kind) {
            case ErrorKind::TableNotFound:
                c.table = named;
                break;
            case ErrorKind::ColumnNotFound:
            case ErrorKind::DuplicateKey:
            case ErrorKind::Required:
                c.column = named;
                break;
            case ErrorKind::ValidationRule:
                c.details << named;
                break;
            default:
                break;
        }
    }
    return Error(number, kind, std::move(c));
}

}  // namespace dao::detail::odbc
