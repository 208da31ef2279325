#pragma once

// A recordset over SQLite: a snapshot that reads a table or a query as one stable view, or a
// dynaset that saves new rows into its table through prepared INSERTs.

#include <QHash>
#include <QString>
#include <memory>
#include <utility>
#include <vector>

#include "data/SqliteConnection.h"

namespace dao::detail::sqlite {

class SqliteRecordset final : public Recordset {
public:
    SqliteRecordset(std::shared_ptr<Connection> conn, bool dynaset, QString table,
                    Statement select);

    SqliteRecordset(const SqliteRecordset&) = delete;
    SqliteRecordset& operator=(const SqliteRecordset&) = delete;

    ~SqliteRecordset() override;

    // Reads the first row, which also proves that the table can be read now: a table locked by
    // another process fails here rather than in the middle of a copy.
    void Start();
    bool Eof() override;
    void MoveFirst() override;
    // Counts the rows without reading them: the caller's MoveFirst then finds the statement still
    // on the first row, so a copy reads every row once.
    void MoveLast(int32_t /*options*/) override;
    void MoveNext() override;
    int32_t RecordCount() override;
    void AddNew() override;
    // Saves into the connection's open batch, which may commit now and report a failed commit
    // for this row too.
    void Update(int32_t /*type*/, bool /*force*/) override;
    // Tries the row in a savepoint inside the connection's open batch.
    std::vector<Value> TryPendingRow() override;
    // The row the last Store inserted, read back; empty when it cannot be found.
    std::vector<Value> ReadBackStored();
    int32_t EditMode() override;
    void CancelUpdate(int32_t /*type*/) override;
    int16_t FieldCount() override;
    QString FieldName(int16_t position) override;
    int16_t FieldPosition(const QString& name) override;
    Value FieldValue(int16_t position) override;
    // Reuses the text buffer that `out` holds.
    void ReadFieldValue(int16_t position, Value& out) override;
    void SetFieldValue(int16_t position, const Value& v) override;
    void Close() override;

    // Finalizes every statement and leaves the recordset closed; what it saved stays in the
    // connection's transaction.
    void Release() noexcept;

private:
    struct CachedInsert {
        std::vector<char> key;         // the written flags this statement serves
        std::vector<int16_t> columns;  // the written columns, in parameter order
        Statement stmt;
    };

    void CheckOpen() const;
    void CheckUpdatable() const;
    void CheckPending() const;
    // Runs the pending row's INSERT in the open batch; the row stays pending.
    void Store();

    void CheckPosition(int16_t position) const { CheckFieldPosition(position, fieldCount_); }

    // The value stays unwritten and the row pending, as after any refused write.
    Error StrictTypeError(size_t column, const Value& v) const;
    Error OpenError(int rc) const;

    // Puts the statement on the given row of the result, stepping forward or starting over.
    // False when the result has fewer rows.
    bool StepTo(int64_t row);

    // The full row count, in the snapshot's own read transaction.
    int64_t CountRows();
    QByteArray SourceText() const;

    // The INSERT for the columns written since AddNew, prepared once per set of columns: a copy
    // writes the same set for every row.
    CachedInsert& InsertForWrittenColumns();

    std::shared_ptr<Connection> conn_;
    const bool dynaset_;
    const QString table_;  // empty for a snapshot of another query
    Statement select_;
    Statement pin_;
    Statement count_;
    int16_t fieldCount_ = 0;
    std::vector<QString> names_;
    QHash<QString, int16_t> folded_;  // positions by name, ASCII letters folded

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

}  // namespace dao::detail::sqlite
