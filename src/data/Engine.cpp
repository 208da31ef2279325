// The engine's object model: errors, values, fields, the engine itself and the options in force
// for the length of a scope, and the choice of a driver by a file's first bytes.

#include "data/Engine.h"

#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <system_error>
#include <thread>

#include "data/Drivers.h"
#include "data/SqlText.h"

namespace dao {

Error::Error(int32_t number, ErrorKind kind, ErrorContext context, const Error* cause)
    : number_(number),
      kind_(kind),
      context_(std::make_shared<const ErrorContext>(std::move(context))),
      description_(DescribeEngineError(kind, *context_,
                                       cause != nullptr ? cause->Description() : QString())) {
    what_ = std::to_string(number_) + " " + description_.toStdString();
}

Error::Error(int32_t number, QString description)
    : number_(number),
      kind_(ErrorKind::Given),
      context_(std::make_shared<const ErrorContext>()),
      description_(std::move(description)) {
    what_ = std::to_string(number_) + " " + description_.toStdString();
}

void ThrowObjectNotSetError() {
    throw Error(errObjectNotSet, ErrorKind::ObjectNotSet);
}

// ---- Value

Value Value::Text(std::string utf8) {
    Value v;
    v.type_ = Type::Text;
    v.bytes_ = std::move(utf8);
    return v;
}

Value Value::Text(const QString& text) {
    return Text(text.toStdString());
}

Value Value::Blob(std::string bytes) {
    Value v;
    v.type_ = Type::Blob;
    v.bytes_ = std::move(bytes);
    return v;
}

void Value::SetNull() {
    type_ = Type::Null;
    int_ = 0;
    real_ = 0.0;
    bytes_.clear();
}

void Value::SetInteger(int64_t v) {
    SetNull();
    type_ = Type::Integer;
    int_ = v;
}

void Value::SetReal(double v) {
    SetNull();
    type_ = Type::Real;
    real_ = v;
}

void Value::SetText(const char* utf8, size_t size) {
    SetNull();
    type_ = Type::Text;
    bytes_.assign(utf8, size);
}

void Value::SetBlob(const char* bytes, size_t size) {
    SetNull();
    type_ = Type::Blob;
    bytes_.assign(bytes, size);
}

int64_t Value::toInt() const {
    switch (type_) {
        case Type::Integer:
            return int_;
        case Type::Real:
            return static_cast<int64_t>(real_);
        case Type::Text:
            return std::strtoll(bytes_.c_str(), nullptr, 10);
        default:
            return 0;
    }
}

double Value::toReal() const {
    switch (type_) {
        case Type::Integer:
            return static_cast<double>(int_);
        case Type::Real:
            return real_;
        case Type::Text:
            return std::strtod(bytes_.c_str(), nullptr);
        default:
            return 0.0;
    }
}

QString Value::toString() const {
    switch (type_) {
        case Type::Integer:
            return QString::number(int_);
        case Type::Real:
            return QString::number(real_, 'g', 17);
        case Type::Text:
        case Type::Blob:
            return QString::fromUtf8(bytes_.data(), static_cast<qsizetype>(bytes_.size()));
        default:
            return {};
    }
}

bool Value::operator==(const Value& other) const {
    if (type_ != other.type_) {
        return false;
    }
    switch (type_) {
        case Type::Null:
            return true;
        case Type::Integer:
            return int_ == other.int_;
        case Type::Real:
            return real_ == other.real_;
        default:
            return bytes_ == other.bytes_;
    }
}

// ---- Database

std::shared_ptr<Recordset> Database::OpenRecordset(const QString& source, int32_t type) {
    const QString table = detail::sql::TableOfSelectAll(source);
    return table.isEmpty() ? OpenQuery(source, type) : OpenTable(table, type);
}

void Database::CheckRecordsetType(int32_t type) {
    if (type != dbOpenSnapshot && type != dbOpenDynaset) {
        throw Error(errInvalidArgument, ErrorKind::InvalidRecordsetType,
                    {{}, {}, {}, {}, {QString::number(type)}});
    }
}

// ---- Fields and Field

void detail::CheckFieldPosition(int16_t position, int16_t count) {
    if (position < 0 || position >= count) {
        throw Error(errItemNotFound, ErrorKind::ItemNotFoundAt,
                    {{}, {}, {}, {}, {QString::number(position)}});
    }
}

int16_t Fields::Count() const {
    return rs_->FieldCount();
}

Field Fields::Item(int16_t position) const {
    detail::CheckFieldPosition(position, rs_->FieldCount());
    return Field(rs_, position);
}

Field Fields::Item(const QString& name) const {
    const int16_t position = rs_->FieldPosition(name);
    if (position < 0) {
        throw Error(errItemNotFound, ErrorKind::ItemNotFoundNamed, {{}, {}, name, {}, {}});
    }
    return Field(rs_, position);
}

QString Field::Name() const {
    return rs_->FieldName(index_);
}
Value Field::GetValue() const {
    return rs_->FieldValue(index_);
}
void Field::SetValue(const Value& v) const {
    rs_->SetFieldValue(index_, v);
}

// ---- DBEngine

namespace {

// A database that counts itself among its engine's open databases for as long as it is
// referenced.
struct CountedDatabase {
    CountedDatabase(std::shared_ptr<Database> d, std::shared_ptr<std::atomic<int>> c)
        : db(std::move(d)), count(std::move(c)) {
        ++*count;
    }
    ~CountedDatabase() { --*count; }
    CountedDatabase(const CountedDatabase&) = delete;
    CountedDatabase& operator=(const CountedDatabase&) = delete;
    std::shared_ptr<Database> db;
    std::shared_ptr<std::atomic<int>> count;
};

std::shared_ptr<Database> Counted(std::shared_ptr<Database> db,
                                  std::shared_ptr<std::atomic<int>> count) {
    auto holder = std::make_shared<CountedDatabase>(std::move(db), std::move(count));
    Database* raw = holder->db.get();
    return std::shared_ptr<Database>(std::move(holder), raw);
}

}  // namespace

DBEngine::DBEngine(EngineOptions options)
    : options_(std::move(options)), openDatabases_(std::make_shared<std::atomic<int>>(0)) {}

// ---- Options for the length of a scope

namespace {
// The innermost scope alive on this thread.
thread_local const EngineOptionsScope* t_innermostScope = nullptr;
// How often the waiting thread calls back while another thread does the engine's work.
constexpr auto kBusyCallInterval = std::chrono::milliseconds(10);
// How much of a file's beginning tells its kind.
constexpr qint64 kHeaderBytes = 100;
}  // namespace

EngineOptionsScope::EngineOptionsScope(EngineOptions options)
    : options_(std::move(options)), outer_(t_innermostScope) {
    t_innermostScope = this;
}

EngineOptionsScope::~EngineOptionsScope() {
    t_innermostScope = outer_;
}

const EngineOptions* EngineOptionsScope::Current() {
    return t_innermostScope != nullptr ? &t_innermostScope->options_ : nullptr;
}

detail::OpenOptions::OpenOptions(EngineOptions options)
    : engine(std::move(options)), openingThread(std::this_thread::get_id()) {}

void detail::OpenOptions::KeepBusyWhile(const std::function<void()>& work) const {
    if (!engine.busyCallback || std::this_thread::get_id() != openingThread) {
        work();
        return;
    }
    // A commit waits on the disk's sync, which no step of SQLite's own can interrupt to call
    // back; the work goes to another thread while this one keeps calling back. The callback
    // never touches the engine, so the connection is used by one thread at a time.
    std::future<void> done;
    try {
        done = std::async(std::launch::async, work);
    } catch (const std::system_error&) {
        work();  // no thread to be had: the work is done all the same, only without painting
        return;
    }
    while (done.wait_for(kBusyCallInterval) != std::future_status::ready) {
        try {
            engine.busyCallback();
        } catch (...) {
            // A window that failed to paint once changes nothing the engine does.
        }
    }
    done.get();
}

std::shared_ptr<Database> DBEngine::OpenDatabase(const QString& path, int16_t /*options*/) {
    // Options 0 is the only mode the tool uses: shared, read and write.
    const QFileInfo info(path);
    const auto fail = [&path](int32_t number, ErrorKind kind) {
        return Error(number, kind, {path, {}, {}, {}, {}});
    };
    if (path.isEmpty() || !info.exists()) {
        throw fail(errFileNotFound, ErrorKind::FileNotFound);
    }
    if (info.isDir()) {
        throw fail(errUnrecognisedFormat, ErrorKind::FolderInsteadOfFile);
    }
    // A pipe would keep the open below waiting for a writer forever, and a device is no database.
    if (!info.isFile()) {
        throw fail(errUnrecognisedFormat, ErrorKind::NotARegularFile);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw fail(errCannotOpenFile, ErrorKind::FileNotReadable);
    }
    const QByteArray head = file.read(kHeaderBytes);
    file.close();
    if (head.isEmpty()) {
        throw fail(errUnrecognisedFormat, ErrorKind::EmptyFile);
    }

    const EngineOptions* scoped = EngineOptionsScope::Current();
    const detail::OpenOptions opened(scoped != nullptr ? *scoped : options_);
    switch (detail::DetectFileKind(head)) {
        case detail::FileKind::Sqlite:
            detail::CheckSqlitePathLength(path);
            if (opened.engine.sqliteThroughOdbc) {
                return Counted(detail::OpenOdbcDatabase(path, detail::OdbcTarget::Sqlite, opened),
                               openDatabases_);
            }
            return Counted(detail::OpenSqliteDatabase(path, opened), openDatabases_);
        case detail::FileKind::Jet:
            return Counted(detail::OpenOdbcDatabase(path, detail::OdbcTarget::Access, opened),
                           openDatabases_);
        case detail::FileKind::Unknown:
            break;
    }
    throw fail(errUnrecognisedFormat, ErrorKind::UnknownFormat);
}

namespace detail {

QString FoldedName(const QString& name, NameFolding folding) {
    if (folding == NameFolding::Unicode) {
        return name.toCaseFolded();
    }
    QString folded = name;
    for (QChar& c : folded) {
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) {
            c = QChar(c.unicode() + ('a' - 'A'));
        }
    }
    return folded;
}

void CheckSameFile(const QString& path, const std::optional<FileIdentity>& opened) {
    if (opened && IdentityOf(path) != opened) {
        throw Error(errFileMoved, ErrorKind::FileMoved, {path, {}, {}, {}, {}});
    }
}

FileKind DetectFileKind(const QByteArray& head) {
    static const QByteArray sqliteMagic("SQLite format 3\0", 16);
    // A Jet or ACE file names its format after a 4-byte version field.
    constexpr qsizetype kJetTagOffset = 4;
    static const QByteArray jetTag("Standard Jet DB");
    static const QByteArray aceTag("Standard ACE DB");
    if (head.startsWith(sqliteMagic)) {
        return FileKind::Sqlite;
    }
    const QByteArray tag = head.mid(kJetTagOffset, jetTag.size());
    return tag == jetTag || tag == aceTag ? FileKind::Jet : FileKind::Unknown;
}

}  // namespace detail

}  // namespace dao
