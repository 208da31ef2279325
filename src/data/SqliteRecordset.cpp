// A recordset over SQLite: navigation over its prepared SELECT and the rows it saves through
// prepared INSERTs.

#include "data/SqliteRecordset.h"

#include <algorithm>

#include "data/SqlText.h"

namespace dao::detail::sqlite {

SqliteRecordset::SqliteRecordset(std::shared_ptr<Connection> conn, bool dynaset, QString table,
                                 Statement select)
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
        const QString folded = FoldedName(names_.back(), NameFolding::Ascii);
        if (!folded_.contains(folded)) {
            folded_.insert(folded, i);
        }
    }
    pending_.resize(static_cast<size_t>(fieldCount_));
    written_.assign(static_cast<size_t>(fieldCount_), 0);
    if (dynaset_ && !table_.isEmpty()) {
        strictTypes_ = StrictColumnTypes(conn_->Db(), table_, select_.get(), fieldCount_);
    }
    conn_->Register(this);
}

SqliteRecordset::~SqliteRecordset() {
    if (!closed_) {
        Release();
        conn_->CommitQuietly();
    }
}

void SqliteRecordset::Start() {
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

bool SqliteRecordset::Eof() {
    CheckOpen();
    return eof_;
}

void SqliteRecordset::MoveFirst() {
    CheckOpen();
    adding_ = false;
    if (dynaset_ ? !StepTo(0) : total_ == 0) {
        eof_ = true;
        throw NoCurrentRecordError();
    }
    pos_ = 0;
    eof_ = false;
}

void SqliteRecordset::MoveLast(int32_t /*options*/) {
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

void SqliteRecordset::MoveNext() {
    CheckOpen();
    adding_ = false;
    if (eof_) {
        throw NoCurrentRecordError();
    }
    ++pos_;
    eof_ = (!dynaset_ && total_ >= 0) ? pos_ >= total_ : !StepTo(pos_);
    visited_ = std::max(visited_, eof_ ? pos_ : pos_ + 1);
}

int32_t SqliteRecordset::RecordCount() {
    CheckOpen();
    const int64_t count = total_ >= 0 ? total_ : visited_;
    return static_cast<int32_t>(std::min<int64_t>(count, INT32_MAX));
}

void SqliteRecordset::AddNew() {
    CheckOpen();
    CheckUpdatable();
    // Values of an earlier pending row stay in the buffers (their memory is reused); only
    // the written flags say what this row holds.
    std::fill(written_.begin(), written_.end(), 0);
    adding_ = true;
}

void SqliteRecordset::Update(int32_t /*type*/, bool /*force*/) {
    CheckPending();
    conn_->BeginBatch();
    Store();
    conn_->RowSaved();  // may commit, and report a failed commit for this row too
    adding_ = false;
    if (total_ >= 0) {
        ++total_;
    }
}

std::vector<Value> SqliteRecordset::TryPendingRow() {
    CheckPending();
    // Inside the open batch, so that the try sees the rows saved before it.
    conn_->BeginBatch();
    if (const int rc = conn_->Exec("SAVEPOINT try_pending_row"); rc != SQLITE_OK) {
        throw conn_->ErrorNow(rc, table_);
    }
    const auto undo = [this] {
        if (sqlite3_get_autocommit(conn_->Db()) == 0) {
            conn_->Exec("ROLLBACK TO try_pending_row");
            conn_->Exec("RELEASE try_pending_row");
        }
    };
    std::vector<Value> stored;
    try {
        Store();
        stored = ReadBackStored();
    } catch (...) {
        undo();
        throw;
    }
    undo();
    return stored;
}

std::vector<Value> SqliteRecordset::ReadBackStored() {
    // The row just inserted, by its rowid; a table without one gives nothing back.
    const QByteArray sql = (QStringLiteral("SELECT * FROM \"") +
                            QString(table_).replace(QStringLiteral("\""), QStringLiteral("\"\"")) +
                            QStringLiteral("\" WHERE rowid = last_insert_rowid()"))
                               .toUtf8();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(conn_->Db(), sql.constData(), -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return {};
    }
    std::vector<Value> row;
    if (sqlite3_step(raw) == SQLITE_ROW && sqlite3_column_count(raw) == fieldCount_) {
        row.resize(static_cast<size_t>(fieldCount_));
        for (int i = 0; i < fieldCount_; ++i) {
            ReadColumn(raw, i, row[static_cast<size_t>(i)]);
        }
    }
    sqlite3_finalize(raw);
    return row;
}

void SqliteRecordset::CheckPending() const {
    CheckOpen();
    CheckUpdatable();
    if (!adding_) {
        throw NothingPendingError();
    }
}

void SqliteRecordset::Store() {
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
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) {
        sqlite3_reset(stmt);
        // A trigger's RAISE(IGNORE) ends the INSERT without an error and without a row.
        if (sqlite3_changes64(conn_->Db()) == 0) {
            throw Error(errRowIgnored, ErrorKind::RowIgnored,
                        {.file = conn_->Path(), .table = table_});
        }
        return;
    }
    const Error cause = conn_->ErrorNow(sqlite3_extended_errcode(conn_->Db()), table_);
    sqlite3_reset(stmt);
    const int64_t lost = conn_->TakeRolledBackRows();
    if (lost < 0) {
        throw cause;  // only this row's statement was undone; the row stays pending
    }
    throw Error(cause.Number(), ErrorKind::BatchRolledBack,
                {.file = conn_->Path(), .table = table_, .details = {QString::number(lost)}},
                &cause)
        .WithRowsLost(lost);
}

int32_t SqliteRecordset::EditMode() {
    CheckOpen();
    return adding_ ? dbEditAdd : dbEditNone;
}

void SqliteRecordset::CancelUpdate(int32_t /*type*/) {
    CheckOpen();
    if (!adding_) {
        throw NothingPendingError();
    }
    adding_ = false;
}

int16_t SqliteRecordset::FieldCount() {
    CheckOpen();
    return fieldCount_;
}

QString SqliteRecordset::FieldName(int16_t position) {
    CheckOpen();
    CheckPosition(position);
    return names_[static_cast<size_t>(position)];
}

int16_t SqliteRecordset::FieldPosition(const QString& name) {
    CheckOpen();
    const auto folded = folded_.constFind(FoldedName(name, NameFolding::Ascii));
    return folded == folded_.cend() ? int16_t{-1} : folded.value();
}

Value SqliteRecordset::FieldValue(int16_t position) {
    Value v;
    ReadFieldValue(position, v);
    return v;
}

void SqliteRecordset::ReadFieldValue(int16_t position, Value& out) {
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

void SqliteRecordset::SetFieldValue(int16_t position, const Value& v) {
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

void SqliteRecordset::Close() {
    if (closed_) {
        return;
    }
    Release();
    conn_->Commit();
}

void SqliteRecordset::Release() noexcept {
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

void SqliteRecordset::CheckOpen() const {
    if (closed_ || !conn_->IsOpen()) {
        throw ClosedError();
    }
}

void SqliteRecordset::CheckUpdatable() const {
    if (!dynaset_) {
        throw Error(errReadOnly, ErrorKind::SnapshotReadOnly);
    }
}

Error SqliteRecordset::StrictTypeError(size_t column, const Value& v) const {
    return Error(errDataTypeConversion, ErrorKind::ColumnTypeRefuses,
                 {.file = conn_->Path(),
                  .table = table_,
                  .column = table_ + QLatin1Char('.') + names_[column],
                  .details = {QLatin1String(StrictTypeName(strictTypes_[column])),
                              QLatin1String(ValueTypeName(v))}});
}

Error SqliteRecordset::OpenError(int rc) const {
    if (IsLockCode(rc)) {
        return TableLockedError(conn_->Path(), table_);
    }
    return conn_->ErrorNow(sqlite3_extended_errcode(conn_->Db()), table_);
}

bool SqliteRecordset::StepTo(int64_t row) {
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
        const int code = sqlite3_extended_errcode(conn_->Db());
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

int64_t SqliteRecordset::CountRows() {
    if (count_.get() == nullptr) {
        const QByteArray sql = table_.isEmpty() ? "SELECT count(*) FROM (" + SourceText() + ")"
                                                : "SELECT count(*) FROM " + QuoteName(table_);
        count_ = Prepare(*conn_, sql, table_);
    }
    sqlite3_stmt* stmt = count_.get();
    const int rc = sqlite3_step(stmt);
    const int64_t rows = rc == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : 0;
    const int code = sqlite3_extended_errcode(conn_->Db());
    sqlite3_reset(stmt);
    if (rc != SQLITE_ROW) {
        throw conn_->ErrorNow(code, table_);
    }
    return rows;
}

QByteArray SqliteRecordset::SourceText() const {
    return sql::WithoutTrailingSemicolons(QString::fromUtf8(sqlite3_sql(select_.get()))).toUtf8();
}

SqliteRecordset::CachedInsert& SqliteRecordset::InsertForWrittenColumns() {
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

}  // namespace dao::detail::sqlite
