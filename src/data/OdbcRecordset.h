#pragma once

// A recordset over ODBC: a forward cursor over a table or a query, run again when it is moved back
// or when a commit closes it; a dynaset saves new rows through prepared INSERTs. A snapshot is
// therefore not a stable view here: it may see rows changed since it was opened.

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

#include "data/OdbcConnection.h"

namespace dao::detail::odbc {

class OdbcRecordset final : public Recordset {
public:
    // Opens `source`; `table` is the table it reads whole, or empty for another query.
    OdbcRecordset(std::shared_ptr<Connection> connection, QString source, QString table,
                  bool updatable);
    ~OdbcRecordset() override;
    bool Eof() override;
    // Runs the source again, unless the cursor still holds the first row (after MoveLast).
    void MoveFirst() override;
    // Counts the rows; the last row itself is read only when a field of it is.
    void MoveLast(int32_t /*options*/) override;
    void MoveNext() override;
    int32_t RecordCount() override;
    void AddNew() override;
    // A row that fails stays pending; the rows saved before it are committed first, so that the
    // failure cannot take them along.
    void Update(int32_t /*type*/, bool /*force*/) override;
    // Commits the rows saved before, then tries the row in a transaction that is rolled back.
    std::vector<Value> TryPendingRow() override;
    int32_t EditMode() override;
    void CancelUpdate(int32_t /*type*/) override;
    int16_t FieldCount() override;
    QString FieldName(int16_t position) override;
    int16_t FieldPosition(const QString& name) override;
    Value FieldValue(int16_t position) override;
    void SetFieldValue(int16_t position, const Value& v) override;
    void Close() override;

    // The connection is closing: the queries go first.
    void Detach();

private:
    static Error NoCurrentRecord() { return Error(errNoCurrentRecord, ErrorKind::NoCurrentRecord); }

    void EnsureOpen() const;
    void EnsureUpdatable() const;
    void CheckPending() const;
    // Runs the pending row's INSERT; false with `failure` filled when it fails.
    bool Store(Diagnostic* failure);
    Error IgnoredError() const;
    void CheckPosition(int16_t position) const;
    void Release();

    // Runs the source from its start.
    void RunCursor(Operation operation);
    void ReadDatesAsText();
    std::vector<Value> ReadBackStored();

    void FinishCursor() { cursor_.reset(); }

    // Moves the cursor one row on; false at the end. `read` takes the row's values.
    bool Fetch(Operation operation, bool read);

    // The row count without reading the rows; nullopt when the driver cannot count this source.
    std::optional<int64_t> CountRows();

    // MoveLast by reading every row, for sources that cannot be counted.
    void WalkToEnd();

    // Reads the last row that MoveLast put off. The cursor's current row is in row_, so only the
    // rows between it and the last are skipped unread.
    void FetchDeferredLast();

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
    std::vector<bool> exact_;  // columns read as exact decimal text
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

}  // namespace dao::detail::odbc
