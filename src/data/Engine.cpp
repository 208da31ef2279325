// The engine's object model: databases, fields, the engine itself and the options in force for
// the length of a scope, and the choice of a driver by a file's first bytes. Values, errors and
// the wait that keeps a window painting have files of their own.

#include "data/Engine.h"

#include <QFile>
#include <QFileInfo>
#include <atomic>
#include <thread>

#include "data/Drivers.h"
#include "data/SqlText.h"

namespace dao {

void ThrowObjectNotSetError() {
    throw Error(errObjectNotSet, ErrorKind::ObjectNotSet);
}

// ---- Database

std::shared_ptr<Recordset> Database::OpenRecordset(const QString& source, int32_t type) {
    const QString table = detail::sql::TableOfSelectAll(source);
    return table.isEmpty() ? OpenQuery(source, type) : OpenTable(table, type);
}

void Database::CheckRecordsetType(int32_t type) {
    if (type != dbOpenSnapshot && type != dbOpenDynaset) {
        throw Error(errInvalidArgument, ErrorKind::InvalidRecordsetType,
                    {.details = {QString::number(type)}});
    }
}

// ---- Fields and Field

void detail::CheckFieldPosition(int16_t position, int16_t count) {
    if (position < 0 || position >= count) {
        throw Error(errItemNotFound, ErrorKind::ItemNotFoundAt,
                    {.details = {QString::number(position)}});
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
        throw Error(errItemNotFound, ErrorKind::ItemNotFoundNamed, {.column = name});
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

void Database::RestoreFrom(const QString& path) {
    throw Error(errCannotOpenFile, ErrorKind::CopyFailed, {.file = path, .details = {Name()}});
}

std::shared_ptr<Database> DBEngine::OpenDatabase(const QString& path, int16_t options) {
    const QFileInfo info(path);
    const auto fail = [&path](int32_t number, ErrorKind kind) {
        return Error(number, kind, {.file = path});
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
    detail::OpenOptions opened(scoped != nullptr ? *scoped : options_);
    opened.exclusive = (options & dbExclusive) != 0;
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
        throw Error(errFileMoved, ErrorKind::FileMoved, {.file = path});
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

JetFormat DetectJetFormat(const QByteArray& head) {
    // The header's version field at 0x14: 0 for Jet 3, 1 for Jet 4, 2 and above for the ACE
    // formats of Access 2007 and later (the page layout of the .mdb/.accdb header, as mdbtools
    // documents it: https://github.com/mdbtools/mdbtools/blob/dev/HACKING.md).
    constexpr qsizetype kVersionOffset = 0x14;
    if (DetectFileKind(head) != FileKind::Jet || head.size() <= kVersionOffset) {
        return JetFormat::Unknown;
    }
    switch (static_cast<unsigned char>(head.at(kVersionOffset))) {
        case 0:
            return JetFormat::Jet3;
        case 1:
            return JetFormat::Jet4;
        default:
            return JetFormat::Ace;
    }
}

QString JetFormatName(JetFormat format) {
    switch (format) {
        case JetFormat::Jet3:
            return QStringLiteral("Jet 3 (Access 97)");
        case JetFormat::Jet4:
            return QStringLiteral("Jet 4 (Access 2000-2003)");
        case JetFormat::Ace:
            return QStringLiteral("ACE (Access 2007 이후)");
        case JetFormat::Unknown:
            break;
    }
    return QStringLiteral("알 수 없는 Jet 형식");
}

}  // namespace detail

}  // namespace dao
