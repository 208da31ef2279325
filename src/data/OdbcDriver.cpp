#include "data/OdbcDriver.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLibrary>
#include <QList>
#include <QMetaType>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QSqlResult>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QtGlobal>
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include "data/Drivers.h"
#include "data/SqliteDriver.h"

namespace dao {

namespace {

using detail::OdbcTarget;
using detail::odbc::Diagnostic;
using detail::odbc::Failure;
using detail::odbc::Operation;

// Saved rows are committed in groups: one commit per row is slow on every engine, one transaction
// for a whole table holds locks and journal for too long (Jet has a lock count limit per file).
constexpr qsizetype kRowsPerCommit = 1000;

// Distinct column sets of the prepared INSERTs a recordset keeps; a copy uses one or a few.
constexpr std::size_t kMaxCachedInserts = 64;

const QString kOdbcPlugin = QStringLiteral("QODBC");

const QStringList& AccessDriverNames() {
    // The ACE driver (Office 2007 and later, 32- or 64-bit) reads both formats; the Jet 4.0
    // driver ships with 32-bit Windows and reads .mdb only.
    static const QStringList names = {QStringLiteral("Microsoft Access Driver (*.mdb, *.accdb)"),
                                      QStringLiteral("Microsoft Access Driver (*.mdb)")};
    return names;
}

// The SQLite ODBC driver registers as "SQLite3" on Linux distributions and as "SQLite3 ODBC
// Driver" with its Windows installer.
const QStringList& SqliteDriverNames() {
    static const QStringList names = {QStringLiteral("SQLite3"),
                                      QStringLiteral("SQLite3 ODBC Driver")};
    return names;
}

std::atomic<bool> g_accessStyleExecute{false};
std::atomic<testing::OdbcPathMap> g_sqliteOdbcPathMap{nullptr};
std::atomic<quint64> g_connectionCounter{0};

// ---- The few ODBC calls made directly

// QODBC keeps a failure's SQLSTATE to itself in older Qt versions (it reports the driver's text and
// native number only), and the driver's text is translated on a localised Windows. The SQLSTATE is
// therefore read from the statement handle that QODBC exposes, and the installed drivers are listed
// before an Access file is opened. The functions come at run time from the driver manager that
// QODBC has already loaded, so the build needs no ODBC import library.
class OdbcApi {
public:
    static const OdbcApi& Get() {
        static const OdbcApi api;
        return api;
    }

    // The names of the installed ODBC drivers; nullopt when they cannot be listed.
    std::optional<QStringList> InstalledDrivers() const {
        if (allocHandle_ == nullptr || setEnvAttr_ == nullptr || drivers_ == nullptr ||
            freeHandle_ == nullptr) {
            return std::nullopt;
        }
        SQLHANDLE env = SQL_NULL_HANDLE;
        if (!SQL_SUCCEEDED(allocHandle_(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
            return std::nullopt;
        }
        setEnvAttr_(env, SQL_ATTR_ODBC_VERSION,
                    reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(SQL_OV_ODBC3)), 0);
        QStringList names;
        SQLCHAR description[512];
        SQLCHAR attributes[2048];
        SQLUSMALLINT direction = SQL_FETCH_FIRST;
        bool listed = true;
        for (;;) {
            SQLSMALLINT descriptionLength = 0;
            SQLSMALLINT attributesLength = 0;
            const SQLRETURN r =
                drivers_(env, direction, description, sizeof description, &descriptionLength,
                         attributes, sizeof attributes, &attributesLength);
            if (r == SQL_NO_DATA) {
                break;
            }
            if (!SQL_SUCCEEDED(r)) {
                listed = false;
                break;
            }
            names << QString::fromLocal8Bit(reinterpret_cast<const char*>(description));
            direction = SQL_FETCH_NEXT;
        }
        freeHandle_(SQL_HANDLE_ENV, env);
        if (!listed) {
            return std::nullopt;
        }
        return names;
    }

    // The first error record of a handle (a warning record only when there is no error record).
    std::optional<Diagnostic> FirstRecord(SQLSMALLINT handleType, SQLHANDLE handle) const {
        if (getDiagRec_ == nullptr || handle == SQL_NULL_HANDLE) {
            return std::nullopt;
        }
        std::optional<Diagnostic> first;
        for (SQLSMALLINT record = 1; record <= 16; ++record) {
            SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
            SQLINTEGER native = 0;
            SQLCHAR text[SQL_MAX_MESSAGE_LENGTH] = {};
            SQLSMALLINT length = 0;
            const SQLRETURN r =
                getDiagRec_(handleType, handle, record, state, &native, text, sizeof text, &length);
            if (!SQL_SUCCEEDED(r)) {
                break;
            }
            Diagnostic d;
            d.sqlState = QString::fromLatin1(reinterpret_cast<const char*>(state)).trimmed();
            d.nativeCode = QString::number(native);
            d.message = QString::fromLocal8Bit(reinterpret_cast<const char*>(text)).trimmed();
            if (!d.sqlState.startsWith(QLatin1String("01"))) {
                return d;
            }
            if (!first) {
                first = d;
            }
        }
        return first;
    }

private:
    using AllocHandleFn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
    using SetEnvAttrFn = SQLRETURN(SQL_API*)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER);
    using DriversFn = SQLRETURN(SQL_API*)(SQLHENV, SQLUSMALLINT, SQLCHAR*, SQLSMALLINT,
                                          SQLSMALLINT*, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*);
    using FreeHandleFn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE);
    using GetDiagRecFn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*,
                                             SQLINTEGER*, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*);

    OdbcApi() {
#if defined(_WIN32)
        const std::pair<const char*, int> candidates[] = {{"odbc32", -1}};
#elif defined(__APPLE__)
        const std::pair<const char*, int> candidates[] = {{"iodbc", 2}, {"odbc", 2}};
#else
        const std::pair<const char*, int> candidates[] = {{"odbc", 2}, {"odbc", -1}, {"iodbc", 2}};
#endif
        for (const auto& [name, version] : candidates) {
            library_.setFileNameAndVersion(QString::fromLatin1(name), version);
            if (library_.load()) {
                break;
            }
        }
        if (!library_.isLoaded()) {
            return;
        }
        allocHandle_ = reinterpret_cast<AllocHandleFn>(library_.resolve("SQLAllocHandle"));
        setEnvAttr_ = reinterpret_cast<SetEnvAttrFn>(library_.resolve("SQLSetEnvAttr"));
        drivers_ = reinterpret_cast<DriversFn>(library_.resolve("SQLDrivers"));
        freeHandle_ = reinterpret_cast<FreeHandleFn>(library_.resolve("SQLFreeHandle"));
        getDiagRec_ = reinterpret_cast<GetDiagRecFn>(library_.resolve("SQLGetDiagRec"));
    }

    QLibrary library_;
    AllocHandleFn allocHandle_ = nullptr;
    SetEnvAttrFn setEnvAttr_ = nullptr;
    DriversFn drivers_ = nullptr;
    FreeHandleFn freeHandle_ = nullptr;
    GetDiagRecFn getDiagRec_ = nullptr;
};

// ---- Diagnostics from Qt's errors

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

// ---- SQL text

bool IsWordChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

// The index just past a quoted name or literal that starts at `start`, or the end of the text.
qsizetype SkipQuoted(const QString& sql, qsizetype start) {
    const QChar open = sql[start];
    const QChar close = open == QLatin1Char('[') ? QLatin1Char(']') : open;
    qsizetype i = start + 1;
    while (i < sql.size()) {
        if (sql[i] == close) {
            // A doubled quote inside a literal stands for the quote itself.
            if (close != QLatin1Char(']') && i + 1 < sql.size() && sql[i + 1] == close) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return sql.size();
}

bool IsQuoteStart(QChar c) {
    return c == QLatin1Char('\'') || c == QLatin1Char('"') || c == QLatin1Char('`') ||
           c == QLatin1Char('[');
}

// Walks the text from `from`, passing over literals and quoted names, and calls
// visit(index, character, depth) for every other character, with the depth of parentheses after
// that character (an opening one counts itself, a closing one does not). Returns the index at
// which visit returned true, or -1.
template <class Visit>
qsizetype ScanOutsideQuotes(const QString& sql, qsizetype from, Visit visit) {
    int depth = 0;
    qsizetype i = from;
    while (i < sql.size()) {
        const QChar c = sql[i];
        if (IsQuoteStart(c)) {
            i = SkipQuoted(sql, i);
            continue;
        }
        if (c == QLatin1Char('(')) {
            ++depth;
        } else if (c == QLatin1Char(')')) {
            --depth;
        }
        if (visit(i, c, depth)) {
            return i;
        }
        ++i;
    }
    return -1;
}

// The first occurrence of a keyword outside literals, quoted names and parentheses; -1 if none.
qsizetype FindTopLevelKeyword(const QString& sql, QLatin1String keyword, qsizetype from = 0) {
    return ScanOutsideQuotes(sql, from, [&](qsizetype i, QChar, int depth) {
        if (depth != 0 || (i > 0 && IsWordChar(sql[i - 1])) ||
            !QStringView(sql).mid(i).startsWith(keyword, Qt::CaseInsensitive)) {
            return false;
        }
        const qsizetype end = i + keyword.size();
        return end >= sql.size() || !IsWordChar(sql[end]);
    });
}

// The index of the parenthesis that closes the one at `open`; -1 if it is not closed.
qsizetype MatchingParen(const QString& sql, qsizetype open) {
    return ScanOutsideQuotes(sql, open, [](qsizetype, QChar c, int depth) {
        return c == QLatin1Char(')') && depth == 0;
    });
}

// Splits a list at its top-level commas.
QStringList SplitTopLevel(const QString& list) {
    QStringList parts;
    qsizetype start = 0;
    ScanOutsideQuotes(list, 0, [&](qsizetype i, QChar c, int depth) {
        if (c == QLatin1Char(',') && depth == 0) {
            parts << list.mid(start, i - start).trimmed();
            start = i + 1;
        }
        return false;
    });
    parts << list.mid(start).trimmed();
    return parts;
}

QString WithoutTrailingSemicolon(QString sql) {
    sql = sql.trimmed();
    while (sql.endsWith(QLatin1Char(';'))) {
        sql.chop(1);
        sql = sql.trimmed();
    }
    return sql;
}

// A table name as a statement may write it.
const QString kNamePattern =
    QStringLiteral(R"((\[[^\]]+\]|"(?:[^"]|"")+"|`[^`]+`|[^\s;,()\[\]"`]+))");

// A table name without its brackets or quotes, for catalog calls and messages.
QString BareName(const QString& name) {
    if (name.size() >= 2) {
        const QChar first = name.front();
        const QChar last = name.back();
        if ((first == QLatin1Char('[') && last == QLatin1Char(']')) ||
            (first == QLatin1Char('`') && last == QLatin1Char('`'))) {
            return name.mid(1, name.size() - 2);
        }
        if (first == QLatin1Char('"') && last == QLatin1Char('"')) {
            return name.mid(1, name.size() - 2)
                .replace(QStringLiteral("\"\""), QStringLiteral("\""));
        }
    }
    return name;
}

enum class StatementKind { Insert, Update, Delete, Other };

StatementKind KindOf(const QString& sql) {
    static const QRegularExpression firstWord(QStringLiteral(R"(^[\s(]*([A-Za-z]+))"));
    const QString word = firstWord.match(sql).captured(1).toUpper();
    if (word == QLatin1String("INSERT")) {
        return StatementKind::Insert;
    }
    if (word == QLatin1String("UPDATE")) {
        return StatementKind::Update;
    }
    if (word == QLatin1String("DELETE")) {
        return StatementKind::Delete;
    }
    return StatementKind::Other;
}

struct InsertParts {
    QString table;
    QStringList columns;    // as written; empty for all columns in table order
    QStringList valueRows;  // each "( ... )" of a VALUES list
    QString select;         // the SELECT of INSERT ... SELECT
};

std::optional<InsertParts> ParseInsert(const QString& statement) {
    const QString sql = WithoutTrailingSemicolon(statement);
    static const QRegularExpression head(
        QStringLiteral(R"(^\s*INSERT\s+INTO\s+)") + kNamePattern + QStringLiteral(R"(\s*)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = head.match(sql);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    InsertParts parts;
    parts.table = m.captured(1);
    qsizetype pos = m.capturedEnd();
    static const QRegularExpression selectStart(QStringLiteral(R"(^\(?\s*SELECT\b)"),
                                                QRegularExpression::CaseInsensitiveOption);
    if (pos < sql.size() && sql[pos] == QLatin1Char('(') &&
        !selectStart.match(sql.mid(pos)).hasMatch()) {
        const qsizetype close = MatchingParen(sql, pos);
        if (close < 0) {
            return std::nullopt;
        }
        parts.columns = SplitTopLevel(sql.mid(pos + 1, close - pos - 1));
        pos = close + 1;
    }
    const QString rest = sql.mid(pos).trimmed();
    static const QRegularExpression values(QStringLiteral(R"(^VALUES\b)"),
                                           QRegularExpression::CaseInsensitiveOption);
    if (values.match(rest).hasMatch()) {
        qsizetype i = 6;
        for (;;) {
            while (i < rest.size() && rest[i].isSpace()) {
                ++i;
            }
            if (i >= rest.size() || rest[i] != QLatin1Char('(')) {
                return std::nullopt;
            }
            const qsizetype close = MatchingParen(rest, i);
            if (close < 0) {
                return std::nullopt;
            }
            parts.valueRows << rest.mid(i, close - i + 1);
            i = close + 1;
            while (i < rest.size() && rest[i].isSpace()) {
                ++i;
            }
            if (i >= rest.size()) {
                break;
            }
            if (rest[i] != QLatin1Char(',')) {
                return std::nullopt;
            }
            ++i;
        }
        return parts;
    }
    if (selectStart.match(rest).hasMatch()) {
        parts.select = rest;
        return parts;
    }
    return std::nullopt;
}

struct UpdateParts {
    QString table;
    QString assignments;
    QString condition;  // empty for all rows
};

std::optional<UpdateParts> ParseUpdate(const QString& statement) {
    const QString sql = WithoutTrailingSemicolon(statement);
    static const QRegularExpression head(
        QStringLiteral(R"(^\s*UPDATE\s+)") + kNamePattern + QStringLiteral(R"(\s+SET\s+)"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = head.match(sql);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    UpdateParts parts;
    parts.table = m.captured(1);
    const QString rest = sql.mid(m.capturedEnd());
    const qsizetype where = FindTopLevelKeyword(rest, QLatin1String("WHERE"));
    parts.assignments = (where < 0 ? rest : rest.left(where)).trimmed();
    if (where >= 0) {
        parts.condition = rest.mid(where + 5).trimmed();
        if (parts.condition.isEmpty()) {
            return std::nullopt;
        }
    }
    if (parts.assignments.isEmpty()) {
        return std::nullopt;
    }
    return parts;
}

struct DeleteParts {
    QString table;
    QString condition;
};

std::optional<DeleteParts> ParseDelete(const QString& statement) {
    const QString sql = WithoutTrailingSemicolon(statement);
    static const QRegularExpression head(QStringLiteral(R"(^\s*DELETE\s+(?:\*\s*)?FROM\s+)") +
                                             kNamePattern + QStringLiteral(R"(\s*)"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = head.match(sql);
    if (!m.hasMatch()) {
        return std::nullopt;
    }
    DeleteParts parts;
    parts.table = m.captured(1);
    const QString rest = sql.mid(m.capturedEnd()).trimmed();
    if (rest.isEmpty()) {
        return parts;
    }
    if (FindTopLevelKeyword(rest, QLatin1String("WHERE")) != 0) {
        return std::nullopt;
    }
    parts.condition = rest.mid(5).trimmed();
    if (parts.condition.isEmpty()) {
        return std::nullopt;
    }
    return parts;
}

// The table an action statement writes, for messages; empty when it cannot be told.
QString TableOfStatement(const QString& sql) {
    switch (KindOf(sql)) {
        case StatementKind::Insert:
            if (auto p = ParseInsert(sql)) {
                return BareName(p->table);
            }
            break;
        case StatementKind::Update:
            if (auto p = ParseUpdate(sql)) {
                return BareName(p->table);
            }
            break;
        case StatementKind::Delete:
            if (auto p = ParseDelete(sql)) {
                return BareName(p->table);
            }
            break;
        case StatementKind::Other:
            break;
    }
    return {};
}

// ---- Values

QString DateTimeText(const QDateTime& dt) {
    return dt.toString(dt.time().msec() != 0 ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                             : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A value as the driver gives it, in the engine's terms. Dates and times become ODBC's canonical
// text, which every driver converts back when it is written to a date column.
Value FromVariant(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Bool:
            return Value(v.toBool() ? 1 : 0);
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return Value(static_cast<int64_t>(v.toLongLong()));
        case QMetaType::ULongLong: {
            const qulonglong u = v.toULongLong();
            if (u <= static_cast<qulonglong>(std::numeric_limits<int64_t>::max())) {
                return Value(static_cast<int64_t>(u));
            }
            return Value(static_cast<double>(u));
        }
        case QMetaType::Double:
        case QMetaType::Float:
            return Value(v.toDouble());
        case QMetaType::QString:
            return Value::Text(v.toString());
        case QMetaType::QByteArray: {
            const QByteArray bytes = v.toByteArray();
            return Value::Blob(std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
        }
        case QMetaType::QDate:
            return Value::Text(v.toDate().toString(QStringLiteral("yyyy-MM-dd")));
        case QMetaType::QTime: {
            const QTime t = v.toTime();
            return Value::Text(t.toString(t.msec() != 0 ? QStringLiteral("HH:mm:ss.zzz")
                                                        : QStringLiteral("HH:mm:ss")));
        }
        case QMetaType::QDateTime:
            return Value::Text(DateTimeText(v.toDateTime()));
        default:
            break;
    }
    if (!v.isValid()) {
        return Value();
    }
    return Value::Text(v.toString());
}

QDateTime ParseDateTime(const QString& text) {
    for (const char* format :
         {"yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd"}) {
        const QDateTime dt = QDateTime::fromString(text, QString::fromLatin1(format));
        if (dt.isValid()) {
            return dt;
        }
    }
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

QTime ParseTime(const QString& text) {
    for (const char* format : {"HH:mm:ss.zzz", "HH:mm:ss", "HH:mm"}) {
        const QTime t = QTime::fromString(text, QString::fromLatin1(format));
        if (t.isValid()) {
            return t;
        }
    }
    return {};
}

// A value to bind for a column of the given type. Null is an invalid QVariant: the INSERT writes
// a literal NULL for it rather than binding a typed null, which drivers treat differently. Text
// bound to a date or time column is passed as a date or time when it reads as one, so that the
// driver need not guess the format from its locale.
QVariant ToVariant(const Value& v, QMetaType columnType) {
    switch (v.type()) {
        case Value::Type::Null:
            return {};
        case Value::Type::Integer: {
            const int64_t i = v.toInt();
            // 32-bit parameters suit every driver; the Jet driver knows no 64-bit integers.
            if (i >= std::numeric_limits<int>::min() && i <= std::numeric_limits<int>::max()) {
                return QVariant(static_cast<int>(i));
            }
            return QVariant(static_cast<qlonglong>(i));
        }
        case Value::Type::Real:
            return QVariant(v.toReal());
        case Value::Type::Text: {
            const QString text =
                QString::fromUtf8(v.bytes().data(), static_cast<qsizetype>(v.bytes().size()));
            switch (columnType.id()) {
                case QMetaType::QDateTime:
                    if (const QDateTime dt = ParseDateTime(text); dt.isValid()) {
                        return QVariant(dt);
                    }
                    break;
                case QMetaType::QDate:
                    if (const QDate d = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
                        d.isValid()) {
                        return QVariant(d);
                    }
                    break;
                case QMetaType::QTime:
                    if (const QTime t = ParseTime(text); t.isValid()) {
                        return QVariant(t);
                    }
                    break;
                default:
                    break;
            }
            return QVariant(text);
        }
        case Value::Type::Blob:
            return QVariant(QByteArray(v.bytes().data(), static_cast<qsizetype>(v.bytes().size())));
    }
    return {};
}

// The current row of a query; null columns as invalid QVariants.
QVariantList RowOf(const QSqlQuery& query, int columns) {
    QVariantList row;
    row.reserve(columns);
    for (int i = 0; i < columns; ++i) {
        row << (query.isNull(i) ? QVariant() : query.value(i));
    }
    return row;
}

QString ConnectionValue(const QString& value) {
    // A value with a separator or a brace goes in braces, with closing braces doubled.
    if (value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('{')) ||
        value.contains(QLatin1Char('}')) || value != value.trimmed()) {
        return QLatin1Char('{') +
               QString(value).replace(QStringLiteral("}"), QStringLiteral("}}")) + QLatin1Char('}');
    }
    return value;
}

Error ObjectClosedError() {
    return Error(errObjectInvalid,
                 QStringLiteral("개체가 닫혔거나 더 이상 유효하지 않습니다. 데이터베이스나 레코드 "
                                "집합을 다시 여세요."));
}

class OdbcRecordset;

// ---- One open connection

// The QSqlDatabase connection of one open database, shared by the database object and its
// recordsets. It ends when the database is closed or, without a Close, when the last of them is
// dropped; every QSqlQuery on it is destroyed before the connection is removed.
class Connection {
public:
    Connection(QString name, QString path, OdbcTarget target, const QSqlDatabase& db)
        : name_(std::move(name)),
          path_(std::move(path)),
          target_(target),
          accessStyle_(target == OdbcTarget::Access || g_accessStyleExecute.load()),
          db_(db) {
        const QSqlDriver* driver = db_.driver();
        transactions_ = driver != nullptr && driver->hasFeature(QSqlDriver::Transactions);
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ~Connection() {
        try {
            Shutdown();
        } catch (const Error& e) {
            // Nobody is left to tell: the handles were dropped without Close.
            qWarning("%s", e.what());
        }
    }

    bool IsOpen() const { return open_; }
    QSqlDatabase& Db() { return db_; }
    const QString& Path() const { return path_; }
    bool AccessStyle() const { return accessStyle_; }
    bool SupportsTransactions() const { return transactions_; }
    // Changes with every commit or rollback; a reading cursor may not survive one.
    quint64 Generation() const { return generation_; }

    QString QuoteName(const QString& name) const {
        if (target_ == OdbcTarget::Access) {
            return QLatin1Char('[') + name + QLatin1Char(']');
        }
        return QLatin1Char('"') +
               QString(name).replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
               QLatin1Char('"');
    }

    void Register(OdbcRecordset* rs) { recordsets_.push_back(rs); }
    void Unregister(OdbcRecordset* rs) { std::erase(recordsets_, rs); }

    // Starts a transaction unless one is running (or the driver has none: then every statement
    // commits by itself).
    void Begin(Operation operation) {
        if (!transactions_ || inTransaction_) {
            return;
        }
        if (!db_.transaction()) {
            throw detail::odbc::ToError(Diagnose(db_), operation, {}, path_);
        }
        inTransaction_ = true;
        savedRows_ = 0;
    }

    // A row was saved inside the running transaction.
    void RowSaved() {
        if (!inTransaction_) {
            return;
        }
        if (++savedRows_ >= kRowsPerCommit) {
            Commit();
        }
    }

    // Commits the running transaction, if any. A failed commit is rolled back (the driver's state
    // is unknown after it) and reported with the number of saved rows it took along.
    void Commit() {
        if (!inTransaction_) {
            return;
        }
        inTransaction_ = false;
        ++generation_;
        const qsizetype rows = savedRows_;
        savedRows_ = 0;
        if (db_.commit()) {
            return;
        }
        const Diagnostic failure = Diagnose(db_);
        db_.rollback();
        const Error cause = detail::odbc::ToError(failure, Operation::Commit, {}, path_);
        QString text = QStringLiteral(
            "변경 내용을 데이터베이스에 확정(commit)하지 못해 "
            "취소되었습니다.");
        if (rows > 0) {
            text += QStringLiteral(" 앞서 저장한 %1개 행도 저장되지 않았습니다.").arg(rows);
        }
        throw Error(cause.Number(), text + QLatin1Char(' ') + cause.Description());
    }

    void Rollback() {
        if (!inTransaction_) {
            return;
        }
        inTransaction_ = false;
        ++generation_;
        savedRows_ = 0;
        db_.rollback();
    }

    // Closes the recordsets still open on this connection, commits, and releases the connection
    // (always); a failed commit is thrown after the release.
    void Shutdown();

    // The key columns of a table, quoted for a statement: the primary key, or the driver's best
    // unique row identifier, or SQLite's rowid; empty when there is none.
    QStringList KeyColumns(const QString& table) {
        const QSqlIndex index = db_.primaryIndex(BareName(table));
        QStringList keys;
        for (int i = 0; i < index.count(); ++i) {
            keys << QuoteName(index.fieldName(i));
        }
        if (keys.isEmpty() && target_ == OdbcTarget::Sqlite) {
            keys << QStringLiteral("rowid");
        }
        return keys;
    }

private:
    QString name_;
    QString path_;
    OdbcTarget target_;
    bool accessStyle_;
    QSqlDatabase db_;
    bool open_ = true;
    bool transactions_ = false;
    bool inTransaction_ = false;
    qsizetype savedRows_ = 0;
    quint64 generation_ = 0;
    std::vector<OdbcRecordset*> recordsets_;
};

// ---- Prepared INSERTs

// INSERT statements prepared once per set of written columns and reused for every row with the
// same set. Null values are written as a literal NULL, so a statement is keyed by its columns and
// by which of them are null.
class InsertCache {
public:
    // Inserts one row; on failure fills `failure` and returns false.
    bool Insert(Connection& c, const QString& table, const QStringList& columns,
                const QVariantList& values, Diagnostic* failure) {
        QString key;
        for (qsizetype i = 0; i < columns.size(); ++i) {
            key += columns[i];
            key += values[i].isValid() ? QLatin1Char('\x1f') : QLatin1Char('\x1e');
        }
        auto it = queries_.find(key);
        if (it == queries_.end()) {
            if (queries_.size() >= kMaxCachedInserts) {
                queries_.clear();
            }
            QString sql = QStringLiteral("INSERT INTO ") + table;
            if (columns.isEmpty()) {
                sql += QStringLiteral(" DEFAULT VALUES");
            } else {
                QStringList marks;
                for (const QVariant& v : values) {
                    marks << (v.isValid() ? QStringLiteral("?") : QStringLiteral("NULL"));
                }
                sql += QStringLiteral(" (") + columns.join(QStringLiteral(", ")) +
                       QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) +
                       QLatin1Char(')');
            }
            auto query = std::make_unique<QSqlQuery>(c.Db());
            query->setForwardOnly(true);
            if (!query->prepare(sql)) {
                *failure = Diagnose(*query);
                return false;
            }
            it = queries_.emplace(key, std::move(query)).first;
        }
        QSqlQuery& query = *it->second;
        int position = 0;
        for (const QVariant& v : values) {
            if (v.isValid()) {
                query.bindValue(position++, v);
            }
        }
        if (!query.exec()) {
            *failure = Diagnose(query);
            return false;
        }
        return true;
    }

    void Clear() { queries_.clear(); }

private:
    std::map<QString, std::unique_ptr<QSqlQuery>> queries_;
};

// ---- Recordset

class OdbcRecordset final : public Recordset {
public:
    OdbcRecordset(std::shared_ptr<Connection> connection, const QString& source, bool updatable)
        : conn_(std::move(connection)),
          source_(source),
          table_(detail::odbc::TableOfSelectAll(source)),
          updatable_(updatable) {
        RunCursor(Operation::OpenRecordset);
        const QSqlRecord record = cursor_->record();
        const int count = std::min(record.count(), int{std::numeric_limits<int16_t>::max()});
        for (int i = 0; i < count; ++i) {
            // Some drivers report a name's length in bytes, and what follows the name is
            // garbage.
            QString name = record.fieldName(i);
            if (const qsizetype nul = name.indexOf(QChar(u'\0')); nul >= 0) {
                name.truncate(nul);
            }
            names_ << name;
            types_ << record.field(i).metaType();
            // The first of two same-named columns wins, as in a lookup by name.
            positions_.insert(name.toCaseFolded(), static_cast<int16_t>(i));
        }
        if (Fetch(Operation::OpenRecordset, true)) {
            position_ = 0;
            eof_ = false;
            visited_ = 1;
        } else {
            FinishCursor();
        }
        conn_->Register(this);
    }

    ~OdbcRecordset() override {
        const bool wasOpen = !closed_;
        Release();
        // Dropped without Close: what it saved is committed all the same. A failure can only
        // be logged here; Close reports it.
        if (wasOpen && conn_ && conn_->IsOpen()) {
            try {
                conn_->Commit();
            } catch (const Error& e) {
                qWarning("%s", e.what());
            }
        }
    }

    bool Eof() override {
        EnsureOpen();
        return eof_;
    }

    void MoveFirst() override {
        EnsureOpen();
        pending_ = false;
        // After MoveLast the cursor has usually read only the first row, which is still at hand.
        if (cursor_ && cursorRows_ == 1 && !eof_) {
            position_ = 0;
            lastDeferred_ = false;
            return;
        }
        RunCursor(Operation::Read);
        if (!Fetch(Operation::Read, true)) {
            FinishCursor();
            eof_ = true;
            position_ = -1;
            lastDeferred_ = false;
            throw NoCurrentRecord();
        }
        position_ = 0;
        eof_ = false;
        lastDeferred_ = false;
        visited_ = std::max<int64_t>(visited_, 1);
    }

    void MoveLast(int32_t /*options*/) override {
        EnsureOpen();
        pending_ = false;
        const std::optional<int64_t> total = CountRows();
        if (!total) {
            WalkToEnd();
            return;
        }
        if (*total <= 0) {
            FinishCursor();
            eof_ = true;
            lastDeferred_ = false;
            throw NoCurrentRecord();
        }
        if (!eof_ && !lastDeferred_ && position_ == *total - 1) {
            return;
        }
        // The row itself is fetched only if someone reads it: the table copy moves back to the
        // first row at once, and reading every row twice would double the time of a large copy.
        position_ = *total - 1;
        eof_ = false;
        lastDeferred_ = true;
        visited_ = *total;
    }

    void MoveNext() override {
        EnsureOpen();
        pending_ = false;
        if (eof_) {
            throw NoCurrentRecord();
        }
        if (lastDeferred_) {
            lastDeferred_ = false;
            eof_ = true;
            ++position_;
            FinishCursor();
            return;
        }
        if (Fetch(Operation::Read, true)) {
            ++position_;
            visited_ = std::max(visited_, position_ + 1);
        } else {
            eof_ = true;
            ++position_;
            FinishCursor();
        }
    }

    int32_t RecordCount() override {
        EnsureOpen();
        return static_cast<int32_t>(
            std::min<int64_t>(visited_, std::numeric_limits<int32_t>::max()));
    }

    void AddNew() override {
        EnsureOpen();
        EnsureUpdatable();
        pending_ = true;
        pendingValues_.assign(static_cast<size_t>(names_.size()), std::nullopt);
    }

    void Update(int32_t /*type*/, bool /*force*/) override {
        EnsureOpen();
        EnsureUpdatable();
        if (!pending_) {
            throw Error(errUpdateWithoutAddNew,
                        QStringLiteral("AddNew 없이 Update를 호출했습니다. 저장할 새 레코드가 "
                                       "없습니다."));
        }
        QStringList columns;
        QVariantList values;
        for (qsizetype i = 0; i < names_.size(); ++i) {
            if (const auto& v = pendingValues_[static_cast<size_t>(i)]) {
                columns << conn_->QuoteName(names_[i]);
                values << ToVariant(*v, types_[i]);
            }
        }
        conn_->Begin(Operation::Update);
        Diagnostic failure;
        if (inserts_.Insert(*conn_, table_, columns, values, &failure)) {
            pending_ = false;
            pendingValues_.clear();
            conn_->RowSaved();
            return;
        }
        // The row stays pending. The rows saved before it are committed now, so that nothing
        // this failure does to the transaction can take them along.
        conn_->Commit();
        throw detail::odbc::ToError(failure, Operation::Update, BareName(table_), conn_->Path());
    }

    int32_t EditMode() override {
        EnsureOpen();
        return pending_ ? dbEditAdd : dbEditNone;
    }

    void CancelUpdate(int32_t /*type*/) override {
        EnsureOpen();
        if (!pending_) {
            throw Error(errUpdateWithoutAddNew,
                        QStringLiteral("AddNew 없이 CancelUpdate를 호출했습니다. 취소할 새 "
                                       "레코드가 없습니다."));
        }
        pending_ = false;
        pendingValues_.clear();
    }

    int16_t FieldCount() override {
        EnsureOpen();
        return static_cast<int16_t>(names_.size());
    }

    QString FieldName(int16_t position) override {
        EnsureOpen();
        CheckPosition(position);
        return names_[position];
    }

    int16_t FieldPosition(const QString& name) override {
        EnsureOpen();
        return positions_.value(name.toCaseFolded(), int16_t{-1});
    }

    Value FieldValue(int16_t position) override {
        EnsureOpen();
        CheckPosition(position);
        if (pending_) {
            const auto& v = pendingValues_[static_cast<size_t>(position)];
            return v ? *v : Value();
        }
        if (eof_ || position_ < 0) {
            throw NoCurrentRecord();
        }
        if (lastDeferred_) {
            FetchDeferredLast();
        }
        return row_[static_cast<size_t>(position)];
    }

    void SetFieldValue(int16_t position, const Value& v) override {
        EnsureOpen();
        EnsureUpdatable();
        CheckPosition(position);
        if (!pending_) {
            throw Error(errUpdateWithoutAddNew,
                        QStringLiteral("AddNew로 새 레코드를 시작하지 않아 '%1' 필드에 값을 쓸 수 "
                                       "없습니다.")
                            .arg(names_[position]));
        }
        pendingValues_[static_cast<size_t>(position)] = v;
    }

    void Close() override {
        if (closed_) {
            return;
        }
        Release();
        // A closed recordset does not keep the connection: if the database handle has gone
        // already, the connection ends here.
        const std::shared_ptr<Connection> connection = std::move(conn_);
        if (connection && connection->IsOpen()) {
            connection->Commit();
        }
    }

    // The connection is closing: the queries go first.
    void Detach() {
        cursor_.reset();
        inserts_.Clear();
        closed_ = true;
        pending_ = false;
    }

private:
    static Error NoCurrentRecord() {
        return Error(errNoCurrentRecord, QStringLiteral("현재 레코드가 없습니다."));
    }

    void EnsureOpen() const {
        if (closed_ || !conn_ || !conn_->IsOpen()) {
            throw ObjectClosedError();
        }
    }

    void EnsureUpdatable() const {
        if (!updatable_) {
            throw Error(errReadOnly, QStringLiteral("스냅샷 레코드 집합은 읽기 전용이라 레코드를 "
                                                    "추가하거나 고칠 수 없습니다."));
        }
        if (table_.isEmpty()) {
            throw Error(errReadOnly,
                        QStringLiteral("이 레코드 집합(%1)은 한 테이블의 모든 열이 아니라서 "
                                       "레코드를 추가할 수 없습니다.")
                            .arg(source_));
        }
    }

    void CheckPosition(int16_t position) const {
        if (position < 0 || position >= names_.size()) {
            throw Error(
                errItemNotFound,
                QStringLiteral("이 컬렉션에서 %1번째 항목을 찾을 수 없습니다.").arg(position));
        }
    }

    void Release() {
        if (closed_) {
            return;
        }
        closed_ = true;
        cursor_.reset();
        inserts_.Clear();
        pending_ = false;
        if (conn_) {
            conn_->Unregister(this);
        }
    }

    // Runs the source from its start.
    void RunCursor(Operation operation) {
        cursor_.reset();
        auto cursor = std::make_unique<QSqlQuery>(conn_->Db());
        // Forward-only: the driver streams the rows instead of holding the whole table.
        cursor->setForwardOnly(true);
        if (!cursor->exec(source_)) {
            const Diagnostic failure = Diagnose(*cursor);
            throw detail::odbc::ToError(failure, operation, BareName(table_), conn_->Path());
        }
        if (!cursor->isSelect()) {
            throw Error(
                errInvalidArgument,
                QStringLiteral("'%1'은(는) 레코드를 돌려주는 쿼리가 아닙니다.").arg(source_));
        }
        cursor_ = std::move(cursor);
        cursorRows_ = 0;
        cursorGeneration_ = conn_->Generation();
    }

    void FinishCursor() { cursor_.reset(); }

    // Moves the cursor one row on; false at the end. `read` takes the row's values.
    bool Fetch(Operation operation, bool read) {
        if (!cursor_) {
            return false;
        }
        if (!cursor_->next()) {
            if (!cursor_->lastError().isValid()) {
                return false;
            }
            const Diagnostic failure = Diagnose(*cursor_);
            if (cursorGeneration_ == conn_->Generation()) {
                throw detail::odbc::ToError(failure, operation, BareName(table_), conn_->Path());
            }
            // A commit on this connection can close open cursors (drivers differ): run the
            // source again and skip the rows already read.
            const int64_t done = cursorRows_;
            RunCursor(operation);
            for (int64_t i = 0; i < done; ++i) {
                if (!cursor_->next()) {
                    if (cursor_->lastError().isValid()) {
                        throw detail::odbc::ToError(Diagnose(*cursor_), operation, BareName(table_),
                                                    conn_->Path());
                    }
                    cursorRows_ = i;
                    return false;
                }
            }
            cursorRows_ = done;
            return Fetch(operation, read);
        }
        ++cursorRows_;
        if (read) {
            row_.clear();
            row_.reserve(static_cast<size_t>(names_.size()));
            for (int i = 0; i < names_.size(); ++i) {
                row_.push_back(cursor_->isNull(i) ? Value() : FromVariant(cursor_->value(i)));
            }
        }
        return true;
    }

    // The row count without reading the rows; nullopt when the driver cannot count this source.
    std::optional<int64_t> CountRows() {
        const QString sql = table_.isEmpty() ? QStringLiteral("SELECT COUNT(*) FROM (%1) counted")
                                                   .arg(WithoutTrailingSemicolon(source_))
                                             : QStringLiteral("SELECT COUNT(*) FROM ") + table_;
        QSqlQuery query(conn_->Db());
        query.setForwardOnly(true);
        if (query.exec(sql) && query.next()) {
            return query.value(0).toLongLong();
        }
        const Diagnostic failure = Diagnose(query);
        if (detail::odbc::Classify(failure) == Failure::Locked) {
            throw detail::odbc::ToError(failure, Operation::Read, BareName(table_), conn_->Path());
        }
        return std::nullopt;
    }

    // MoveLast by reading every row, for sources that cannot be counted.
    void WalkToEnd() {
        RunCursor(Operation::Read);
        int64_t rows = 0;
        std::vector<Value> last;
        while (Fetch(Operation::Read, true)) {
            ++rows;
            last.swap(row_);
        }
        FinishCursor();
        lastDeferred_ = false;
        if (rows == 0) {
            eof_ = true;
            position_ = -1;
            throw NoCurrentRecord();
        }
        row_.swap(last);
        position_ = rows - 1;
        eof_ = false;
        visited_ = std::max(visited_, rows);
    }

    // Reads the last row that MoveLast put off. The cursor's current row is in row_, so only the
    // rows between it and the last are skipped unread.
    void FetchDeferredLast() {
        const int64_t wanted = position_ + 1;
        if (cursor_ && cursorRows_ == wanted) {
            lastDeferred_ = false;
            return;
        }
        if (!cursor_ || cursorRows_ > wanted) {
            RunCursor(Operation::Read);
        }
        while (cursorRows_ < wanted - 1 && Fetch(Operation::Read, false)) {
        }
        if (cursorRows_ == wanted - 1 && Fetch(Operation::Read, true)) {
            lastDeferred_ = false;
            return;
        }
        // The table has shrunk since it was counted: its last row now is an earlier one.
        WalkToEnd();
    }

    std::shared_ptr<Connection> conn_;
    QString source_;
    QString table_;  // as written in the source; empty when the source is not one whole table
    bool updatable_;
    bool closed_ = false;

    std::unique_ptr<QSqlQuery> cursor_;
    int64_t cursorRows_ = 0;  // rows the cursor has read since it was run
    quint64 cursorGeneration_ = 0;

    QStringList names_;
    QList<QMetaType> types_;
    QHash<QString, int16_t> positions_;

    std::vector<Value> row_;  // the current row's values
    int64_t position_ = -1;   // the current row's index; -1 before the first
    bool eof_ = true;
    bool lastDeferred_ = false;  // at the last row, not yet read
    int64_t visited_ = 0;

    bool pending_ = false;
    std::vector<std::optional<Value>> pendingValues_;
    InsertCache inserts_;
};

void Connection::Shutdown() {
    if (!open_) {
        return;
    }
    for (OdbcRecordset* rs : std::exchange(recordsets_, {})) {
        rs->Detach();
    }
    std::optional<Error> failure;
    try {
        Commit();
    } catch (const Error& e) {
        failure = e;
    }
    open_ = false;
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
    if (failure) {
        throw *failure;
    }
}

// ---- Database

class OdbcDatabase final : public Database {
public:
    explicit OdbcDatabase(std::shared_ptr<Connection> connection)
        : conn_(std::move(connection)), path_(conn_->Path()) {}

    OdbcDatabase(const OdbcDatabase&) = delete;
    OdbcDatabase& operator=(const OdbcDatabase&) = delete;

    ~OdbcDatabase() override {
        // Dropped without Close: what is pending is committed, even while recordsets keep the
        // connection open. A failure can only be logged here; Close reports it.
        if (conn_ && conn_->IsOpen()) {
            try {
                conn_->Commit();
            } catch (const Error& e) {
                qWarning("%s", e.what());
            }
        }
    }

    void Execute(const QString& sql) override {
        EnsureOpen();
        Connection& c = *conn_;
        c.Commit();
        // SQLite leaves out the rows that break a constraint by itself (OR IGNORE). The Access
        // driver fails the whole statement instead, so there the statement runs in its own
        // transaction, to be rolled back and replayed row by row.
        const bool ownTransaction = c.AccessStyle();
        const QString statement = ownTransaction ? sql : detail::odbc::WithOrIgnore(sql);
        if (ownTransaction) {
            c.Begin(Operation::Execute);
        }
        Diagnostic failure;
        bool ok = false;
        {
            QSqlQuery query(c.Db());
            query.setForwardOnly(true);
            ok = query.exec(statement);
            if (!ok) {
                failure = Diagnose(query);
            }
        }
        if (ok) {
            c.Commit();
            return;
        }
        c.Rollback();
        const QString table = TableOfStatement(sql);
        if (!detail::odbc::IsRowFailure(detail::odbc::Classify(failure))) {
            throw detail::odbc::ToError(failure, Operation::Execute, table, c.Path());
        }
        ReplayRowByRow(sql, failure, table);
    }

    std::shared_ptr<Recordset> OpenRecordset(const QString& source, int32_t type) override {
        EnsureOpen();
        if (type != dbOpenSnapshot && type != dbOpenDynaset) {
            throw Error(errInvalidArgument,
                        QStringLiteral("레코드 집합 형식 %1은(는) 쓸 수 없습니다. 스냅샷(4)이나 "
                                       "다이너셋(2)만 됩니다.")
                            .arg(type));
        }
        conn_->Commit();
        return std::make_shared<OdbcRecordset>(conn_, source, type == dbOpenDynaset);
    }

    QString Name() const override { return path_; }

    void Close() override {
        if (!conn_) {
            return;
        }
        std::shared_ptr<Connection> connection = std::move(conn_);
        connection->Shutdown();
    }

private:
    void EnsureOpen() const {
        if (!conn_ || !conn_->IsOpen()) {
            throw ObjectClosedError();
        }
    }

    // A statement that a row's values refused has applied nothing (it ran in its own
    // transaction, or it is SQLite's, whose statements are atomic). The classic engine leaves such
    // rows out and applies the rest, so the statement is run again one row at a time, in one
    // transaction, leaving out the rows that fail for their values: INSERT ... VALUES row by
    // row, INSERT ... SELECT over the selected rows, UPDATE and DELETE over the keys of the rows
    // they select. Other forms, and tables without a key, keep the statement's own error.
    void ReplayRowByRow(const QString& sql, const Diagnostic& failure, const QString& table) {
        Connection& c = *conn_;
        const StatementKind kind = KindOf(sql);
        if (kind == StatementKind::Insert) {
            if (const auto parts = ParseInsert(sql); parts && parts->valueRows.size() == 1) {
                return;  // its one row is the one left out
            }
        }
        // Without a transaction a replay that fails half way could not be undone.
        if (!c.SupportsTransactions()) {
            throw detail::odbc::ToError(failure, Operation::Execute, table, c.Path());
        }
        c.Begin(Operation::Execute);
        try {
            bool replayed = false;
            switch (kind) {
                case StatementKind::Insert:
                    if (const auto parts = ParseInsert(sql)) {
                        replayed = ReplayInsert(*parts);
                    }
                    break;
                case StatementKind::Update:
                    if (const auto parts = ParseUpdate(sql)) {
                        replayed = ReplayByKey(parts->table,
                                               QStringLiteral("UPDATE ") + parts->table +
                                                   QStringLiteral(" SET ") + parts->assignments,
                                               parts->condition);
                    }
                    break;
                case StatementKind::Delete:
                    if (const auto parts = ParseDelete(sql)) {
                        replayed =
                            ReplayByKey(parts->table, QStringLiteral("DELETE FROM ") + parts->table,
                                        parts->condition);
                    }
                    break;
                case StatementKind::Other:
                    break;
            }
            if (!replayed) {
                throw detail::odbc::ToError(failure, Operation::Execute, table, c.Path());
            }
        } catch (...) {
            c.Rollback();
            throw;
        }
        c.Commit();
    }

    // Runs one statement of a replay; a row refused for its values is left out.
    void RunRow(QSqlQuery& query, const QString& table) {
        if (query.exec()) {
            return;
        }
        const Diagnostic failure = Diagnose(query);
        if (detail::odbc::IsRowFailure(detail::odbc::Classify(failure))) {
            return;
        }
        throw detail::odbc::ToError(failure, Operation::Execute, table, conn_->Path());
    }

    std::vector<QVariantList> ReadAll(const QString& select, const QString& table, int* columns) {
        QSqlQuery query(conn_->Db());
        query.setForwardOnly(true);
        if (!query.exec(select)) {
            throw detail::odbc::ToError(Diagnose(query), Operation::Execute, table, conn_->Path());
        }
        *columns = query.record().count();
        std::vector<QVariantList> rows;
        while (query.next()) {
            rows.push_back(RowOf(query, *columns));
        }
        if (query.lastError().isValid()) {
            throw detail::odbc::ToError(Diagnose(query), Operation::Execute, table, conn_->Path());
        }
        return rows;
    }

    bool ReplayInsert(const InsertParts& parts) {
        Connection& c = *conn_;
        const QString table = BareName(parts.table);
        if (!parts.valueRows.isEmpty()) {
            const QString head =
                QStringLiteral("INSERT INTO ") + parts.table +
                (parts.columns.isEmpty()
                     ? QString()
                     : QStringLiteral(" (") + parts.columns.join(QStringLiteral(", ")) +
                           QLatin1Char(')')) +
                QStringLiteral(" VALUES ");
            for (const QString& row : parts.valueRows) {
                QSqlQuery query(c.Db());
                query.setForwardOnly(true);
                if (!query.prepare(head + row)) {
                    throw detail::odbc::ToError(Diagnose(query), Operation::Execute, table,
                                                conn_->Path());
                }
                RunRow(query, table);
            }
            return true;
        }
        // INSERT ... SELECT: the selected rows are read first (the target may be among the
        // tables read), then inserted one by one.
        QStringList columns = parts.columns;
        if (columns.isEmpty()) {
            int count = 0;
            QSqlQuery probe(c.Db());
            probe.setForwardOnly(true);
            if (!probe.exec(QStringLiteral("SELECT * FROM ") + parts.table +
                            QStringLiteral(" WHERE 1 = 0"))) {
                throw detail::odbc::ToError(Diagnose(probe), Operation::Execute, table,
                                            conn_->Path());
            }
            const QSqlRecord record = probe.record();
            count = record.count();
            for (int i = 0; i < count; ++i) {
                columns << c.QuoteName(record.fieldName(i));
            }
        }
        int selected = 0;
        const std::vector<QVariantList> rows = ReadAll(parts.select, table, &selected);
        if (selected != columns.size()) {
            return false;
        }
        InsertCache inserts;
        for (const QVariantList& row : rows) {
            Diagnostic failure;
            if (!inserts.Insert(c, parts.table, columns, row, &failure) &&
                !detail::odbc::IsRowFailure(detail::odbc::Classify(failure))) {
                throw detail::odbc::ToError(failure, Operation::Execute, table, conn_->Path());
            }
        }
        return true;
    }

    // UPDATE and DELETE one row at a time, each row found by its key. `head` is the statement
    // up to its WHERE.
    bool ReplayByKey(const QString& tableAsWritten, const QString& head, const QString& condition) {
        Connection& c = *conn_;
        const QString table = BareName(tableAsWritten);
        const QStringList quotedKeys = c.KeyColumns(tableAsWritten);
        if (quotedKeys.isEmpty()) {
            return false;  // rows cannot be told apart: the statement's own error stands
        }
        QString select = QStringLiteral("SELECT ") + quotedKeys.join(QStringLiteral(", ")) +
                         QStringLiteral(" FROM ") + tableAsWritten;
        if (!condition.isEmpty()) {
            select += QStringLiteral(" WHERE ") + condition;
        }
        int columns = 0;
        const std::vector<QVariantList> rows = ReadAll(select, table, &columns);
        std::map<QString, std::unique_ptr<QSqlQuery>> statements;
        for (const QVariantList& row : rows) {
            QString mask;
            for (const QVariant& v : row) {
                mask += v.isValid() ? QLatin1Char('v') : QLatin1Char('n');
            }
            auto it = statements.find(mask);
            if (it == statements.end()) {
                QStringList tests;
                for (qsizetype i = 0; i < quotedKeys.size(); ++i) {
                    tests << quotedKeys[i] + (row[i].isValid() ? QStringLiteral(" = ?")
                                                               : QStringLiteral(" IS NULL"));
                }
                QString sql = head + QStringLiteral(" WHERE ");
                if (!condition.isEmpty()) {
                    sql += QLatin1Char('(') + condition + QStringLiteral(") AND ");
                }
                sql += tests.join(QStringLiteral(" AND "));
                auto query = std::make_unique<QSqlQuery>(c.Db());
                query->setForwardOnly(true);
                if (!query->prepare(sql)) {
                    throw detail::odbc::ToError(Diagnose(*query), Operation::Execute, table,
                                                conn_->Path());
                }
                it = statements.emplace(mask, std::move(query)).first;
            }
            int position = 0;
            for (const QVariant& v : row) {
                if (v.isValid()) {
                    it->second->bindValue(position++, v);
                }
            }
            RunRow(*it->second, table);
        }
        return true;
    }

    std::shared_ptr<Connection> conn_;
    QString path_;
};

// ---- Opening

QString NextConnectionName() {
    return QStringLiteral("dao-odbc-%1").arg(++g_connectionCounter);
}

QString MissingPluginText(const QString& path) {
    QString text = QStringLiteral(
                       "'%1' 파일을 열려면 Qt의 ODBC 데이터베이스 플러그인(QODBC)이 필요한데 "
                       "찾을 수 없거나 불러올 수 없습니다. ")
                       .arg(QDir::toNativeSeparators(path));
#ifdef _WIN32
    text += QStringLiteral(
        "프로그램 폴더 아래 sqldrivers 폴더에 qsqlodbc.dll이 있는지 확인하고, 없으면 프로그램을 "
        "다시 설치하세요(windeployqt가 함께 배포합니다).");
#else
    text += QStringLiteral(
        "Qt ODBC 플러그인(Debian/Ubuntu의 libqt6sql6-odbc 패키지)과 unixODBC를 설치하세요.");
#endif
    return text;
}

struct ConnectResult {
    std::shared_ptr<Connection> connection;
    Diagnostic failure;
    bool pluginFailed = false;
};

ConnectResult Connect(const QString& connectionString, const QString& path, OdbcTarget target) {
    ConnectResult result;
    const QString name = NextConnectionName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(kOdbcPlugin, name);
        if (!db.isValid()) {
            result.pluginFailed = true;
        } else {
            db.setDatabaseName(connectionString);
            if (db.open()) {
                result.connection = std::make_shared<Connection>(name, path, target, db);
                return result;
            }
            result.failure = FromQtError(db.lastError());
        }
    }
    // No QSqlDatabase of this name is left, so the removal does not warn.
    QSqlDatabase::removeDatabase(name);
    return result;
}

// The candidates that are installed, in their order; all of them when the list is not known.
QStringList Installed(const QStringList& candidates) {
    QStringList result = candidates;
    if (const std::optional<QStringList> installed = OdbcApi::Get().InstalledDrivers()) {
        result.removeIf([&installed](const QString& name) {
            return !installed->contains(name, Qt::CaseInsensitive);
        });
    }
    return result;
}

std::shared_ptr<Database> OpenAccess(const QString& path, const QString& nativePath) {
    for (const QString& driver : Installed(AccessDriverNames())) {
        const QString connection = QStringLiteral("DRIVER={%1};DBQ=%2;Exclusive=0;ReadOnly=0")
                                       .arg(driver, ConnectionValue(nativePath));
        ConnectResult result = Connect(connection, path, OdbcTarget::Access);
        if (result.pluginFailed) {
            throw Error(errInstallableIsam, MissingPluginText(path));
        }
        if (result.connection) {
            return std::make_shared<OdbcDatabase>(std::move(result.connection));
        }
        if (detail::odbc::Classify(result.failure) != Failure::MissingDriver) {
            throw detail::odbc::ToError(result.failure, Operation::Open, {}, path);
        }
    }
    throw Error(errInstallableIsam, detail::odbc::MissingAccessDriverText(path));
}

std::shared_ptr<Database> OpenSqlite(const QString& path) {
    // The SQLite driver takes no braces around a value, and the driver manager narrows the text
    // of the connection string to single bytes; a percent-encoded file URI survives both.
    // NoCreat: never create a missing file. Timeout: how long to wait for another process's lock
    // (the same setting as the C API driver's). BigInt: report INTEGER columns as 64-bit, or large
    // values are cut. The driver's StepAPI mode would stream rows, but it lets only one statement
    // of a connection step at a time and silently ends the others, which would cut a snapshot
    // short as soon as a row is saved; so each result is read whole when it is run.
    QString driverPath = QFileInfo(path).absoluteFilePath();
    if (const testing::OdbcPathMap map = g_sqliteOdbcPathMap.load()) {
        driverPath = map(driverPath);
    }
    QString uri =
        QString::fromLatin1(QUrl::fromLocalFile(driverPath).toEncoded(QUrl::FullyEncoded));
    uri.replace(QLatin1Char(';'), QLatin1String("%3B"));
    ConnectResult result;
    for (const QString& driver : Installed(SqliteDriverNames())) {
        const QString connection =
            QStringLiteral("DRIVER={%1};Database=%2;NoCreat=1;Timeout=%3;BigInt=1")
                .arg(driver, uri, QString::number(testing::SqliteBusyTimeout()));
        result = Connect(connection, path, OdbcTarget::Sqlite);
        if (result.pluginFailed) {
            throw Error(errInstallableIsam, MissingPluginText(path));
        }
        if (result.connection || detail::odbc::Classify(result.failure) != Failure::MissingDriver) {
            break;
        }
    }
    if (!result.connection) {
        if (result.failure.message.isEmpty() ||
            detail::odbc::Classify(result.failure) == Failure::MissingDriver) {
            throw Error(errInstallableIsam,
                        QStringLiteral("SQLite ODBC 드라이버(SQLite3)가 설치되어 있지 않아 '%1' "
                                       "파일을 ODBC로 열 수 없습니다. SQLite ODBC 드라이버"
                                       "(Debian/Ubuntu의 libsqliteodbc 패키지)를 설치하세요. %2")
                            .arg(QDir::toNativeSeparators(path), result.failure.message)
                            .trimmed());
        }
        throw detail::odbc::ToError(result.failure, Operation::Open, {}, path);
    }
    // The SQLite driver connects without reading the file: a damaged file, or one that another
    // process holds exclusively, shows only at the first read.
    Diagnostic failure;
    bool readable = false;
    {
        QSqlQuery probe(result.connection->Db());
        probe.setForwardOnly(true);
        readable = probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) && probe.next();
        if (!readable) {
            failure = Diagnose(probe);
        }
    }
    if (!readable) {
        result.connection.reset();  // released before the error goes up
        throw detail::odbc::ToError(failure, Operation::Open, {}, path);
    }
    return std::make_shared<OdbcDatabase>(std::move(result.connection));
}

}  // namespace

// ---- Failures

namespace detail::odbc {

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

Error ToError(const Diagnostic& d, Operation operation, const QString& table, const QString& file) {
    const Failure failure = Classify(d);
    // What the driver's message names: a table, a column ("t.c"), or nothing.
    const QString named = NameInMessage(d.message);
    const QString theFile =
        file.isEmpty() ? QString() : QStringLiteral("'%1' ").arg(QDir::toNativeSeparators(file));
    const QString theTable = table.isEmpty() ? QString() : QStringLiteral("'%1' ").arg(table);
    const QString inTable =
        table.isEmpty() ? QString() : QStringLiteral("'%1' 테이블의 ").arg(table);
    const QString detail =
        d.message.isEmpty() ? QString() : QStringLiteral(" (드라이버: %1)").arg(d.message);
    switch (failure) {
        case Failure::MissingDriver:
            return Error(errInstallableIsam,
                         QStringLiteral("%1파일을 여는 ODBC 드라이버를 찾을 수 없거나 불러올 수 "
                                        "없습니다.")
                                 .arg(theFile) +
                             detail);
        case Failure::CannotOpen:
            return Error(errCannotOpenFile,
                         QStringLiteral("%1데이터베이스 파일을 열 수 없습니다. 파일이 있는지, 읽고 "
                                        "쓸 권한이 있는지 확인하세요.")
                                 .arg(theFile) +
                             detail);
        case Failure::NotADatabase:
            return Error(errUnrecognisedFormat,
                         QStringLiteral("%1파일은 인식할 수 없는 데이터베이스 형식이거나 손상된 "
                                        "파일입니다.")
                                 .arg(theFile) +
                             detail);
        case Failure::MissingTable: {
            const QString name = named.isEmpty() ? table : named;
            return Error(errObjectNotFound,
                         (name.isEmpty() ? QStringLiteral("문에 쓰인 테이블이나 쿼리를 찾을 수 "
                                                          "없습니다.")
                                         : QStringLiteral("'%1' 테이블이나 쿼리를 찾을 수 "
                                                          "없습니다.")
                                               .arg(name)) +
                             QStringLiteral(" 이름이 올바른지 확인하세요.") + detail);
        }
        case Failure::MissingColumn:
            // Jet names no column here: its "too few parameters" means an unknown name.
            return Error(
                errTooFewParameters,
                (named.isEmpty() ? QStringLiteral("매개 변수가 너무 적습니다. 문에 쓰인 열(필드) "
                                                  "이름 가운데 %1테이블에 없는 것이 있습니다.")
                                       .arg(theTable)
                                 : QStringLiteral("%1'%2' 열(필드)을 찾을 수 없습니다. 열 이름이 "
                                                  "올바른지 확인하세요.")
                                       .arg(inTable, named)) +
                    detail);
        case Failure::Syntax:
            return Error(errSyntax, QStringLiteral("SQL 문에 구문 오류가 있습니다.") + detail);
        case Failure::Locked:
            if (operation == Operation::Open) {
                return Error(errDatabaseLocked,
                             QStringLiteral("다른 프로그램(예: Dorvik 또는 SolvanePlus)이나 다른 "
                                            "사용자가 %1파일을 단독으로 "
                                            "쓰고 있어 열 수 없습니다. 그 프로그램을 닫고 다시 "
                                            "시도하세요.")
                                     .arg(theFile) +
                                 detail);
            }
            if (operation == Operation::OpenRecordset || operation == Operation::Read) {
                return Error(errTableLocked,
                             QStringLiteral("다른 프로그램이나 다른 사용자가 %1파일의 %2테이블을 "
                                            "단독으로 잠그고 있습니다. 그 프로그램을 닫고 다시 "
                                            "시도하세요.")
                                     .arg(theFile, theTable) +
                                 detail);
            }
            return Error(errRecordLocked,
                         QStringLiteral("다른 프로그램이나 다른 사용자가 %1파일을 잠그고 있어 "
                                        "%2테이블을 고칠 수 없습니다. 그 프로그램을 닫고 다시 "
                                        "시도하세요.")
                                 .arg(theFile, theTable) +
                             detail);
        case Failure::Duplicate:
            return Error(
                errDuplicateKey,
                QStringLiteral("%1인덱스나 기본 키%2에 같은 값이 이미 있어 변경 내용을 "
                               "저장하지 못했습니다.")
                        .arg(inTable,
                             named.isEmpty() ? QString() : QStringLiteral("(%1)").arg(named)) +
                    detail);
        case Failure::Required:
            return Error(
                errRequired,
                QStringLiteral("%1%2필드에는 값이 있어야 합니다. Null을 넣을 수 없습니다.")
                        .arg(inTable,
                             named.isEmpty() ? QString() : QStringLiteral("'%1' ").arg(named)) +
                    detail);
        case Failure::Validation:
            return Error(errValidationRule,
                         QStringLiteral("값이 %1유효성 검사 규칙(CHECK 제약 조건)에 맞지 "
                                        "않습니다.")
                                 .arg(inTable) +
                             detail);
        case Failure::Integrity:
            return Error(errDuplicateKey,
                         QStringLiteral("%1무결성 규칙(중복된 키, 테이블 사이의 관계 등)에 어긋나 "
                                        "변경 내용을 저장하지 못했습니다.")
                                 .arg(inTable) +
                             detail);
        case Failure::ColumnType:
        case Failure::Conversion:
            return Error(
                errDataTypeConversion,
                QStringLiteral("%1열의 데이터 형식에 맞지 않는 값입니다.").arg(inTable) + detail);
        case Failure::DiskFull:
            return Error(
                errDiskFull,
                QStringLiteral("디스크 공간이 부족하여 %1파일에 저장할 수 없습니다.").arg(theFile) +
                    detail);
        case Failure::Other:
            break;
    }
    return Error(errDriverFailure,
                 QStringLiteral("ODBC 드라이버에서 오류가 발생했습니다: %1")
                     .arg(d.message.isEmpty() ? QStringLiteral("(설명 없음)") : d.message));
}

QString MissingAccessDriverText(const QString& path) {
    QString text = QStringLiteral("'%1'은(는) Access(Jet) 데이터베이스 파일입니다. ")
                       .arg(QDir::toNativeSeparators(path));
#if defined(_WIN32)
    if constexpr (sizeof(void*) == 8) {
        text += QStringLiteral(
            "이 프로그램은 64비트용이라 64비트 Microsoft Access ODBC 드라이버(Microsoft Access "
            "Driver (*.mdb, *.accdb))가 필요한데, 이 "
            "컴퓨터에는 설치되어 있지 않습니다. Microsoft 다운로드 센터에서 'Microsoft Access "
            "Database Engine 재배포 가능 패키지'의 64비트판을 설치하세요. 또는 이 프로그램의 "
            "32비트판을 쓰면 Windows에 기본으로 들어 있는 Jet 4.0 드라이버(Microsoft Access "
            "Driver (*.mdb))로 열 수 있습니다.");
    } else {
        text += QStringLiteral(
            "이 컴퓨터에서 32비트 Microsoft Access ODBC 드라이버(Microsoft Access Driver "
            "(*.mdb) 또는 Microsoft Access Driver (*.mdb, *.accdb))를 찾을 수 없습니다. "
            "Windows에 기본으로 들어 있는 Jet 4.0 드라이버(Microsoft Access Driver (*.mdb))가 빠져 "
            "있다면 Microsoft 다운로드 센터에서 'Microsoft Access Database Engine 재배포 가능 "
            "패키지'의 32비트판을 설치하세요.");
    }
#else
    text += QStringLiteral(
        "이 운영체제에서는 Access 파일을 여는 Microsoft Access ODBC 드라이버를 쓸 수 없습니다. "
        "이 프로그램을 Windows에서 실행하거나, 파일을 다른 형식(SQLite 등)으로 변환해서 "
        "쓰세요.");
#endif
    return text;
}

QString TableOfSelectAll(const QString& source) {
    static const QRegularExpression selectAll(QStringLiteral(R"(^\s*SELECT\s+\*\s+FROM\s+)") +
                                                  kNamePattern + QStringLiteral(R"(\s*;?\s*$)"),
                                              QRegularExpression::CaseInsensitiveOption);
    return selectAll.match(source).captured(1);
}

QString WithOrIgnore(const QString& sql) {
    // Leading blanks and comments, and the statement's own spelling, stay as they are.
    static const QRegularExpression insertInto(
        QStringLiteral(R"(^(?:\s|--[^\n]*(?:\n|$)|/\*.*?\*/)*(INSERT)\s+INTO\b)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression update(
        QStringLiteral(R"(^(?:\s|--[^\n]*(?:\n|$)|/\*.*?\*/)*(UPDATE)\s+(?!OR\b))"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    for (const QRegularExpression* re : {&insertInto, &update}) {
        const QRegularExpressionMatch m = re->match(sql);
        if (m.hasMatch()) {
            return QString(sql).insert(m.capturedEnd(1), QStringLiteral(" OR IGNORE"));
        }
    }
    return sql;
}

}  // namespace detail::odbc

namespace detail {

std::shared_ptr<Database> OpenOdbcDatabase(const QString& path, OdbcTarget target) {
    if (!QSqlDatabase::isDriverAvailable(kOdbcPlugin)) {
        throw Error(errInstallableIsam, MissingPluginText(path));
    }
    const QString nativePath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    // The drivers would open a read-only file for reading only, without a word, and the first
    // write would fail; the engine promises a database open for reading and writing.
    if (!QFileInfo(path).isWritable()) {
        throw Error(errCannotOpenFile,
                    QStringLiteral("'%1' 파일에 쓸 수 없습니다. 읽기 전용 파일이거나 쓰기 권한이 "
                                   "없습니다. 파일의 속성과 권한을 확인하세요.")
                        .arg(nativePath));
    }
    // QODBC reads a connection string that mentions ".dsn" anywhere as a file DSN.
    if (nativePath.contains(QLatin1String(".dsn"), Qt::CaseInsensitive)) {
        throw Error(errCannotOpenFile,
                    QStringLiteral("'%1' 파일은 경로에 '.dsn'이 들어 있어 ODBC로 열 수 없습니다. "
                                   "파일이나 폴더의 이름을 바꾸세요.")
                        .arg(nativePath));
    }
    if (target == OdbcTarget::Access) {
        return OpenAccess(path, nativePath);
    }
    return OpenSqlite(path);
}

}  // namespace detail

namespace testing {
void SetOdbcAccessStyleExecute(bool on) {
    g_accessStyleExecute = on;
}
void SetSqliteOdbcPathMap(OdbcPathMap map) {
    g_sqliteOdbcPathMap = map;
}
}  // namespace testing

}  // namespace dao
