// The SQLite driver's database: action statements, recordsets, and the opening of a file with
// the checks that tell at once what would fail later.

#include <QFile>
#include <QFileInfo>
#include <QVariant>

#include "data/RowByRow.h"
#include "data/SqlText.h"
#include "data/SqliteConnection.h"
#include "data/SqliteRecordset.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace dao::detail {

namespace sqlite {

namespace {

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
            throw conn_.ErrorNow(sqlite3_extended_errcode(conn_.Db()));
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
        const int code = sqlite3_extended_errcode(conn_.Db());
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
        if (sqlite3_get_autocommit(conn_.Db()) == 0) {
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
            const int code = sqlite3_extended_errcode(conn_->Db());
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

    QString Name() const override { return conn_->Path(); }

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
                throw TableLockedError(conn_->Path(), table);
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
    switch (PrimaryCode(code)) {
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
        if (IsLockCode(lock)) {
            throw FileError(errDatabaseLocked, ErrorKind::FileLocked, conn.Path());
        }
        throw conn.ErrorNow(lock);
    }
    conn.Exec("ROLLBACK");
}

}  // namespace

}  // namespace sqlite

std::shared_ptr<Database> OpenSqliteDatabase(const QString& path, const OpenOptions& options) {
    using namespace sqlite;
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

}  // namespace dao::detail
