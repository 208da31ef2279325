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

Error::Error(int32_t number, QString description)
    : number_(number), description_(std::move(description)) {
    what_ = std::to_string(number_) + " " + description_.toStdString();
}

void ThrowObjectNotSetError() {
    throw Error(errObjectNotSet, QStringLiteral("개체 변수가 설정되지 않았습니다."));
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

// ---- Fields and Field

int16_t Fields::Count() const {
    return rs_->FieldCount();
}

Field Fields::Item(int16_t position) const {
    if (position < 0 || position >= rs_->FieldCount()) {
        throw Error(errItemNotFound,
                    QStringLiteral("이 컬렉션에서 %1번째 항목을 찾을 수 없습니다.").arg(position));
    }
    return Field(rs_, position);
}

Field Fields::Item(const QString& name) const {
    const int16_t position = rs_->FieldPosition(name);
    if (position < 0) {
        throw Error(errItemNotFound,
                    QStringLiteral("이 컬렉션에서 '%1' 항목을 찾을 수 없습니다.").arg(name));
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
std::atomic<int> g_enginesCreated{0};

std::atomic<int> g_liveDatabases{0};

// Keeps count of the databases that are still referenced anywhere, so that tests can prove a run
// leaves none behind, whatever the driver.
struct LiveDatabase {
    explicit LiveDatabase(std::shared_ptr<Database> d) : db(std::move(d)) { ++g_liveDatabases; }
    ~LiveDatabase() { --g_liveDatabases; }
    LiveDatabase(const LiveDatabase&) = delete;
    LiveDatabase& operator=(const LiveDatabase&) = delete;
    std::shared_ptr<Database> db;
};

std::shared_ptr<Database> Tracked(std::shared_ptr<Database> db) {
    auto holder = std::make_shared<LiveDatabase>(std::move(db));
    Database* raw = holder->db.get();
    return std::shared_ptr<Database>(std::move(holder), raw);
}

}  // namespace

DBEngine::DBEngine(EngineOptions options) : options_(std::move(options)) {
    ++g_enginesCreated;
}

int DBEngine::CreatedCount() {
    return g_enginesCreated.load();
}

// ---- Options for the length of a scope

namespace {
// The innermost scope alive on this thread.
thread_local const EngineOptionsScope* t_innermostScope = nullptr;
// How often the waiting thread calls back while another thread does the engine's work.
constexpr auto kBusyCallInterval = std::chrono::milliseconds(10);
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
    if (path.isEmpty() || !info.exists()) {
        throw Error(errFileNotFound, QStringLiteral("'%1' 파일을 찾을 수 없습니다.").arg(path));
    }
    if (info.isDir()) {
        throw Error(errUnrecognisedFormat,
                    QStringLiteral("'%1'은(는) 파일이 아니라 폴더입니다. 데이터베이스 파일이 "
                                   "아닙니다.")
                        .arg(path));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw Error(
            errCannotOpenFile,
            QStringLiteral("'%1' 파일을 열 수 없습니다. 읽기 권한을 확인하세요.").arg(path));
    }
    const QByteArray head = file.read(100);
    file.close();
    if (head.isEmpty()) {
        throw Error(errUnrecognisedFormat,
                    QStringLiteral("'%1' 파일이 비어 있습니다(0바이트). 데이터베이스 파일이 "
                                   "아닙니다.")
                        .arg(path));
    }

    const EngineOptions* scoped = EngineOptionsScope::Current();
    const detail::OpenOptions opened(scoped != nullptr ? *scoped : options_);
    switch (detail::DetectFileKind(head)) {
        case detail::FileKind::Sqlite:
            if (opened.engine.sqliteThroughOdbc) {
                return Tracked(detail::OpenOdbcDatabase(path, detail::OdbcTarget::Sqlite, opened));
            }
            return Tracked(detail::OpenSqliteDatabase(path, opened));
        case detail::FileKind::Jet:
            return Tracked(detail::OpenOdbcDatabase(path, detail::OdbcTarget::Access, opened));
        case detail::FileKind::Unknown:
            break;
    }
    throw Error(errUnrecognisedFormat,
                QStringLiteral("'%1'은(는) 인식할 수 없는 데이터베이스 형식입니다.").arg(path));
}

namespace detail {

FileKind DetectFileKind(const QByteArray& head) {
    static const QByteArray sqliteMagic("SQLite format 3\0", 16);
    if (head.startsWith(sqliteMagic)) {
        return FileKind::Sqlite;
    }
    if (head.size() >= 19) {
        const QByteArray tag = head.mid(4, 15);
        if (tag == "Standard Jet DB" || tag == "Standard ACE DB") {
            return FileKind::Jet;
        }
    }
    return FileKind::Unknown;
}

}  // namespace detail

namespace testing {
int LiveDatabases() {
    return g_liveDatabases.load();
}
}  // namespace testing

}  // namespace dao
