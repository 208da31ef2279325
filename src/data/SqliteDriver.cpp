#include "data/SqliteDriver.h"

#include <sqlite3.h>

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QtGlobal>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "data/Drivers.h"
#include "data/RowByRow.h"
#include "data/SqlText.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace dao {

namespace detail {

namespace {

QByteArray QuoteName(const QString& name) {
    return sql::DoubleQuoted(name).toUtf8();
}

}  // namespace

namespace sqlite {

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
        default:
            break;
    }
    switch (extendedCode & 0xff) {
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

}  // namespace sqlite

// ---- Errors

namespace {

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
Error MakeError(int code, const QString& message, const QString& file, const QString& table = {}) {
    const int32_t number = sqlite::ErrorNumber(code, message);
    ErrorContext c{file, table, {}, message, {}};
    ReadNames(number, message, c);
    const ErrorKind kind = KindOf(number, c);
    if (kind == ErrorKind::DuplicateKey || kind == ErrorKind::ValidationRule) {
        c.table = table;  // the statement's own table, not one the message names
    }
    return Error(number, kind, std::move(c));
}

Error TableLockedError(const QString& file, const QString& table) {
    return Error(errTableLocked, ErrorKind::TableLocked, {file, table, {}, {}, {}});
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

// ---- Statements

class Statement {
public:
    Statement() = default;
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}
    Statement& operator=(Statement&& other) noexcept {
        if (this != &other) {
            Finalize();
            stmt_ = std::exchange(other.stmt_, nullptr);
        }
        return *this;
    }
    ~Statement() { Finalize(); }

    sqlite3_stmt* get() const { return stmt_; }
    sqlite3_stmt** out() {
        Finalize();
        return &stmt_;
    }
    void Finalize() {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

// True when the rest of a statement text holds nothing but blanks, comments and semicolons.
bool OnlySeparators(const char* tail) {
    return sql::Reader(QString::fromUtf8(tail)).Count() == 0;
}

// The page cache of a connection that writes, in KiB. SQLite's default of 2 MiB is far smaller
// than the indexes that the rows of a copy are inserted into, so most inserts would spill pages to
// the file and read them back. The setting lasts for the connection only; nothing is stored in
// the file. Connections that only read keep the default, so a snapshot never holds more than a
// small cache of the table.
constexpr int kWritingCacheKiB = 64 * 1024;

class SqliteRecordset;

// One open file: the SQLite connection, shared by the database object and its recordsets, so
// that a recordset stays usable while its database handle is dropped.
class Connection {
public:
    Connection(sqlite3* db, QString path, const OpenOptions& options)
        : db_(db), path_(std::move(path)), options_(options) {}
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    ~Connection() {
        if (db_ != nullptr) {
            CommitQuietly();
            CloseQuietly();
        }
    }

    sqlite3* db() const { return db_; }
    const QString& path() const { return path_; }
    bool IsOpen() const { return db_ != nullptr; }
    void CheckOpen() const {
        if (db_ == nullptr) {
            throw ClosedError();
        }
    }

    Error ErrorNow(int code, const QString& table = {}) const {
        return MakeError(code, ErrorMessage(db_), path_, table);
    }

    // Runs a statement that returns no rows; the result is SQLite's extended code.
    int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

    // Called before the connection writes anything.
    void PrepareForWriting() {
        if (!writing_) {
            writing_ = true;
            const QByteArray pragma =
                "PRAGMA cache_size = -" + QByteArray::number(kWritingCacheKiB);
            Exec(pragma.constData());  // only a cache size: a failure changes nothing else
        }
    }

    void BeginBatch() {
        if (batchOpen_) {
            return;
        }
        PrepareForWriting();
        int rc = SQLITE_OK;
        // Waits out another program's lock for up to the busy timeout.
        options_.KeepBusyWhile([&] { rc = Exec("BEGIN IMMEDIATE"); });
        if (rc != SQLITE_OK) {
            throw ErrorNow(rc);
        }
        batchOpen_ = true;
        batchRows_ = 0;
        batchStart_ = std::chrono::steady_clock::now();
        if (!chained_) {
            seriesStart_ = batchStart_;
        }
    }

    const OpenOptions& Options() const { return options_; }

    // Rows saved through a dynaset are grouped into one transaction per connection, as the classic
    // engine does. A commit syncs the file and writes back every page the batch touched. Rows
    // rarely arrive in key order: a table with an index on a name or a code gets its inserts spread
    // over the whole index, so after every commit the next batch journals most of that index again,
    // and a fixed batch costs more the larger the table grows. Measured on a 1,000,000-row product
    // copy with one such index, committing every 10,000 rows or half a second made the copy twice
    // as slow as one transaction, and every 100,000 rows or 2 seconds still wrote 17% more than one
    // transaction. So a batch is due after 2 seconds, but one that follows earlier batches of the
    // same series of saves (one copy) runs at least as long as they did together: the batches of a
    // long copy double in length, their commits grow with the logarithm of its length, and the same
    // copy writes 6% more than one transaction. A failure takes back at most the last 2
    // seconds or the later half of the series. No row count ends a batch unless one is set.
    void RowSaved() {
        ++batchRows_;
        const CommitBatchPolicy& policy = options_.engine.batches;
        const auto minimum = std::max<std::chrono::steady_clock::duration>(
            policy.minimumTime, batchStart_ - seriesStart_);
        if (batchRows_ >= policy.maximumRows ||
            std::chrono::steady_clock::now() - batchStart_ >= minimum) {
            try {
                Commit();
            } catch (Error& e) {
                // The row being saved fails with its batch; the others were saved earlier.
                e.WithRowsLost(e.RowsLost() - 1);
                throw;
            }
            chained_ = true;
        }
    }

    // Commits the rows saved so far. A failed commit is rolled back, so that what the error says
    // (those rows are not saved) is what the file holds.
    void Commit() {
        chained_ = false;  // a commit of its own ends the series; RowSaved continues it
        if (!batchOpen_ || db_ == nullptr) {
            batchOpen_ = false;
            return;
        }
        int rc = SQLITE_OK;
        // Writing out a large batch and syncing the file can take a second or more.
        options_.KeepBusyWhile([&] { rc = Exec("COMMIT"); });
        if (rc == SQLITE_OK) {
            batchOpen_ = false;
            batchRows_ = 0;
            return;
        }
        const Error cause = ErrorNow(rc);
        const int64_t rows = batchRows_;
        if (sqlite3_get_autocommit(db_) == 0) {
            Exec("ROLLBACK");
        }
        batchOpen_ = false;
        batchRows_ = 0;
        throw Error(cause.Number(), ErrorKind::CommitFailed,
                    {path_, {}, {}, {}, {QString::number(rows)}}, &cause)
            .WithRowsLost(rows);
    }

    // For destructors, which cannot report: a failed commit stays pending, so that a later
    // commit point (Close of the database) retries it and reports the outcome.
    void CommitQuietly() noexcept {
        if (!batchOpen_ || db_ == nullptr) {
            return;
        }
        if (Exec("COMMIT") == SQLITE_OK) {
            batchOpen_ = false;
            batchRows_ = 0;
        }
    }

    // After a failed save: SQLite may have rolled back the whole transaction by itself (a full
    // disk, an I/O error, a trigger's RAISE(ROLLBACK)). Returns how many earlier rows were lost
    // with it, or -1 when the transaction is intact.
    int64_t TakeRolledBackRows() noexcept {
        if (!batchOpen_ || sqlite3_get_autocommit(db_) == 0) {
            return -1;
        }
        const int64_t rows = batchRows_;
        batchOpen_ = false;
        batchRows_ = 0;
        return rows;
    }

    void Register(SqliteRecordset* rs) { recordsets_.push_back(rs); }
    void Unregister(SqliteRecordset* rs) noexcept {
        recordsets_.erase(std::remove(recordsets_.begin(), recordsets_.end(), rs),
                          recordsets_.end());
    }
    bool HasRecordsets() const { return !recordsets_.empty(); }

    // Closes the recordsets still open on this file, commits and releases the file. A failed
    // commit is reported after everything is released.
    void Close();
    void CloseQuietly() noexcept;

private:
    void ReleaseRecordsets() noexcept;

    sqlite3* db_;
    QString path_;
    OpenOptions options_;
    bool writing_ = false;
    bool batchOpen_ = false;
    int64_t batchRows_ = 0;
    std::chrono::steady_clock::time_point batchStart_;
    // The start of the first batch of the series that the open batch belongs to; chained_ says
    // that the last batch was committed because it was due, so the next one continues its series.
    std::chrono::steady_clock::time_point seriesStart_;
    bool chained_ = false;
    std::vector<SqliteRecordset*> recordsets_;
};

Statement Prepare(Connection& conn, const QByteArray& sql, const QString& table = {}) {
    Statement stmt;
    const char* tail = nullptr;
    const int rc = sqlite3_prepare_v2(conn.db(), sql.constData(), static_cast<int>(sql.size()),
                                      stmt.out(), &tail);
    if (rc != SQLITE_OK) {
        throw conn.ErrorNow(rc, table);
    }
    if (stmt.get() == nullptr) {
        throw Error(errSyntax, ErrorKind::NoStatement);
    }
    if (tail != nullptr && !OnlySeparators(tail)) {
        throw Error(errSyntax, ErrorKind::OneStatementOnly,
                    {{}, {}, {}, {}, {QString::fromUtf8(tail).trimmed()}});
    }
    return stmt;
}

// Reads a column into `out`, whose text buffer is reused. The column's value object is fetched
// once and read through the value interface: each column call would enter and leave the
// connection again, and a copy reads every column of every row.
void ReadColumn(sqlite3_stmt* stmt, int column, Value& out) {
    sqlite3_value* value = sqlite3_column_value(stmt, column);
    switch (sqlite3_value_type(value)) {
        case SQLITE_INTEGER:
            out.SetInteger(static_cast<int64_t>(sqlite3_value_int64(value)));
            return;
        case SQLITE_FLOAT:
            out.SetReal(sqlite3_value_double(value));
            return;
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
            if (text == nullptr) {
                out.SetText("", 0);  // out of memory while converting
                return;
            }
            out.SetText(text, static_cast<size_t>(sqlite3_value_bytes(value)));
            return;
        }
        case SQLITE_BLOB: {
            const auto* data = static_cast<const char*>(sqlite3_value_blob(value));
            const auto size = static_cast<size_t>(sqlite3_value_bytes(value));
            out.SetBlob(size == 0 ? "" : data, size);
            return;
        }
        default:
            out.SetNull();
            return;
    }
}

// Binds without copying: the value outlives the statement's step.
int BindValue(sqlite3_stmt* stmt, int parameter, const Value& v) {
    switch (v.type()) {
        case Value::Type::Integer:
            return sqlite3_bind_int64(stmt, parameter, v.toInt());
        case Value::Type::Real:
            return sqlite3_bind_double(stmt, parameter, v.toReal());
        case Value::Type::Text:
            return sqlite3_bind_text64(stmt, parameter, v.bytes().data(), v.bytes().size(),
                                       SQLITE_STATIC, SQLITE_UTF8);
        case Value::Type::Blob:
            return sqlite3_bind_blob64(stmt, parameter, v.bytes().data(), v.bytes().size(),
                                       SQLITE_STATIC);
        case Value::Type::Null:
            break;
    }
    return sqlite3_bind_null(stmt, parameter);
}

// ---- Column types of STRICT tables
//
// A STRICT table refuses a value that its column's declared type cannot hold. The classic engine
// refuses such a value when it is assigned to the field, not when the row is saved, and a copy
// relies on that to give the row up at once; so the declared types are read once when a dynaset
// opens, and each write is checked against them.

enum class StrictType : uint8_t { Any, Integer, Real, Text, Blob };

// The declared type of each column when the table is STRICT; empty for any other table, and
// whenever the types cannot be read (the save still decides then).
std::vector<StrictType> StrictColumnTypes(sqlite3* db, const QString& table, sqlite3_stmt* select,
                                          int16_t fieldCount) {
#if SQLITE_VERSION_NUMBER >= 3037000
    Statement query;
    static const char kSql[] =
        "SELECT \"strict\" FROM pragma_table_list WHERE schema = 'main' AND name = ?1 "
        "COLLATE NOCASE";
    if (sqlite3_prepare_v2(db, kSql, -1, query.out(), nullptr) != SQLITE_OK) {
        return {};
    }
    const QByteArray name = table.toUtf8();
    sqlite3_bind_text(query.get(), 1, name.constData(), static_cast<int>(name.size()),
                      SQLITE_TRANSIENT);
    if (sqlite3_step(query.get()) != SQLITE_ROW || sqlite3_column_int(query.get(), 0) == 0) {
        return {};
    }
    std::vector<StrictType> types(static_cast<size_t>(fieldCount), StrictType::Any);
    for (int16_t i = 0; i < fieldCount; ++i) {
        const char* declared = sqlite3_column_decltype(select, i);
        if (declared == nullptr) {
            continue;
        }
        StrictType& type = types[static_cast<size_t>(i)];
        if (qstricmp(declared, "INT") == 0 || qstricmp(declared, "INTEGER") == 0) {
            type = StrictType::Integer;
        } else if (qstricmp(declared, "REAL") == 0) {
            type = StrictType::Real;
        } else if (qstricmp(declared, "TEXT") == 0) {
            type = StrictType::Text;
        } else if (qstricmp(declared, "BLOB") == 0) {
            type = StrictType::Blob;
        }
    }
    return types;
#else
    Q_UNUSED(db);
    Q_UNUSED(table);
    Q_UNUSED(select);
    Q_UNUSED(fieldCount);
    return {};
#endif
}

// Whether a text reads as a number in full, as SQLite reads it when a numeric column converts a
// text: blanks around it, a sign, digits with at most one point, an exponent.
bool ReadsAsNumber(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0;
    size_t n = text.size();
    while (i < n && blank(text[i])) {
        ++i;
    }
    while (n > i && blank(text[n - 1])) {
        --n;
    }
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    bool digits = false;
    while (i < n && digit(text[i])) {
        ++i;
        digits = true;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && digit(text[i])) {
            ++i;
            digits = true;
        }
    }
    if (!digits) {
        return false;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        if (i == n || !digit(text[i])) {
            return false;
        }
        while (i < n && digit(text[i])) {
            ++i;
        }
    }
    return i == n;
}

// Whether a STRICT column of this type refuses the value for certain. A number in a text that an
// INTEGER column may or may not take whole is left to the save.
bool StrictRefuses(StrictType column, const Value& v) {
    switch (v.type()) {
        case Value::Type::Null:
            return false;
        case Value::Type::Integer:
            return column == StrictType::Blob;
        case Value::Type::Real: {
            if (column == StrictType::Blob) {
                return true;
            }
            if (column != StrictType::Integer) {
                return false;
            }
            // Kept only when it converts to a 64-bit integer without loss; SQLite stores a NaN
            // as null.
            const double r = v.toReal();
            return !std::isnan(r) && !(r > -9.2e18 && r < 9.2e18 &&
                                       r == static_cast<double>(static_cast<int64_t>(r)));
        }
        case Value::Type::Text:
            return column == StrictType::Blob ||
                   ((column == StrictType::Integer || column == StrictType::Real) &&
                    !ReadsAsNumber(v.bytes()));
        case Value::Type::Blob:
            return column != StrictType::Blob && column != StrictType::Any;
    }
    return false;
}

const char* StrictTypeName(StrictType type) {
    switch (type) {
        case StrictType::Integer:
            return "INTEGER";
        case StrictType::Real:
            return "REAL";
        case StrictType::Text:
            return "TEXT";
        case StrictType::Blob:
            return "BLOB";
        case StrictType::Any:
            break;
    }
    return "ANY";
}

const char* ValueTypeName(const Value& v) {
    switch (v.type()) {
        case Value::Type::Integer:
            return "INTEGER";
        case Value::Type::Real:
            return "REAL";
        case Value::Type::Text:
            return "TEXT";
        case Value::Type::Blob:
            return "BLOB";
        case Value::Type::Null:
            break;
    }
    return "NULL";
}

// ---- Recordset

class SqliteRecordset final : public Recordset {
public:
    SqliteRecordset(std::shared_ptr<Connection> conn, bool dynaset, QString table, Statement select)
        : conn_(std::move(conn)),
          dynaset_(dynaset),
          table_(std::move(table)),
          select_(std::move(select)) {
        const int count = sqlite3_column_count(select_.get());
        fieldCount_ = static_cast<int16_t>(std::min(count, static_cast<int>(INT16_MAX)));
        names_.reserve(static_cast<size_t>(fieldCount_));
        for (int16_t i = 0; i < fieldCount_; ++i) {
            names_.push_back(QString::fromUtf8(sqlite3_column_name(select_.get(), i)));
            // The first of equal names wins, as in a lookup by position order.
            const QString folded = names_.back().toCaseFolded();
            if (!folded_.contains(folded)) {
                folded_.insert(folded, i);
            }
        }
        pending_.resize(static_cast<size_t>(fieldCount_));
        written_.assign(static_cast<size_t>(fieldCount_), 0);
        if (dynaset_ && !table_.isEmpty()) {
            strictTypes_ = StrictColumnTypes(conn_->db(), table_, select_.get(), fieldCount_);
        }
        conn_->Register(this);
    }

    SqliteRecordset(const SqliteRecordset&) = delete;
    SqliteRecordset& operator=(const SqliteRecordset&) = delete;

    ~SqliteRecordset() override {
        if (!closed_) {
            Release();
            conn_->CommitQuietly();
        }
    }

    // Reads the first row, which also proves that the table can be read now: a table locked by
    // another process fails here rather than in the middle of a copy.
    void Start() {
        if (!dynaset_) {
            // A snapshot is one stable view: this statement keeps the read transaction (and
            // with it the view) from here to Close, also across MoveFirst after the last row.
            pin_ = Prepare(*conn_, "SELECT count(*) FROM sqlite_master");
            const int rc = sqlite3_step(pin_.get());
            if (rc != SQLITE_ROW) {
                throw OpenError(rc);
            }
        }
        const int rc = sqlite3_step(select_.get());
        if (rc == SQLITE_ROW) {
            stmtRow_ = 0;
            visited_ = 1;
        } else if (rc == SQLITE_DONE) {
            sqlite3_reset(select_.get());
            total_ = 0;
            eof_ = true;
        } else {
            throw OpenError(rc);
        }
        if (dynaset_) {
            // A dynaset reads again when it is navigated; holding no read lock meanwhile leaves
            // the file free for the rows it saves.
            sqlite3_reset(select_.get());
            stmtRow_ = -1;
            total_ = -1;
        }
    }

    bool Eof() override {
        CheckOpen();
        return eof_;
    }

    void MoveFirst() override {
        CheckOpen();
        adding_ = false;
        if (dynaset_ ? !StepTo(0) : total_ == 0) {
            eof_ = true;
            throw NoCurrentRecordError();
        }
        pos_ = 0;
        eof_ = false;
    }

    void MoveLast(int32_t /*options*/) override {
        CheckOpen();
        adding_ = false;
        // Counted, not read: the caller's MoveFirst then finds the statement still on the first
        // row, so a copy reads every row once. A value read here steps to the last row.
        const int64_t rows = (!dynaset_ && total_ >= 0) ? total_ : CountRows();
        total_ = rows;
        if (rows == 0) {
            eof_ = true;
            throw NoCurrentRecordError();
        }
        pos_ = rows - 1;
        eof_ = false;
        visited_ = std::max(visited_, rows);
    }

    void MoveNext() override {
        CheckOpen();
        adding_ = false;
        if (eof_) {
            throw NoCurrentRecordError();
        }
        ++pos_;
        eof_ = (!dynaset_ && total_ >= 0) ? pos_ >= total_ : !StepTo(pos_);
        visited_ = std::max(visited_, eof_ ? pos_ : pos_ + 1);
    }

    int32_t RecordCount() override {
        CheckOpen();
        const int64_t count = total_ >= 0 ? total_ : visited_;
        return static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
    }

    void AddNew() override {
        CheckOpen();
        CheckUpdatable();
        // Values of an earlier pending row stay in the buffers (their memory is reused); only
        // the written flags say what this row holds.
        std::fill(written_.begin(), written_.end(), 0);
        adding_ = true;
    }

    void Update(int32_t /*type*/, bool /*force*/) override {
        CheckOpen();
        CheckUpdatable();
        if (!adding_) {
            throw NothingPendingError();
        }
        CachedInsert& insert = InsertForWrittenColumns();
        sqlite3_stmt* stmt = insert.stmt.get();
        int parameter = 0;
        for (const int16_t column : insert.columns) {
            const int rc = BindValue(stmt, ++parameter, pending_[static_cast<size_t>(column)]);
            if (rc != SQLITE_OK) {
                sqlite3_clear_bindings(stmt);
                throw conn_->ErrorNow(rc, table_);
            }
        }
        conn_->BeginBatch();
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_DONE) {
            sqlite3_reset(stmt);
            conn_->RowSaved();  // may commit, and report a failed commit for this row too
            adding_ = false;
            if (total_ >= 0) {
                ++total_;
            }
            return;
        }
        const Error cause = conn_->ErrorNow(sqlite3_extended_errcode(conn_->db()), table_);
        sqlite3_reset(stmt);
        const int64_t lost = conn_->TakeRolledBackRows();
        if (lost < 0) {
            throw cause;  // only this row's statement was undone; the row stays pending
        }
        throw Error(cause.Number(), ErrorKind::BatchRolledBack,
                    {conn_->path(), table_, {}, {}, {QString::number(lost)}}, &cause)
            .WithRowsLost(lost);
    }

    int32_t EditMode() override {
        CheckOpen();
        return adding_ ? dbEditAdd : dbEditNone;
    }

    void CancelUpdate(int32_t /*type*/) override {
        CheckOpen();
        if (!adding_) {
            throw NothingPendingError();
        }
        adding_ = false;
    }

    int16_t FieldCount() override {
        CheckOpen();
        return fieldCount_;
    }

    QString FieldName(int16_t position) override {
        CheckOpen();
        CheckPosition(position);
        return names_[static_cast<size_t>(position)];
    }

    int16_t FieldPosition(const QString& name) override {
        CheckOpen();
        // A copy asks for the same names in the same order for every row: the name after the
        // last one asked is tried first, then every name asked before, then the columns by
        // their case-folded names.
        if (next_ < asked_.size() && asked_[next_].first == name) {
            return asked_[next_++].second;
        }
        const auto known = askedIndex_.constFind(name);
        if (known != askedIndex_.cend()) {
            next_ = known.value() + 1;
            return asked_[known.value()].second;
        }
        const auto folded = folded_.constFind(name.toCaseFolded());
        const int16_t position = folded == folded_.cend() ? int16_t{-1} : folded.value();
        if (asked_.size() < 4 * static_cast<size_t>(fieldCount_) + 64) {
            askedIndex_.insert(name, asked_.size());
            asked_.emplace_back(name, position);
            next_ = asked_.size();
        }
        return position;
    }

    Value FieldValue(int16_t position) override {
        Value v;
        ReadFieldValue(position, v);
        return v;
    }

    void ReadFieldValue(int16_t position, Value& out) override {
        CheckOpen();
        CheckPosition(position);
        const auto i = static_cast<size_t>(position);
        if (adding_) {
            if (written_[i] != 0) {
                out = pending_[i];
            } else {
                out.SetNull();
            }
            return;
        }
        if (eof_) {
            throw NoCurrentRecordError();
        }
        if (!StepTo(pos_)) {
            eof_ = true;
            throw NoCurrentRecordError();
        }
        ReadColumn(select_.get(), position, out);
    }

    void SetFieldValue(int16_t position, const Value& v) override {
        CheckOpen();
        CheckPosition(position);
        CheckUpdatable();
        if (!adding_) {
            throw NothingPendingError();
        }
        const auto i = static_cast<size_t>(position);
        if (!strictTypes_.empty() && StrictRefuses(strictTypes_[i], v)) {
            throw StrictTypeError(i, v);
        }
        pending_[i] = v;
        written_[i] = 1;
    }

    void Close() override {
        if (closed_) {
            return;
        }
        Release();
        conn_->Commit();
    }

    // Finalizes every statement and leaves the recordset closed; what it saved stays in the
    // connection's transaction.
    void Release() noexcept {
        if (closed_) {
            return;
        }
        closed_ = true;
        adding_ = false;
        inserts_.clear();
        count_.Finalize();
        select_.Finalize();
        pin_.Finalize();
        conn_->Unregister(this);
    }

private:
    struct CachedInsert {
        std::vector<char> key;         // the written flags this statement serves
        std::vector<int16_t> columns;  // the written columns, in parameter order
        Statement stmt;
    };

    void CheckOpen() const {
        if (closed_ || !conn_->IsOpen()) {
            throw ClosedError();
        }
    }

    void CheckUpdatable() const {
        if (!dynaset_) {
            throw Error(errReadOnly, ErrorKind::SnapshotReadOnly);
        }
    }

    void CheckPosition(int16_t position) const { CheckFieldPosition(position, fieldCount_); }

    // The value stays unwritten and the row pending, as after any refused write.
    Error StrictTypeError(size_t column, const Value& v) const {
        return Error(errDataTypeConversion, ErrorKind::ColumnTypeRefuses,
                     {conn_->path(),
                      table_,
                      table_ + QLatin1Char('.') + names_[column],
                      {},
                      {QLatin1String(StrictTypeName(strictTypes_[column])),
                       QLatin1String(ValueTypeName(v))}});
    }

    Error OpenError(int rc) const {
        if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
            return TableLockedError(conn_->path(), table_);
        }
        return conn_->ErrorNow(sqlite3_extended_errcode(conn_->db()), table_);
    }

    // Puts the statement on the given row of the result, stepping forward or starting over.
    // False when the result has fewer rows.
    bool StepTo(int64_t row) {
        sqlite3_stmt* stmt = select_.get();
        if (stmtRow_ == row) {
            return true;
        }
        if (stmtRow_ > row) {
            sqlite3_reset(stmt);
            stmtRow_ = -1;
        }
        while (stmtRow_ < row) {
            const int rc = sqlite3_step(stmt);
            if (rc == SQLITE_ROW) {
                ++stmtRow_;
                continue;
            }
            const int code = sqlite3_extended_errcode(conn_->db());
            const int64_t rows = stmtRow_ + 1;
            sqlite3_reset(stmt);
            stmtRow_ = -1;
            if (rc != SQLITE_DONE) {
                throw conn_->ErrorNow(code, table_);
            }
            total_ = rows;
            return false;
        }
        return true;
    }

    // The full row count, in the snapshot's own read transaction.
    int64_t CountRows() {
        if (count_.get() == nullptr) {
            const QByteArray sql = table_.isEmpty() ? "SELECT count(*) FROM (" + SourceText() + ")"
                                                    : "SELECT count(*) FROM " + QuoteName(table_);
            count_ = Prepare(*conn_, sql, table_);
        }
        sqlite3_stmt* stmt = count_.get();
        const int rc = sqlite3_step(stmt);
        const int64_t rows = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
        const int code = sqlite3_extended_errcode(conn_->db());
        sqlite3_reset(stmt);
        if (rc != SQLITE_ROW) {
            throw conn_->ErrorNow(code, table_);
        }
        return rows;
    }

    QByteArray SourceText() const {
        return sql::WithoutTrailingSemicolons(QString::fromUtf8(sqlite3_sql(select_.get())))
            .toUtf8();
    }

    // The INSERT for the columns written since AddNew, prepared once per set of columns: a copy
    // writes the same set for every row.
    CachedInsert& InsertForWrittenColumns() {
        if (lastInsert_ < inserts_.size() && inserts_[lastInsert_].key == written_) {
            return inserts_[lastInsert_];
        }
        for (size_t i = 0; i < inserts_.size(); ++i) {
            if (inserts_[i].key == written_) {
                lastInsert_ = i;
                return inserts_[i];
            }
        }
        CachedInsert insert;
        insert.key = written_;
        QByteArray names;
        QByteArray parameters;
        for (int16_t i = 0; i < fieldCount_; ++i) {
            if (written_[static_cast<size_t>(i)] != 0) {
                insert.columns.push_back(i);
                names += (names.isEmpty() ? "" : ", ") + QuoteName(names_[static_cast<size_t>(i)]);
                parameters += parameters.isEmpty() ? "?" : ", ?";
            }
        }
        const QByteArray sql =
            "INSERT INTO " + QuoteName(table_) +
            (insert.columns.empty() ? QByteArray(" DEFAULT VALUES")
                                    : " (" + names + ") VALUES (" + parameters + ")");
        insert.stmt = Prepare(*conn_, sql, table_);
        constexpr size_t kMaxCachedInserts = 8;
        if (inserts_.size() >= kMaxCachedInserts) {
            inserts_.erase(inserts_.begin());
        }
        inserts_.push_back(std::move(insert));
        lastInsert_ = inserts_.size() - 1;
        return inserts_.back();
    }

    std::shared_ptr<Connection> conn_;
    const bool dynaset_;
    const QString table_;  // empty for a snapshot of another query
    Statement select_;
    Statement pin_;
    Statement count_;
    int16_t fieldCount_ = 0;
    std::vector<QString> names_;
    QHash<QString, int16_t> folded_;
    std::vector<std::pair<QString, int16_t>> asked_;  // names as asked, in the order asked
    QHash<QString, size_t> askedIndex_;
    size_t next_ = 0;

    int64_t pos_ = 0;       // the current row
    int64_t stmtRow_ = -1;  // the row the statement is on; -1 before its first row
    int64_t total_ = -1;    // the full count, once known
    int64_t visited_ = 0;
    bool eof_ = false;
    bool closed_ = false;

    bool adding_ = false;
    std::vector<Value> pending_;
    std::vector<char> written_;
    std::vector<CachedInsert> inserts_;
    size_t lastInsert_ = 0;
    std::vector<StrictType> strictTypes_;  // empty unless the table is STRICT
};

void Connection::ReleaseRecordsets() noexcept {
    const std::vector<SqliteRecordset*> open = recordsets_;
    for (SqliteRecordset* rs : open) {
        rs->Release();
    }
}

void Connection::Close() {
    if (db_ == nullptr) {
        return;
    }
    ReleaseRecordsets();
    std::optional<Error> failure;
    try {
        Commit();
    } catch (const Error& e) {
        failure = e;
    }
    CloseQuietly();
    if (failure) {
        throw *failure;
    }
}

void Connection::CloseQuietly() noexcept {
    if (db_ == nullptr) {
        return;
    }
    ReleaseRecordsets();
    if (batchOpen_) {
        // Only reached from a destructor whose commit failed; closing rolls the rows back.
        qWarning("%s: %lld saved rows could not be committed and were rolled back",
                 qUtf8Printable(path_), static_cast<long long>(batchRows_));
    }
    // Every statement is finalized by now; close_v2 only guards against one that was not.
    if (sqlite3_close(db_) != SQLITE_OK) {
        sqlite3_close_v2(db_);
    }
    db_ = nullptr;
    batchOpen_ = false;
}

// ---- Action statements

int StepToEnd(sqlite3_stmt* stmt) {
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW) {
        rc = sqlite3_step(stmt);
    }
    return rc;
}

bool IsTypeRefusal(int code) {
    return code == SQLITE_CONSTRAINT_DATATYPE || (code & 0xff) == SQLITE_MISMATCH;
}

// OR IGNORE does not skip a value that a STRICT column's type (or an INTEGER PRIMARY KEY)
// refuses: SQLite checks the type before the conflict clause applies, and the whole statement
// fails. The statement is then replayed row by row (RowByRow.h) over the rowids of its rows.
class SqliteRowByRow final : public RowByRowTarget {
public:
    explicit SqliteRowByRow(Connection& conn) : conn_(conn) {}

    bool ReplaysInsertSelect() const override { return false; }
    QStringList KeyColumns(const QString& /*table*/) override { return {QStringLiteral("rowid")}; }
    QStringList ColumnsOf(const QString& /*table*/) override { return {}; }

    std::vector<QVariantList> ReadAll(const QString& select) override {
        Statement query = Prepare(conn_, select.toUtf8());
        std::vector<QVariantList> rows;
        int rc = SQLITE_ROW;
        while ((rc = sqlite3_step(query.get())) == SQLITE_ROW) {
            rows.push_back(
                {QVariant(static_cast<qlonglong>(sqlite3_column_int64(query.get(), 0)))});
        }
        if (rc != SQLITE_DONE) {
            throw conn_.ErrorNow(sqlite3_extended_errcode(conn_.db()));
        }
        return rows;
    }

    void RunRow(const QString& statement, const QVariantList& parameters) override {
        if (statement != lastText_) {
            last_ = Prepare(conn_, statement.toUtf8());
            lastText_ = statement;
        }
        sqlite3_stmt* stmt = last_.get();
        int position = 0;
        for (const QVariant& v : parameters) {
            sqlite3_bind_int64(stmt, ++position, v.toLongLong());
        }
        const int step = StepToEnd(stmt);
        const int code = sqlite3_extended_errcode(conn_.db());
        sqlite3_reset(stmt);
        if (step != SQLITE_DONE && !IsTypeRefusal(code)) {
            throw conn_.ErrorNow(code);
        }
    }

    bool Begin() override {
        if (const int rc = conn_.Exec("BEGIN IMMEDIATE"); rc != SQLITE_OK) {
            throw conn_.ErrorNow(rc);
        }
        return true;
    }

    void Commit() override {
        last_.Finalize();
        if (const int rc = conn_.Exec("COMMIT"); rc != SQLITE_OK) {
            const Error e = conn_.ErrorNow(rc);
            Rollback();
            throw e;
        }
    }

    // Any failure other than a refused row undoes the whole statement, as SQLite itself would.
    void Rollback() noexcept override {
        last_.Finalize();
        if (sqlite3_get_autocommit(conn_.db()) == 0) {
            conn_.Exec("ROLLBACK");
        }
    }

private:
    Connection& conn_;
    Statement last_;
    QString lastText_;
};

// ---- Database

class SqliteDatabase final : public Database {
public:
    explicit SqliteDatabase(std::shared_ptr<Connection> conn) : conn_(std::move(conn)) {}
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    ~SqliteDatabase() override {
        // Dropped without Close: what is saved is committed. Recordsets still open keep the
        // file open until they go.
        conn_->CommitQuietly();
        if (!conn_->HasRecordsets()) {
            conn_->CloseQuietly();
        }
    }

    void Execute(const QString& sql) override {
        conn_->CheckOpen();
        conn_->Commit();
        conn_->PrepareForWriting();
        const QString text = sql::WithOrIgnore(sql);
        Statement stmt = Prepare(*conn_, text.toUtf8());
        // No transaction is open here, so the statement commits as it completes. Over a whole
        // table that takes seconds.
        conn_->Options().KeepBusyWhile([&] {
            if (StepToEnd(stmt.get()) == SQLITE_DONE) {
                return;
            }
            const int code = sqlite3_extended_errcode(conn_->db());
            const Error cause = conn_->ErrorNow(code);
            stmt.Finalize();
            SqliteRowByRow target(*conn_);
            if (IsTypeRefusal(code) && ReplayRowByRow(text, target)) {
                return;
            }
            throw cause;
        });
    }

    std::shared_ptr<Recordset> OpenTable(const QString& tableName, int32_t type) override {
        return Open("SELECT * FROM " + QuoteName(tableName), tableName, type);
    }

    QString Name() const override { return conn_->path(); }

    void Close() override { conn_->Close(); }

protected:
    std::shared_ptr<Recordset> OpenQuery(const QString& source, int32_t type) override {
        if (type == dbOpenDynaset) {
            conn_->CheckOpen();
            throw Error(errInvalidArgument, ErrorKind::DynasetNeedsTable,
                        {{}, {}, {}, {}, {source}});
        }
        return Open(source.toUtf8(), QString(), type);
    }

private:
    // Opens `sql`, which reads `table` whole, or another query when `table` is empty.
    std::shared_ptr<Recordset> Open(const QByteArray& sql, const QString& table, int32_t type) {
        conn_->CheckOpen();
        CheckRecordsetType(type);
        conn_->Commit();
        Statement select;
        try {
            select = Prepare(*conn_, sql, table);
        } catch (const Error& e) {
            // Preparing reads the schema again when another process has changed it.
            if (e.Number() == errRecordLocked) {
                throw TableLockedError(conn_->path(), table);
            }
            throw;
        }
        if (sqlite3_stmt_readonly(select.get()) == 0) {
            throw Error(errInvalidArgument, ErrorKind::NotASelect,
                        {{}, {}, {}, {}, {QString::fromUtf8(sql)}});
        }
        auto rs = std::make_shared<SqliteRecordset>(conn_, type == dbOpenDynaset, table,
                                                    std::move(select));
        rs->Start();
        return rs;
    }

    std::shared_ptr<Connection> conn_;
};

}  // namespace

namespace {

Error FileError(int32_t number, ErrorKind kind, const QString& path, const QString& message = {}) {
    return Error(number, kind, {path, {}, {}, message, {}});
}

// The header was checked before; reading the schema proves the rest of the file (a truncated or
// damaged file fails here) and that no other process holds it locked.
void CheckReadable(sqlite3* db, const QString& path) {
    Statement check;
    int code =
        sqlite3_prepare_v2(db, "SELECT count(*) FROM sqlite_master", -1, check.out(), nullptr);
    if (code == SQLITE_OK) {
        code = sqlite3_step(check.get()) == SQLITE_ROW ? SQLITE_OK : sqlite3_extended_errcode(db);
    }
    if (code == SQLITE_OK) {
        return;
    }
    switch (code & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
            throw FileError(errDatabaseLocked, ErrorKind::FileLocked, path);
        case SQLITE_NOTADB:
        case SQLITE_CORRUPT:
        case SQLITE_FORMAT:
            throw FileError(errUnrecognisedFormat, ErrorKind::DamagedFile, path);
        default:
            throw FileError(errCannotOpenFile, ErrorKind::CannotOpen, path, ErrorMessage(db));
    }
}

void CheckWritable(sqlite3* db, const QString& path) {
    if (sqlite3_db_readonly(db, "main") == 1) {
        throw FileError(errCannotOpenFile, ErrorKind::FileNotWritable, path);
    }
#ifdef Q_OS_UNIX
    // Saving writes a journal next to the file: in a folder that cannot be written every save
    // would fail, perhaps after the other database of a run has been changed.
    const QString folder = QFileInfo(path).absolutePath();
    if (::access(QFile::encodeName(folder).constData(), W_OK) != 0) {
        throw Error(errCannotOpenFile, ErrorKind::FolderNotWritable, {path, {}, {}, {}, {folder}});
    }
#endif
}

// Another process's write lock (Dorvik or SolvanePlus still running) does not stop reading, so it
// would show only at the first save. Taking the write lock once and giving it back sees it now,
// before anything is changed.
void CheckNotLocked(Connection& conn) {
    if (const int lock = conn.Exec("BEGIN IMMEDIATE"); lock != SQLITE_OK) {
        if ((lock & 0xff) == SQLITE_BUSY || (lock & 0xff) == SQLITE_LOCKED) {
            throw FileError(errDatabaseLocked, ErrorKind::FileLocked, conn.path());
        }
        throw conn.ErrorNow(lock);
    }
    conn.Exec("ROLLBACK");
}

}  // namespace

std::shared_ptr<Database> OpenSqliteDatabase(const QString& path, const OpenOptions& options) {
    // An absolute path never reads as a "file:" URI, which this SQLite build would otherwise
    // accept.
    const QByteArray name = QFileInfo(path).absoluteFilePath().toUtf8();
    sqlite3* db = nullptr;
    // Read and write only: never create the file.
    const int rc = sqlite3_open_v2(
        name.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_EXRESCODE,
        nullptr);
    if (rc != SQLITE_OK) {
        const QString message =
            db != nullptr ? ErrorMessage(db) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close(db);
        throw FileError(errCannotOpenFile, ErrorKind::CannotOpen, path, message);
    }
    auto conn = std::make_shared<Connection>(db, path, options);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, static_cast<int>(options.engine.busyTimeout.count()));
    CheckReadable(db, path);
    CheckWritable(db, path);
    CheckNotLocked(*conn);
    return std::make_shared<SqliteDatabase>(std::move(conn));
}

}  // namespace detail
}  // namespace dao
