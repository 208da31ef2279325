// The ODBC driver's database: action statements (replayed row by row where the Access driver
// fails them whole), recordsets, and the opening of a file through the installed drivers.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <atomic>
#include <map>
#include <memory>

#include "data/FileCopy.h"
#include "data/OdbcApi.h"
#include "data/OdbcConnection.h"
#include "data/OdbcRecordset.h"
#include "data/RowByRow.h"
#include "data/SqlText.h"

namespace dao::detail::odbc {

namespace {

const QString kOdbcPlugin = QStringLiteral("QODBC");

// The SQLite ODBC driver registers as "SQLite3" on Linux distributions and as "SQLite3 ODBC
// Driver" with its Windows installer.
const QStringList& SqliteDriverNames() {
    static const QStringList names = {QStringLiteral("SQLite3"),
                                      QStringLiteral("SQLite3 ODBC Driver")};
    return names;
}

std::atomic<quint64> g_connectionCounter{0};

QString ConnectionValue(const QString& value) {
    // A value with a separator or a brace goes in braces, with closing braces doubled.
    if (value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('{')) ||
        value.contains(QLatin1Char('}')) || value != value.trimmed()) {
        return QLatin1Char('{') +
               QString(value).replace(QStringLiteral("}"), QStringLiteral("}}")) + QLatin1Char('}');
    }
    return value;
}

// ---- Row-by-row replay

// A statement runs in a transaction of its own; one that a row's values refused has applied
// nothing and is replayed (RowByRow.h) over the rows' primary keys, or SQLite's rowid.
class OdbcRowByRow final : public detail::RowByRowTarget {
public:
    OdbcRowByRow(Connection& conn, QString table) : conn_(conn), table_(std::move(table)) {}

    bool ReplaysInsertSelect() const override { return true; }
    bool KnowsOrIgnore() const override { return conn_.IsSqlite(); }
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
            columns << conn_.QuoteName(ColumnName(record.fieldName(i)));
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

    std::optional<int64_t> Count(const QString& countSelect) override {
        QSqlQuery query(conn_.Db());
        query.setForwardOnly(true);
        if (query.exec(countSelect) && query.next()) {
            return query.value(0).toLongLong();
        }
        return std::nullopt;
    }

    StatementResult Run(const QString& statement, const QVariantList& parameters) override {
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
        StatementResult result;
        if (query.exec()) {
            result.changed = query.numRowsAffected();
            return result;
        }
        const Diagnostic failure = Diagnose(query);
        if (!detail::odbc::IsRowFailure(detail::odbc::Classify(failure))) {
            throw conn_.Failed(failure, Operation::Execute, table_);
        }
        result.refused = conn_.Failed(failure, Operation::Execute, table_);
        return result;
    }

    Error IgnoredError() const override {
        return Error(errRowIgnored, ErrorKind::RowIgnored,
                     {.file = QDir::toNativeSeparators(conn_.Path()), .table = table_});
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
        return conn_.Failed(Diagnose(query), Operation::Execute, table_);
    }

    Connection& conn_;
    QString table_;
    std::map<QString, std::unique_ptr<QSqlQuery>> prepared_;
};

// ---- Database

// Whether QODBC sends and reads text as wide characters on this connection: it does so only when
// its check of the driver passes, and sends narrow bytes otherwise.
// https://doc.qt.io/qt-6/qsqldriver.html#DriverFeature-enum (QSqlDriver::Unicode)
bool SendsWideText(Connection& c) {
    const QSqlDriver* driver = c.Db().driver();
    return driver != nullptr && driver->hasFeature(QSqlDriver::Unicode);
}

QString AnsiCodePage() {
#ifdef _WIN32
    return QString::number(GetACP());
#else
    return QStringLiteral("(Windows 아님)");
#endif
}

struct ConnectResult {
    std::shared_ptr<Connection> connection;
    Diagnostic failure;
    bool pluginFailed = false;
};
ConnectResult Connect(const QString& connectionString, const QString& path, OdbcTarget target);

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
        SetLastExecute({});
        Connection& c = *conn_;
        c.Commit();
        OdbcRowByRow target(c, sql::TableOfStatement(sql));
        try {
            SetLastExecute(detail::RunCounted(sql, target));
        } catch (const Error&) {
            c.CheckIdentity();  // a file that has gone says so, whatever the driver made of it
            throw;
        }
    }

    std::shared_ptr<Recordset> OpenTable(const QString& tableName, int32_t type) override {
        PrepareToOpen(type);
        const QString query = QStringLiteral("SELECT * FROM ") + conn_->QuoteName(tableName);
        return std::make_shared<OdbcRecordset>(conn_, query, tableName, type == dbOpenDynaset);
    }

    QString Name() const override { return path_; }

    QStringList TableNames() override {
        EnsureOpen();
        conn_->Commit();
        return conn_->Db().tables(QSql::Tables);
    }

    QStringList Describe() override {
        EnsureOpen();
        const OdbcApi& api = OdbcApi::Get();
        SQLHANDLE hdbc = SQL_NULL_HANDLE;
        if (const QSqlDriver* driver = conn_->Db().driver()) {
            const QVariant handle = driver->handle();
            if (handle.isValid() && handle.metaType() == QMetaType::fromType<void*>()) {
                hdbc = *static_cast<void* const*>(handle.constData());
            }
        }
        const auto info = [&api, hdbc](SQLUSMALLINT type) {
            const QString text = api.InfoText(hdbc, type);
            return text.isEmpty() ? QStringLiteral("(알 수 없음)") : text;
        };
        QStringList lines;
        lines << QStringLiteral("형식: %1")
                     .arg(conn_->IsSqlite() ? QStringLiteral("SQLite 3 (ODBC)") : conn_->Via());
        lines << QStringLiteral("드라이버: %1 %2").arg(info(SQL_DRIVER_NAME), info(SQL_DRIVER_VER));
        lines << QStringLiteral("데이터베이스: %1 %2").arg(info(SQL_DBMS_NAME), info(SQL_DBMS_VER));
        lines << QStringLiteral("ODBC 버전: 3 요청(%1), 드라이버 %2, 드라이버 관리자 %3")
                     .arg(QString::fromLatin1(kOdbc3Option), info(SQL_DRIVER_ODBC_VER),
                          info(SQL_ODBC_VER));
        lines << QStringLiteral("문자열 전송: %1")
                     .arg(SendsWideText(*conn_) ? QStringLiteral("유니코드(wide)")
                                                : QStringLiteral("바이트(narrow)"));
        lines << QStringLiteral("Windows ANSI 코드 페이지: %1").arg(AnsiCodePage());
        return lines;
    }

    void BackupTo(const QString& path) override {
        EnsureOpen();
        conn_->Commit();
        conn_->CheckIdentity();
        // The Access driver has no backup of its own; with nothing pending and the file held
        // open, its bytes are the database.
        try {
            CopyFileBytes(path_, path);
            return;
        } catch (const Error& e) {
            if (!conn_->IsAccess() || conn_->HasRecordsets() || e.Kind() != ErrorKind::CopyFailed ||
                e.Number() != errFileNotFound) {
                throw;
            }
        }
        CopyBetweenCloseAndReopen(path);
    }

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
    // Jet may hold a file opened exclusively with a sharing mode that refuses every other reader,
    // this process's own too: then the copy is made between a close and a reopen with the same
    // connection string. Whoever takes the file in between makes the reopen fail, and the caller
    // stops before it changes anything.
    void CopyBetweenCloseAndReopen(const QString& path) {
        const QString connectionString = conn_->Db().databaseName();
        const QString via = conn_->Via();
        std::exchange(conn_, nullptr)->Shutdown();
        std::optional<Error> copyFailure;
        try {
            CopyFileBytes(path_, path);
        } catch (const Error& e) {
            copyFailure = e;
        }
        ConnectResult reopened = Connect(connectionString, path_, OdbcTarget::Access);
        if (!reopened.connection) {
            throw detail::odbc::ToError(reopened.failure, Operation::Open, {}, path_, via);
        }
        reopened.connection->SetVia(via);
        conn_ = std::move(reopened.connection);
        if (copyFailure) {
            throw *copyFailure;
        }
    }

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

QByteArray ReadHead(const QString& path) {
    constexpr qint64 kHeadBytes = 128;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(kHeadBytes) : QByteArray();
}

QString NextConnectionName() {
    return QStringLiteral("dao-odbc-%1").arg(++g_connectionCounter);
}

// An error about the file being opened, which the message names in the platform's way.
Error OpenError(int32_t number, ErrorKind kind, const QString& path,
                const QString& driverText = {}) {
    return Error(number, kind, {.file = QDir::toNativeSeparators(path), .driverText = driverText});
}

ConnectResult Connect(const QString& connectionString, const QString& path, OdbcTarget target) {
    ConnectResult result;
    const QString name = NextConnectionName();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(kOdbcPlugin, name);
        if (!db.isValid()) {
            result.pluginFailed = true;
        } else {
            db.setConnectOptions(QString::fromLatin1(kOdbc3Option));
            // Currency and Decimal (SQL_NUMERIC, SQL_DECIMAL) as the driver's exact text, never
            // through a double.
            // https://learn.microsoft.com/en-us/sql/odbc/microsoft/microsoft-access-data-types
            db.setNumericalPrecisionPolicy(QSql::HighPrecision);
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

// Whether a driver said that it does not know the file's format: the next driver may.
bool FormatNotRecognised(const Diagnostic& failure) {
    return detail::odbc::Classify(failure) == Failure::NotADatabase;
}

std::shared_ptr<Database> OpenAccess(const QString& path, const QString& nativePath,
                                     const detail::OpenOptions& options) {
    const JetFormat format = DetectJetFormat(ReadHead(path));
    std::optional<Error> notRecognised;
    for (const QString& driver : Installed(AccessDriverOrder(format))) {
        const QString via = JetFormatName(format) + QStringLiteral(", ") + driver;
        ConnectResult result =
            Connect(AccessConnectionString(driver, nativePath, options.exclusive), path,
                    OdbcTarget::Access);
        if (result.pluginFailed) {
            throw OpenError(errInstallableIsam, ErrorKind::MissingOdbcPlugin, path);
        }
        if (result.connection) {
            result.connection->SetVia(via);
            // Korean text sent as narrow bytes would be stored garbled without an error: refused
            // before anything is read or written.
            if (!SendsWideText(*result.connection)) {
                result.connection.reset();
                throw Error(
                    errNarrowText, ErrorKind::NarrowText,
                    {.file = QDir::toNativeSeparators(path), .details = {driver}, .via = via});
            }
            return std::make_shared<OdbcDatabase>(std::move(result.connection));
        }
        if (FormatNotRecognised(result.failure)) {
            // A recent ACE driver refuses Jet 3 files that the Jet 4.0 driver reads, and the
            // other way round for ACE files: the file is called damaged only when no driver
            // knows it.
            if (!notRecognised) {
                notRecognised =
                    detail::odbc::ToError(result.failure, Operation::Open, {}, path, via);
            }
            continue;
        }
        if (detail::odbc::Classify(result.failure) != Failure::MissingDriver) {
            throw detail::odbc::ToError(result.failure, Operation::Open, {}, path, via);
        }
    }
    if (notRecognised) {
        throw *notRecognised;
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
    QString driverPath = QFileInfo(path).absoluteFilePath();
    if (options.engine.odbcSqlitePath) {
        driverPath = options.engine.odbcSqlitePath(driverPath);
    }
    QString uri =
        QString::fromLatin1(QUrl::fromLocalFile(driverPath).toEncoded(QUrl::FullyEncoded));
    uri.replace(QLatin1Char(';'), QLatin1String("%3B"));
    ConnectResult result;
    for (const QString& driver : Installed(SqliteDriverNames())) {
        const QString connection =
            QStringLiteral("DRIVER={%1};Database=%2;NoCreat=1;Timeout=%3;BigInt=1")
                .arg(driver, uri, QString::number(options.engine.busyTimeout.count()));
        result = Connect(connection, path, OdbcTarget::Sqlite);
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
    bool damaged = false;
    {
        QSqlQuery probe(result.connection->Db());
        probe.setForwardOnly(true);
        readable = probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master")) && probe.next();
        if (!readable) {
            failure = Diagnose(probe);
        } else {
            // Pages or indexes that do not hold together: refused as the C API driver does.
            damaged = probe.exec(QStringLiteral("PRAGMA quick_check")) && probe.next() &&
                      probe.value(0).toString() != QLatin1String("ok");
        }
    }
    if (damaged) {
        result.connection.reset();
        throw OpenError(errUnrecognisedFormat, ErrorKind::DamagedFile, path);
    }
    if (!readable) {
        result.connection.reset();  // released before the error goes up
        throw detail::odbc::ToError(failure, Operation::Open, {}, path);
    }
    return std::make_shared<OdbcDatabase>(std::move(result.connection));
}

}  // namespace

const char* const kOdbc3Option = "SQL_ATTR_ODBC_VERSION=SQL_OV_ODBC3";

QStringList AccessDriverOrder(JetFormat format) {
    // The Jet 4.0 driver ships with every (32-bit) Windows and reads Jet 3 and Jet 4 files; a
    // recent ACE driver refuses Jet 3 files. ACE files need the ACE driver (Access Database
    // Engine), which the Jet 4.0 driver cannot read. Driver names as the Access driver's page
    // gives them:
    // https://learn.microsoft.com/en-us/sql/odbc/microsoft/sqldriverconnect-access-driver
    static const QString jet = QStringLiteral("Microsoft Access Driver (*.mdb)");
    static const QString ace = QStringLiteral("Microsoft Access Driver (*.mdb, *.accdb)");
    switch (format) {
        case JetFormat::Jet3:
        case JetFormat::Jet4:
            return {jet, ace};
        case JetFormat::Ace:
            return {ace};
        case JetFormat::Unknown:
            break;
    }
    return {ace, jet};
}

QString AccessConnectionString(const QString& driver, const QString& nativePath, bool exclusive) {
    // Exclusive=1: the file is this connection's alone; Jet refuses it while anyone else has it
    // open, and admits nobody else until it is closed.
    // https://learn.microsoft.com/en-us/sql/odbc/microsoft/setting-options-programmatically-for-the-access-driver
    return QStringLiteral("DRIVER={%1};DBQ=%2;Exclusive=%3;ReadOnly=0")
        .arg(driver, ConnectionValue(nativePath),
             exclusive ? QStringLiteral("1") : QStringLiteral("0"));
}

}  // namespace dao::detail::odbc

namespace dao::detail {

std::shared_ptr<Database> OpenOdbcDatabase(const QString& path, OdbcTarget target,
                                           const OpenOptions& options) {
    using namespace odbc;
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
        return OpenAccess(path, nativePath, options);
    }
    return OpenSqlite(path, options);
}

}  // namespace dao::detail
