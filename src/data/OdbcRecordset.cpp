// A recordset over ODBC: its cursor, moved and read again as the caller navigates, and the rows it
// saves.

#include "data/OdbcRecordset.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <QStringList>
#include <algorithm>
#include <limits>

#include "data/OdbcApi.h"
#include "data/SqlText.h"

namespace dao::detail::odbc {

OdbcRecordset::OdbcRecordset(std::shared_ptr<Connection> connection, QString source, QString table,
                             bool updatable)
    : conn_(std::move(connection)),
      source_(std::move(source)),
      table_(std::move(table)),
      updatable_(updatable) {
    RunCursor(Operation::OpenRecordset);
    const QSqlRecord record = cursor_->record();
    const int count = std::min(record.count(), int{std::numeric_limits<int16_t>::max()});
    for (int i = 0; i < count; ++i) {
        const QString name = ColumnName(record.fieldName(i));
        names_ << name;
        types_ << record.field(i).metaType();
        // The driver's own type: SQL_NUMERIC (Jet's Currency) and SQL_DECIMAL are read as
        // exact text in high-precision mode; every other number as a number.
        const int sqlType = record.field(i).typeID();
        exact_.push_back(sqlType == SQL_NUMERIC || sqlType == SQL_DECIMAL);
        // The first of two same-named columns wins, as in a lookup by name.
        positions_.insert(FoldedName(name, conn_->Folding()), static_cast<int16_t>(i));
    }
    ReadDatesAsText();
    if (Fetch(Operation::OpenRecordset, true)) {
        position_ = 0;
        eof_ = false;
        visited_ = 1;
    } else {
        FinishCursor();
    }
    conn_->Register(this);
}

void OdbcRecordset::ReadDatesAsText() {
    // QODBC makes a date and time into a QDateTime in local time, which moves a time that falls
    // in a daylight-saving gap (Korea had them in 1987 and 1988). A whole table's date columns
    // are read as the database's own text instead, and written back from that text.
    if (table_.isEmpty() || !std::any_of(types_.begin(), types_.end(), [](QMetaType t) {
            return t.id() == QMetaType::QDateTime;
        })) {
        return;
    }
    QStringList columns;
    for (qsizetype i = 0; i < names_.size(); ++i) {
        const QString quoted = conn_->QuoteName(names_[i]);
        if (types_[i].id() != QMetaType::QDateTime) {
            columns << quoted;
        } else if (conn_->IsSqlite()) {
            columns << QStringLiteral("CAST(%1 AS TEXT) AS %1").arg(quoted);
        } else {
            // Jet's Format, with "nn" for minutes:
            // https://learn.microsoft.com/en-us/office/vba/language/reference/user-interface-help/format-function-visual-basic-for-applications
            columns << QStringLiteral(
                           "IIf(%1 Is Null, Null, Format(%1, 'yyyy-mm-dd hh:nn:ss')) AS %1")
                           .arg(quoted);
        }
    }
    source_ = QStringLiteral("SELECT ") + columns.join(QStringLiteral(", ")) +
              QStringLiteral(" FROM ") + conn_->QuoteName(table_);
    RunCursor(Operation::OpenRecordset);
}

OdbcRecordset::~OdbcRecordset() {
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

bool OdbcRecordset::Eof() {
    EnsureOpen();
    return eof_;
}

void OdbcRecordset::MoveFirst() {
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

void OdbcRecordset::MoveLast(int32_t /*options*/) {
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

void OdbcRecordset::MoveNext() {
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

int32_t OdbcRecordset::RecordCount() {
    EnsureOpen();
    return static_cast<int32_t>(std::min<int64_t>(visited_, std::numeric_limits<int32_t>::max()));
}

void OdbcRecordset::AddNew() {
    EnsureOpen();
    EnsureUpdatable();
    pending_ = true;
    pendingValues_.assign(static_cast<size_t>(names_.size()), std::nullopt);
}

void OdbcRecordset::Update(int32_t /*type*/, bool /*force*/) {
    CheckPending();
    conn_->Begin(Operation::Update);
    Diagnostic failure;
    if (!Store(&failure)) {
        // The row stays pending. The rows saved before it are committed now, so that nothing
        // this failure does to the transaction can take them along; a file that has gone says
        // so, whatever the driver made of it.
        conn_->Commit();
        conn_->CheckIdentity();
        throw conn_->Failed(failure, Operation::Update, table_);
    }
    if (inserts_.LastChanged() == 0) {
        throw IgnoredError();  // nothing was stored; the row stays pending
    }
    try {
        conn_->RowSaved();
    } catch (Error& e) {
        // The row being saved fails with its batch and stays pending; the others were saved
        // earlier.
        e.WithRowsLost(e.RowsLost() - 1);
        throw;
    }
    pending_ = false;
    pendingValues_.clear();
}

std::vector<Value> OdbcRecordset::TryPendingRow() {
    CheckPending();
    if (!conn_->SupportsTransactions()) {
        throw Error(errDriverFailure, ErrorKind::DriverFailure,
                    {.file = conn_->Path(),
                     .table = table_,
                     .driverText = QStringLiteral("no transactions")});
    }
    // The try is rolled back: the rows saved before it are committed first, so that the
    // rollback cannot take them along.
    conn_->Commit();
    conn_->Begin(Operation::Update);
    Diagnostic failure;
    const bool stored = Store(&failure);
    const int64_t changed = inserts_.LastChanged();
    std::vector<Value> readBack;
    if (stored && changed != 0) {
        readBack = ReadBackStored();
    }
    conn_->Rollback();
    if (!stored) {
        throw conn_->Failed(failure, Operation::Update, table_);
    }
    if (changed == 0) {
        throw IgnoredError();
    }
    return readBack;
}

std::vector<Value> OdbcRecordset::ReadBackStored() {
    // The row just inserted: by SQLite's last rowid, or by the values of the table's key.
    QString where;
    QVariantList keyValues;
    if (conn_->IsSqlite()) {
        where = QStringLiteral(" WHERE rowid = last_insert_rowid()");
    } else {
        const QStringList keys = conn_->KeyColumns(table_);
        if (keys.isEmpty()) {
            return {};
        }
        QStringList terms;
        for (const QString& key : keys) {
            qsizetype position = 0;
            while (position < names_.size() && conn_->QuoteName(names_[position]) != key) {
                ++position;
            }
            if (position == names_.size()) {
                return {};
            }
            const auto& v = pendingValues_[static_cast<size_t>(position)];
            if (!v || v->isNull()) {
                return {};
            }
            terms << key + QStringLiteral(" = ?");
            keyValues << ToVariant(*v, types_[position]);
        }
        where = QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
    }
    QSqlQuery query(conn_->Db());
    query.setForwardOnly(true);
    if (!query.prepare(sql::WithoutTrailingSemicolons(source_) + where)) {
        return {};
    }
    for (int i = 0; i < keyValues.size(); ++i) {
        query.bindValue(i, keyValues[i]);
    }
    if (!query.exec() || !query.next() || query.record().count() != names_.size()) {
        return {};
    }
    std::vector<Value> row;
    row.reserve(static_cast<size_t>(names_.size()));
    for (int i = 0; i < names_.size(); ++i) {
        row.push_back(query.isNull(i)
                          ? Value()
                          : FromColumn(query.value(i), types_[i], exact_[static_cast<size_t>(i)]));
    }
    return row;
}

void OdbcRecordset::CheckPending() const {
    EnsureOpen();
    EnsureUpdatable();
    if (!pending_) {
        throw NothingPendingError();
    }
}

bool OdbcRecordset::Store(Diagnostic* failure) {
    QStringList columns;
    QVariantList values;
    for (qsizetype i = 0; i < names_.size(); ++i) {
        if (const auto& v = pendingValues_[static_cast<size_t>(i)]) {
            columns << conn_->QuoteName(names_[i]);
            // SQLite keeps a date as the text it is given; the text read is the text written.
            const bool keepText = conn_->IsSqlite() && types_[i].id() == QMetaType::QDateTime;
            values << ToVariant(*v, keepText ? QMetaType() : types_[i]);
        }
    }
    return inserts_.Insert(*conn_, conn_->QuoteName(table_), columns, values, failure);
}

Error OdbcRecordset::IgnoredError() const {
    return Error(errRowIgnored, ErrorKind::RowIgnored, {.file = conn_->Path(), .table = table_});
}

int32_t OdbcRecordset::EditMode() {
    EnsureOpen();
    return pending_ ? dbEditAdd : dbEditNone;
}

void OdbcRecordset::CancelUpdate(int32_t /*type*/) {
    EnsureOpen();
    if (!pending_) {
        throw NothingPendingError();
    }
    pending_ = false;
    pendingValues_.clear();
}

int16_t OdbcRecordset::FieldCount() {
    EnsureOpen();
    return static_cast<int16_t>(names_.size());
}

QString OdbcRecordset::FieldName(int16_t position) {
    EnsureOpen();
    CheckPosition(position);
    return names_[position];
}

int16_t OdbcRecordset::FieldPosition(const QString& name) {
    EnsureOpen();
    return positions_.value(FoldedName(name, conn_->Folding()), int16_t{-1});
}

Value OdbcRecordset::FieldValue(int16_t position) {
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

void OdbcRecordset::SetFieldValue(int16_t position, const Value& v) {
    EnsureOpen();
    EnsureUpdatable();
    CheckPosition(position);
    if (!pending_) {
        throw NothingPendingError();
    }
    pendingValues_[static_cast<size_t>(position)] = v;
}

void OdbcRecordset::Close() {
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

void OdbcRecordset::Detach() {
    cursor_.reset();
    inserts_.Clear();
    closed_ = true;
    pending_ = false;
}

void OdbcRecordset::EnsureOpen() const {
    if (closed_ || !conn_ || !conn_->IsOpen()) {
        throw ObjectClosedError();
    }
}

void OdbcRecordset::EnsureUpdatable() const {
    if (!updatable_) {
        throw Error(errReadOnly, ErrorKind::SnapshotReadOnly);
    }
    if (table_.isEmpty()) {
        throw Error(errReadOnly, ErrorKind::QueryReadOnly, {.details = {source_}});
    }
}

void OdbcRecordset::CheckPosition(int16_t position) const {
    detail::CheckFieldPosition(position, static_cast<int16_t>(names_.size()));
}

void OdbcRecordset::Release() {
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

void OdbcRecordset::RunCursor(Operation operation) {
    cursor_.reset();
    auto cursor = std::make_unique<QSqlQuery>(conn_->Db());
    // Forward-only: the driver streams the rows instead of holding the whole table.
    cursor->setForwardOnly(true);
    if (!cursor->exec(source_)) {
        const Diagnostic failure = Diagnose(*cursor);
        throw conn_->Failed(failure, operation, table_);
    }
    if (!cursor->isSelect()) {
        throw Error(errInvalidArgument, ErrorKind::NotASelect, {.details = {source_}});
    }
    cursor_ = std::move(cursor);
    cursorRows_ = 0;
    cursorGeneration_ = conn_->Generation();
}

bool OdbcRecordset::Fetch(Operation operation, bool read) {
    if (!cursor_) {
        return false;
    }
    if (!cursor_->next()) {
        if (!cursor_->lastError().isValid()) {
            return false;
        }
        const Diagnostic failure = Diagnose(*cursor_);
        if (cursorGeneration_ == conn_->Generation()) {
            throw conn_->Failed(failure, operation, table_);
        }
        // A commit on this connection can close open cursors (drivers differ): run the
        // source again and skip the rows already read.
        const int64_t done = cursorRows_;
        RunCursor(operation);
        for (int64_t i = 0; i < done; ++i) {
            if (!cursor_->next()) {
                if (cursor_->lastError().isValid()) {
                    throw conn_->Failed(Diagnose(*cursor_), operation, table_);
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
            row_.push_back(cursor_->isNull(i) ? Value()
                                              : FromColumn(cursor_->value(i), types_[i],
                                                           exact_[static_cast<size_t>(i)]));
        }
    }
    return true;
}

std::optional<int64_t> OdbcRecordset::CountRows() {
    const QString sql = table_.isEmpty()
                            ? QStringLiteral("SELECT COUNT(*) FROM (%1) counted")
                                  .arg(sql::WithoutTrailingSemicolons(source_))
                            : QStringLiteral("SELECT COUNT(*) FROM ") + conn_->QuoteName(table_);
    QSqlQuery query(conn_->Db());
    query.setForwardOnly(true);
    if (query.exec(sql) && query.next()) {
        return query.value(0).toLongLong();
    }
    const Diagnostic failure = Diagnose(query);
    if (detail::odbc::Classify(failure) == Failure::Locked) {
        throw conn_->Failed(failure, Operation::Read, table_);
    }
    return std::nullopt;
}

void OdbcRecordset::WalkToEnd() {
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

void OdbcRecordset::FetchDeferredLast() {
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

}  // namespace dao::detail::odbc
