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

// Where the wordings come from. The Access driver puts Jet's own message after its prefix
// ("[Microsoft][ODBC Microsoft Access Driver]"); the message list of Jet is the DAO error list.
constexpr const char* kJetErrors =
    "Jet error messages: https://docs.oracle.com/cd/E39885_01/doc.40/e18459/errors_access.htm";
constexpr const char* kJetErrorsAndNative =
    "Jet error messages: https://docs.oracle.com/cd/E39885_01/doc.40/e18459/errors_access.htm; "
    "native number as the Access driver reports it";
constexpr const char* kOdbcStates =
    "ODBC SQLSTATEs: "
    "https://learn.microsoft.com/en-us/sql/odbc/reference/appendixes/appendix-a-odbc-error-codes";

}  // namespace

// Rows are tried in order: the native numbers first, then the rows whose SQLSTATE and text both
// match, then the texts alone. Jet's texts come in English or in the language of the Access
// Database Engine installed; the Korean markers are short stems of the localised wording.
const std::vector<DiagnosticRule>& AccessRules() {
    static const std::vector<DiagnosticRule> rules = {
        // 3022: "... would create duplicate values in the index, primary key, or relationship."
        {"23000",
         kJetDuplicateKey,
         {"duplicate values", "중복 값", "중복된 값"},
         Failure::Duplicate,
         kJetErrorsAndNative},
        // 3042/3078: "... cannot find the input table or query '|'."
        {nullptr,
         kJetTableNotFound,
         {"cannot find the input table", "입력 테이블 또는 쿼리"},
         Failure::MissingTable,
         kJetErrorsAndNative},
        // 3061: "Too few parameters. Expected |." (an unknown name is taken for a parameter)
        {nullptr,
         kJetTooFewParameters,
         {"Too few parameters", "매개 변수가 너무 적"},
         Failure::MissingColumn,
         kJetErrorsAndNative},
        // 3314: "The field '|' cannot contain a Null value because the Required property for
        // this field is set to True."; 3162: "You tried to assign the Null value to a variable
        // that is not a Variant data type."
        {nullptr,
         0,
         {"cannot contain a Null value", "assign the Null value", "Null 값을 포함할 수 없",
          "Null 값을 할당"},
         Failure::Required,
         kJetErrors},
        // 3315: "Field '|' cannot be a zero-length string."
        {nullptr, 0, {"zero-length string", "길이가 0인 문자열"}, Failure::ZeroLength, kJetErrors},
        // 3316/3317: "One or more values are prohibited by the validation rule '|' set for '|'."
        {nullptr, 0, {"validation rule", "유효성 검사 규칙"}, Failure::Validation, kJetErrors},
        // 3163: "The field is too small to accept the amount of data you attempted to add."
        {nullptr, 0, {"field is too small", "필드가 너무 작"}, Failure::FieldTooSmall, kJetErrors},
        // 22001: string data, right truncated.
        {"22001", 0, {}, Failure::FieldTooSmall, kOdbcStates},
        // 3052: "File sharing lock count exceeded. Increase MaxLocksPerFile registry entry."
        {nullptr,
         0,
         {"lock count exceeded", "MaxLocksPerFile", "잠금 수가 초과"},
         Failure::TooManyLocks,
         kJetErrors},
        // 3008: "The table '|' is already opened exclusively by another user, or it is already
        // open through the user interface ..."; 3009: "... the table cannot be locked because
        // it is currently in use."; 3260/3218/3186/3188: "Could not update; currently locked
        // ..."; 3261: "Table '|' is exclusively locked by user '|' on machine '|'."
        {nullptr,
         0,
         {"open through the user interface", "table cannot be locked", "currently locked",
          "Table '", "테이블이 이미 단독으로", "현재 잠겨"},
         Failure::Locked,
         kJetErrors},
        // 3045: "Could not use '|'; file already in use."; 3051: "... cannot open the file '|'.
        // It is already opened exclusively by another user, or you need permission to view its
        // data."; 3356: "You attempted to open a database that is already opened exclusively by
        // user '|' on machine '|'."; 3006: "Database '|' is exclusively locked."; 3734: "The
        // database has been placed in a state by user '|' on machine '|' that prevents it from
        // being opened or locked."
        {nullptr,
         0,
         {"file already in use", "opened exclusively", "exclusively locked", "placed in a state by",
          "이미 사용 중", "단독으로 열려", "단독으로 잠겨", "열거나 잠글 수 없는 상태"},
         Failure::InUse,
         kJetErrors},
        // 3050: "Could not lock file." (no right to make the lock file in the folder)
        {nullptr, 0, {"Could not lock file", "파일을 잠글 수 없"}, Failure::CannotLock, kJetErrors},
        // 3027: "Cannot update. Database or object is read-only."; 3073: "Operation must use an
        // updateable query." (the file or its folder refuses writes)
        {nullptr,
         0,
         {"is read-only", "updateable query", "updatable query", "읽기 전용",
          "업데이트 가능한 쿼리"},
         Failure::ReadOnly,
         kJetErrors},
        // 3024: "Could not find file '|'."; 3044: "'|' is not a valid path."; 3055: "Not a valid
        // file name."
        {nullptr,
         0,
         {"Could not find file", "not a valid path", "not a valid file name", "파일을 찾을 수 없",
          "올바른 경로가 아닙", "잘못된 경로", "올바른 파일 이름이 아닙"},
         Failure::FileNotFound,
         kJetErrors},
        // 3343: "Unrecognized database format '|'."
        {nullptr,
         0,
         {"Unrecognized database format", "인식할 수 없는 데이터베이스 형식"},
         Failure::NotADatabase,
         kJetErrors},
        // 3031: "Not a valid password."
        {nullptr,
         0,
         {"Not a valid password", "암호가 잘못", "올바른 암호가 아닙"},
         Failure::BadPassword,
         kJetErrors},
        // 3026: "Not enough space on disk."; HY000 with the text of the system.
        {nullptr,
         0,
         {"Not enough space on disk", "disk full", "디스크 공간"},
         Failure::DiskFull,
         kJetErrors},
    };
    return rules;
}

int MatchingRule(const Diagnostic& d) {
    const Reading r(d);
    if (r.sqlite) {
        return -1;  // the SQLite driver's numbers and texts are read below
    }
    const std::vector<DiagnosticRule>& rules = AccessRules();
    const auto index = [&rules](const DiagnosticRule& rule) {
        return static_cast<int>(&rule - rules.data());
    };
    for (const DiagnosticRule& rule : rules) {
        if (rule.native != 0 && r.Native(rule.native)) {
            return index(rule);
        }
    }
    const auto says = [&r](const DiagnosticRule& rule) {
        return std::any_of(rule.markers.begin(), rule.markers.end(),
                           [&r](const char* m) { return Contains(r.message, m); });
    };
    for (const DiagnosticRule& rule : rules) {
        if (rule.state != nullptr && r.state == QLatin1String(rule.state) &&
            (rule.markers.empty() || says(rule))) {
            return index(rule);
        }
    }
    for (const DiagnosticRule& rule : rules) {
        if (says(rule)) {
            return index(rule);
        }
    }
    return -1;
}

namespace {

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
    // The Access driver's own numbers and texts come before the SQLSTATE classes: 42000 (37000
    // in ODBC 2) is "syntax error or access violation", and Jet reports a read-only file and
    // other refusals in it.
    if (const int rule = MatchingRule(d); rule >= 0) {
        return AccessRules()[static_cast<size_t>(rule)].failure;
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
        case Failure::ZeroLength:
        case Failure::FieldTooSmall:
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
        case Failure::InUse:
            return {errFileInUse, ErrorKind::FileInUse};
        case Failure::CannotLock:
            return {errCannotLockFile, ErrorKind::CannotLockFile};
        case Failure::ReadOnly:
            return {errReadOnly, ErrorKind::ReadOnlyFile};
        case Failure::FileNotFound:
            return {errFileNotFound, ErrorKind::FileNotFound};
        case Failure::BadPassword:
            return {errBadPassword, ErrorKind::BadPassword};
        case Failure::TooManyLocks:
            return {errTooManyLocks, ErrorKind::TooManyLocks};
        case Failure::ZeroLength:
            return {errZeroLength, ErrorKind::ZeroLength};
        case Failure::FieldTooSmall:
            return {errFieldTooSmall, ErrorKind::FieldTooSmall};
        case Failure::Other:
            break;
    }
    return {errDriverFailure, ErrorKind::DriverFailure};
}

}  // namespace

Error ToError(const Diagnostic& d, Operation operation, const QString& table, const QString& file,
              const QString& via) {
    const auto [number, kind] = NumberAndKind(Classify(d), operation);
    ErrorContext c{.file = file.isEmpty() ? QString() : QDir::toNativeSeparators(file),
                   .table = table,
                   .driverText = d.message,
                   .via = via,
                   .sqlState = d.sqlState,
                   .nativeCode = d.nativeCode};
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
            case ErrorKind::ZeroLength:
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
