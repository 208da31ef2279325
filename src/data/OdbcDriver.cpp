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
#include "data/RowByRow.h"
#include "data/SqlText.h"

namespace dao {

namespace {

using detail::OdbcTarget;
using detail::odbc::Diagnostic;
using detail::odbc::Failure;
using detail::odbc::Operation;
namespace sql = detail::sql;

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
    return Error(errObjectInvalid, ErrorKind::ObjectClosed);
}

Error NothingPendingError() {
    return Error(errUpdateWithoutAddNew, ErrorKind::NothingPending);
}

class OdbcRecordset;

// ---- One open connection

// The QSqlDatabase connection of one open database, shared by the database object and its
// recordsets. It ends when the database is closed or, without a Close, when the last of them is
// dropped; every QSqlQuery on it is destroyed before the connection is removed.
class Connection {
public:
    Connection(QString name, QString path, OdbcTarget target, bool accessStyle,
               const QSqlDatabase& db)
        : name_(std::move(name)),
          path_(std::move(path)),
          target_(target),
          accessStyle_(target == OdbcTarget::Access || accessStyle),
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
        throw Error(cause.Number(), ErrorKind::CommitFailed,
                    {QDir::toNativeSeparators(path_), {}, {}, {}, {QString::number(rows)}}, &cause);
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
        const QSqlIndex index = db_.primaryIndex(sql::Unquoted(table));
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
    // Opens `source`; `table` is the table it reads whole, or empty for another query.
    OdbcRecordset(std::shared_ptr<Connection> connection, QString source, QString table,
                  bool updatable)
        : conn_(std::move(connection)),
          source_(std::move(source)),
          table_(std::move(table)),
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
            throw NothingPendingError();
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
        if (inserts_.Insert(*conn_, conn_->QuoteName(table_), columns, values, &failure)) {
            pending_ = false;
            pendingValues_.clear();
            conn_->RowSaved();
            return;
        }
        // The row stays pending. The rows saved before it are committed now, so that nothing
        // this failure does to the transaction can take them along.
        conn_->Commit();
        throw detail::odbc::ToError(failure, Operation::Update, table_, conn_->Path());
    }

    int32_t EditMode() override {
        EnsureOpen();
        return pending_ ? dbEditAdd : dbEditNone;
    }

    void CancelUpdate(int32_t /*type*/) override {
        EnsureOpen();
        if (!pending_) {
            throw NothingPendingError();
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
            throw NothingPendingError();
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
    static Error NoCurrentRecord() { return Error(errNoCurrentRecord, ErrorKind::NoCurrentRecord); }

    void EnsureOpen() const {
        if (closed_ || !conn_ || !conn_->IsOpen()) {
            throw ObjectClosedError();
        }
    }

    void EnsureUpdatable() const {
        if (!updatable_) {
            throw Error(errReadOnly, ErrorKind::SnapshotReadOnly);
        }
        if (table_.isEmpty()) {
            throw Error(errReadOnly, ErrorKind::QueryReadOnly, {{}, {}, {}, {}, {source_}});
        }
    }

    void CheckPosition(int16_t position) const {
        detail::CheckFieldPosition(position, static_cast<int16_t>(names_.size()));
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
            throw detail::odbc::ToError(failure, operation, table_, conn_->Path());
        }
        if (!cursor->isSelect()) {
            throw Error(errInvalidArgument, ErrorKind::NotASelect, {{}, {}, {}, {}, {source_}});
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
                throw detail::odbc::ToError(failure, operation, table_, conn_->Path());
            }
            // A commit on this connection can close open cursors (drivers differ): run the
            // source again and skip the rows already read.
            const int64_t done = cursorRows_;
            RunCursor(operation);
            for (int64_t i = 0; i < done; ++i) {
                if (!cursor_->next()) {
                    if (cursor_->lastError().isValid()) {
                        throw detail::odbc::ToError(Diagnose(*cursor_), operation, table_,
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
        const QString sql =
            table_.isEmpty() ? QStringLiteral("SELECT COUNT(*) FROM (%1) counted")
                                   .arg(sql::WithoutTrailingSemicolons(source_))
                             : QStringLiteral("SELECT COUNT(*) FROM ") + conn_->QuoteName(table_);
        QSqlQuery query(conn_->Db());
        query.setForwardOnly(true);
        if (query.exec(sql) && query.next()) {
            return query.value(0).toLongLong();
        }
        const Diagnostic failure = Diagnose(query);
        if (detail::odbc::Classify(failure) == Failure::Locked) {
            throw detail::odbc::ToError(failure, Operation::Read, table_, conn_->Path());
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
    QString table_;  // the table read whole; empty when the source is another query
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

// ---- Row-by-row replay

// A statement that a row's values refused has applied nothing (it ran in its own transaction, or
// it is SQLite's, whose statements are atomic); it is replayed (RowByRow.h) over the rows'
// primary keys, or SQLite's rowid.
class OdbcRowByRow final : public detail::RowByRowTarget {
public:
    OdbcRowByRow(Connection& conn, QString table) : conn_(conn), table_(std::move(table)) {}

    bool ReplaysInsertSelect() const override { return true; }
    QStringList KeyColumns(const QString& table) override { return conn_.KeyColumns(table); }

    QStringList ColumnsOf(const QString& table) override {
        QSqlQuery probe(conn_.Db());
        probe.setForwardOnly(true);
        if (!probe.exec(QStringLiteral("SELECT * FROM ") + table +
                        QStringLiteral(" WHERE 1 = 0"))) {
            throw Failed(probe);
        }
        QStringList columns;
        const QSqlRecord record = probe.record();
        for (int i = 0; i < record.count(); ++i) {
            columns << conn_.QuoteName(record.fieldName(i));
        }
        return columns;
    }

    std::vector<QVariantList> ReadAll(const QString& select) override {
        QSqlQuery query(conn_.Db());
        query.setForwardOnly(true);
        if (!query.exec(select)) {
            throw Failed(query);
        }
        const int columns = query.record().count();
        std::vector<QVariantList> rows;
        while (query.next()) {
            rows.push_back(RowOf(query, columns));
        }
        if (query.lastError().isValid()) {
            throw Failed(query);
        }
        return rows;
    }

    void RunRow(const QString& statement, const QVariantList& parameters) override {
        auto it = prepared_.find(statement);
        if (it == prepared_.end()) {
            auto query = std::make_unique<QSqlQuery>(conn_.Db());
            query->setForwardOnly(true);
            if (!query->prepare(statement)) {
                throw Failed(*query);
            }
            it = prepared_.emplace(statement, std::move(query)).first;
        }
        QSqlQuery& query = *it->second;
        for (int i = 0; i < parameters.size(); ++i) {
            query.bindValue(i, parameters[i]);
        }
        if (query.exec()) {
            return;
        }
        const Diagnostic failure = Diagnose(query);
        if (!detail::odbc::IsRowFailure(detail::odbc::Classify(failure))) {
            throw detail::odbc::ToError(failure, Operation::Execute, table_, conn_.Path());
        }
    }

    // Without a transaction a replay that fails half way could not be undone.
    bool Begin() override {
        if (!conn_.SupportsTransactions()) {
            return false;
        }
        conn_.Begin(Operation::Execute);
        return true;
    }
    void Commit() override {
        prepared_.clear();
        conn_.Commit();
    }
    void Rollback() noexcept override {
        prepared_.clear();
        conn_.Rollback();
    }

private:
    Error Failed(const QSqlQuery& query) const {
        return detail::odbc::ToError(Diagnose(query), Operation::Execute, table_, conn_.Path());
    }

    Connection& conn_;
    QString table_;
    std::map<QString, std::unique_ptr<QSqlQuery>> prepared_;
};

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
        const QString statement = ownTransaction ? sql : sql::WithOrIgnore(sql);
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
        const QString table = sql::TableOfStatement(sql);
        if (detail::odbc::IsRowFailure(detail::odbc::Classify(failure))) {
            OdbcRowByRow target(c, table);
            if (detail::ReplayRowByRow(sql, target)) {
                return;
            }
        }
        throw detail::odbc::ToError(failure, Operation::Execute, table, c.Path());
    }

    std::shared_ptr<Recordset> OpenTable(const QString& tableName, int32_t type) override {
        PrepareToOpen(type);
        const QString query = QStringLiteral("SELECT * FROM ") + conn_->QuoteName(tableName);
        return std::make_shared<OdbcRecordset>(conn_, query, tableName, type == dbOpenDynaset);
    }

    QString Name() const override { return path_; }

    void Close() override {
        if (!conn_) {
            return;
        }
        std::shared_ptr<Connection> connection = std::move(conn_);
        connection->Shutdown();
    }

protected:
    std::shared_ptr<Recordset> OpenQuery(const QString& source, int32_t type) override {
        PrepareToOpen(type);
        return std::make_shared<OdbcRecordset>(conn_, source, QString(), type == dbOpenDynaset);
    }

private:
    void EnsureOpen() const {
        if (!conn_ || !conn_->IsOpen()) {
            throw ObjectClosedError();
        }
    }

    void PrepareToOpen(int32_t type) {
        EnsureOpen();
        CheckRecordsetType(type);
        conn_->Commit();
    }

    std::shared_ptr<Connection> conn_;
    QString path_;
};

// ---- Opening

QString NextConnectionName() {
    return QStringLiteral("dao-odbc-%1").arg(++g_connectionCounter);
}

// An error about the file being opened, which the message names in the platform's way.
Error OpenError(int32_t number, ErrorKind kind, const QString& path,
                const QString& driverText = {}) {
    return Error(number, kind, {QDir::toNativeSeparators(path), {}, {}, driverText, {}});
}

struct ConnectResult {
    std::shared_ptr<Connection> connection;
    Diagnostic failure;
    bool pluginFailed = false;
};

ConnectResult Connect(const QString& connectionString, const QString& path, OdbcTarget target,
                      bool accessStyle = false) {
    ConnectResult result;
    const QString name = NextConnectionName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(kOdbcPlugin, name);
        if (!db.isValid()) {
            result.pluginFailed = true;
        } else {
            db.setDatabaseName(connectionString);
            if (db.open()) {
                result.connection =
                    std::make_shared<Connection>(name, path, target, accessStyle, db);
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
            throw OpenError(errInstallableIsam, ErrorKind::MissingOdbcPlugin, path);
        }
        if (result.connection) {
            return std::make_shared<OdbcDatabase>(std::move(result.connection));
        }
        if (detail::odbc::Classify(result.failure) != Failure::MissingDriver) {
            throw detail::odbc::ToError(result.failure, Operation::Open, {}, path);
        }
    }
    throw OpenError(errInstallableIsam, ErrorKind::MissingAccessDriver, path);
}

std::shared_ptr<Database> OpenSqlite(const QString& path, const detail::OpenOptions& options) {
    // The SQLite driver takes no braces around a value, and the driver manager narrows the text
    // of the connection string to single bytes; a percent-encoded file URI survives both.
    // NoCreat: never create a missing file. Timeout: how long to wait for another process's lock
    // (the same setting as the C API driver's). BigInt: report INTEGER columns as 64-bit, or large
    // values are cut. The driver's StepAPI mode would stream rows, but it lets only one statement
    // of a connection step at a time and silently ends the others, which would cut a snapshot
    // short as soon as a row is saved; so each result is read whole when it is run.
    QString uri = QString::fromLatin1(
        QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded(QUrl::FullyEncoded));
    uri.replace(QLatin1Char(';'), QLatin1String("%3B"));
    ConnectResult result;
    for (const QString& driver : Installed(SqliteDriverNames())) {
        const QString connection =
            QStringLiteral("DRIVER={%1};Database=%2;NoCreat=1;Timeout=%3;BigInt=1")
                .arg(driver, uri, QString::number(options.engine.busyTimeout.count()));
        result = Connect(connection, path, OdbcTarget::Sqlite, options.engine.accessStyleExecute);
        if (result.pluginFailed) {
            throw OpenError(errInstallableIsam, ErrorKind::MissingOdbcPlugin, path);
        }
        if (result.connection || detail::odbc::Classify(result.failure) != Failure::MissingDriver) {
            break;
        }
    }
    if (!result.connection) {
        if (result.failure.message.isEmpty() ||
            detail::odbc::Classify(result.failure) == Failure::MissingDriver) {
            throw OpenError(errInstallableIsam, ErrorKind::MissingSqliteOdbcDriver, path,
                            result.failure.message);
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

}  // namespace detail::odbc

namespace detail {

std::shared_ptr<Database> OpenOdbcDatabase(const QString& path, OdbcTarget target,
                                           const OpenOptions& options) {
    if (!QSqlDatabase::isDriverAvailable(kOdbcPlugin)) {
        throw OpenError(errInstallableIsam, ErrorKind::MissingOdbcPlugin, path);
    }
    const QString nativePath = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
    // The drivers would open a read-only file for reading only, without a word, and the first
    // write would fail; the engine promises a database open for reading and writing.
    if (!QFileInfo(path).isWritable()) {
        throw OpenError(errCannotOpenFile, ErrorKind::FileNotWritable, path);
    }
    // QODBC reads a connection string that mentions ".dsn" anywhere as a file DSN.
    if (nativePath.contains(QLatin1String(".dsn"), Qt::CaseInsensitive)) {
        throw OpenError(errCannotOpenFile, ErrorKind::DsnInPath, path);
    }
    if (target == OdbcTarget::Access) {
        return OpenAccess(path, nativePath);
    }
    return OpenSqlite(path, options);
}

}  // namespace detail

}  // namespace dao
