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
#include <optional>
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

// Native error numbers: the Jet and ACE driver's own, and SQLite's result codes as the SQLite ODBC
// driver reports them.
constexpr long long kJetTableNotFound = -1305;
constexpr long long kJetTooFewParameters = -3010;
constexpr long long kJetDuplicateKey = -1605;
constexpr long long kSqliteBusy = 5;
constexpr long long kSqliteLocked = 6;
constexpr long long kSqliteCorrupt = 11;
constexpr long long kSqliteFull = 13;
constexpr long long kSqliteCantOpen = 14;
constexpr long long kSqliteConstraint = 19;
constexpr long long kSqliteNotADatabase = 26;

// A diagnostic read once for classifying.
struct Reading {
    explicit Reading(const Diagnostic& d)
        : state(d.sqlState.trimmed().toUpper()),
          message(d.message),
          sqlite(d.message.contains(QLatin1String("[SQLite]"), Qt::CaseInsensitive)) {
        native = d.nativeCode.trimmed().toLongLong(&numeric);
    }
    bool Native(long long number) const { return numeric && native == number; }
    bool SqliteNative(long long number) const { return sqlite && Native(number); }
    bool Says(std::initializer_list<const char*> markers) const {
        return ContainsAny(message, markers);
    }
    bool State(std::initializer_list<const char*> states) const {
        return std::any_of(states.begin(), states.end(),
                           [this](const char* s) { return state == QLatin1String(s); });
    }

    QString state;
    QString message;
    bool sqlite;
    bool numeric = false;
    long long native = 0;
};

// Which constraint a class-23 failure broke, from its text; Integrity when the text says nothing
// known (a translated message, say).
Failure ConstraintKind(const Reading& r) {
    if (r.Says({"NOT NULL constraint", "cannot contain a Null value", "may not be NULL",
                "Null 값을 포함할 수 없"})) {
        return Failure::Required;
    }
    if (r.Says({"CHECK constraint", "validation rule", "유효성 검사 규칙"})) {
        return Failure::Validation;
    }
    if (r.Native(kJetDuplicateKey) ||
        r.Says({"UNIQUE constraint", "PRIMARY KEY must be unique", "is not unique",
                "duplicate values", "duplicate key", "중복"})) {
        return Failure::Duplicate;
    }
    return Failure::Integrity;
}

// The standard classes: they do not depend on the language of the message.
std::optional<Failure> ByState(const Reading& r) {
    if (r.State({"IM002", "IM003"})) {
        return Failure::MissingDriver;
    }
    if (r.State({"42S02"})) {
        return Failure::MissingTable;
    }
    // Jet takes an unknown name for a parameter and reports too few parameters (07002).
    if (r.State({"42S22", "07001", "07002"})) {
        return Failure::MissingColumn;
    }
    if (r.state.startsWith(QLatin1String("23"))) {
        return ConstraintKind(r);
    }
    if (r.State({"42000", "37000"})) {
        return Failure::Syntax;
    }
    if (r.State({"HYT00", "HYT01", "40001"})) {
        return Failure::Locked;
    }
    if (r.state.startsWith(QLatin1String("22"))) {
        return Failure::Conversion;
    }
    return std::nullopt;
}

// What a statement or a row ran into, from the text and native numbers, for drivers that report
// only a general SQLSTATE (the SQLite driver says S1000 or HY000 for everything).
std::optional<Failure> ByStatementText(const Reading& r) {
    if (r.Says({"no such table", "cannot find the input table", "could not find output table",
                "cannot find table"}) ||
        r.Native(kJetTableNotFound)) {
        return Failure::MissingTable;
    }
    if (r.Says({"no such column", "has no column named", "too few parameters"}) ||
        r.Native(kJetTooFewParameters)) {
        return Failure::MissingColumn;
    }
    if (r.Says({"syntax error", "incomplete input", "unrecognized token", "구문 오류"})) {
        return Failure::Syntax;
    }
    if (r.Says({"database is locked", "database table is locked", "currently locked",
                "could not lock", "exclusively locked", "already in use", "is locked", "잠겨",
                "잠금"}) ||
        r.SqliteNative(kSqliteBusy) || r.SqliteNative(kSqliteLocked)) {
        return Failure::Locked;
    }
    // SQLite reports a STRICT column's type refusal as a constraint (19); it concerns one row.
    if (r.Says({"cannot store", "datatype mismatch"})) {
        return Failure::ColumnType;
    }
    if (r.Says({"data type mismatch", "type mismatch"})) {
        return Failure::Conversion;
    }
    if (r.Says({"constraint failed", "duplicate values", "cannot contain a Null value",
                "validation rule", "related record"}) ||
        r.SqliteNative(kSqliteConstraint) || r.Native(kJetDuplicateKey)) {
        return ConstraintKind(r);
    }
    return std::nullopt;
}

// What the file ran into, from the text and native numbers.
Failure ByFileText(const Reading& r) {
    if (r.Says({"database or disk is full", "disk full", "디스크 공간"}) ||
        r.SqliteNative(kSqliteFull)) {
        return Failure::DiskFull;
    }
    if (r.Says({"file is not a database", "Unrecognized database format", "malformed",
                "인식할 수 없는 데이터베이스 형식"}) ||
        r.SqliteNative(kSqliteNotADatabase) || r.SqliteNative(kSqliteCorrupt)) {
        return Failure::NotADatabase;
    }
    if (r.Says({"unable to open database", "connect failed", "Could not find file",
                "not a valid file name", "not a valid path", "파일을 찾을 수 없"}) ||
        r.SqliteNative(kSqliteCantOpen) || r.State({"08001", "08004"})) {
        return Failure::CannotOpen;
    }
    return Failure::Other;
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
    const Reading r(d);
    if (r.Says({"Data source name not found", "Can't open lib",
                "Specified driver could not be loaded", "데이터 원본 이름이 없",
                "드라이버를 로드할 수 없"})) {
        return Failure::MissingDriver;
    }
    if (const std::optional<Failure> failure = ByState(r)) {
        return *failure;
    }
    if (const std::optional<Failure> failure = ByStatementText(r)) {
        return *failure;
    }
    return ByFileText(r);
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
    ErrorContext c{.file = file.isEmpty() ? QString() : QDir::toNativeSeparators(file),
                   .table = table,
                   .driverText = d.message};
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
