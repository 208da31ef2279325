#include "conversion/TableCopy.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <utility>

#include "conversion/RunFolder.h"

namespace {

bool IsLockError(int32_t number) {
    return number == dao::errRecordLocked || number == dao::errTableLocked ||
           dao::IsInUseNumber(number);
}

// A value as the report quotes it.
QString Quoted(const dao::Value& v) {
    if (v.isNull()) {
        return QStringLiteral("Null");
    }
    if (v.type() == dao::Value::Type::Blob) {
        return QStringLiteral("(%1바이트 이진 값)").arg(v.bytes().size());
    }
    return QLatin1Char('\'') + v.toString() + QLatin1Char('\'');
}

std::optional<double> AsNumber(const dao::Value& v) {
    switch (v.type()) {
        case dao::Value::Type::Integer:
        case dao::Value::Type::Real:
            return v.toReal();
        case dao::Value::Type::Text: {
            bool ok = false;
            const double d = v.toString().trimmed().toDouble(&ok);
            return ok ? std::optional<double>(d) : std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

// Whether the database stored what was written: the same text, bytes or number, whatever type
// the column gave it (a number in a text column, a decimal read back as its exact text).
bool StoredAsWritten(const dao::Value& written, const dao::Value& read) {
    if (written.isNull() || read.isNull()) {
        return written.isNull() == read.isNull();
    }
    if (written.type() == dao::Value::Type::Blob || read.type() == dao::Value::Type::Blob) {
        return written.type() == read.type() && written.bytes() == read.bytes();
    }
    const std::optional<double> a = AsNumber(written);
    const std::optional<double> b = AsNumber(read);
    if (a && b) {
        constexpr double kRelative = 1e-12;
        return std::abs(*a - *b) <= kRelative * std::max({1.0, std::abs(*a), std::abs(*b)});
    }
    return written.toString() == read.toString();
}

}  // namespace

bool TableCopyOutcome::NoteError(const ErrorInfo& error) {
    if (errors.empty()) {
        firstError = error;
    }
    ErrorOccurrences& seen = errors[error.number];
    if (seen.count++ > 0) {
        return false;
    }
    seen.first = error;
    return true;
}

TableCopy::TableCopy(Platform& platform, ProgressBar& progress, dao::DatabaseHandle& sourceDb,
                     dao::DatabaseHandle& destDb, const QString& tableName, RunJournal* journal,
                     CopyListener& listener)
    : platform_(platform),
      progress_(progress),
      sourceDb_(sourceDb),
      destDb_(destDb),
      tableName_(tableName),
      journal_(journal),
      listener_(listener) {}

void TableCopy::Handle() {
    const ErrorInfo error = DescribeError(std::current_exception());

    // A new row that is still pending is discarded first. A failure here leaves the copy.
    if (!destRs_.IsEmpty() && destRs_->EditMode() != dao::dbEditNone) {
        destRs_->CancelUpdate(dao::dbUpdateRegular);
    }

    lastError_ = error;
    if (!outcome_.lockedBy && IsLockError(error.number)) {
        outcome_.lockedBy = error;
    }
    if (!outcome_.movedBy && error.number == dao::errFileMoved) {
        outcome_.movedBy = error;
    }
    if (outcome_.ledger.RowInProgress() && !rowError_) {
        rowError_ = error;
    }
    // A batch that could not be committed takes back rows that were counted as saved.
    outcome_.ledger.TakeBack(error.rowsLost, error);
    // A fault that hits every row would otherwise show one modal box per row: each distinct
    // error is told once, and the rest are counted.
    if (outcome_.NoteError(error)) {
        listener_.FirstMet(error);
    }
}

bool TableCopy::MapColumns() {
    const int16_t count = sourceRs_->FieldCount();
    QStringList missing;
    destPositions_.assign(static_cast<size_t>(count), -1);
    outcome_.sourceColumns.clear();
    for (int16_t i = 0; i < count; ++i) {
        const QString name = sourceRs_->FieldName(i);
        outcome_.sourceColumns << name;
        const int16_t position = destRs_->FieldPosition(name);
        if (position < 0) {
            missing << name;
        }
        destPositions_[static_cast<size_t>(i)] = position;
    }
    if (missing.isEmpty()) {
        return true;
    }
    // Every row would fail after the destination was emptied: refuse before deleting anything.
    CopyRefusal refusal;
    refusal.reason = CopyRefusal::Reason::MissingColumns;
    refusal.missingColumns = missing;
    outcome_.refusal = refusal;
    return false;
}

void TableCopy::CloseRecordsets() {
    // A close that cannot commit the last saved rows has closed the recordset all the same. The
    // handle is emptied before the close, so that the handler reports that failure rather than
    // failing itself on the closed recordset's edit mode.
    for (dao::RecordsetHandle* handle : {&sourceRs_, &destRs_}) {
        Try([&] {
            dao::RecordsetHandle recordset = std::exchange(*handle, {});
            CloseObject(recordset);
        });
    }
}

template <class Open>
bool TableCopy::OpenSide(Open&& open, CopySide side) {
    bool opened = false;
    if (Try([&] { opened = static_cast<bool>(open()); }) && opened) {
        return true;
    }
    // The procedure has shown the failure itself, so the handler never saw it: a table that was
    // not copied is a copy with errors all the same.
    outcome_.openFailed = side;
    return false;
}

bool TableCopy::OpenBoth() {
    const QString& query = outcome_.query;
    if (!OpenSide([&] { return OpenReadRecordset(platform_, sourceDb_, sourceRs_, query); },
                  CopySide::Source)) {
        return false;
    }
    // An empty source leaves the destination as it is.
    bool empty = false;
    Try([&] { empty = sourceRs_->Eof(); });
    if (empty) {
        return false;
    }
    // The destination is opened and its columns checked before its rows are deleted, so that a
    // fault visible at this point leaves the destination's rows in place.
    if (!OpenSide([&] { return OpenWriteRecordset(platform_, destDb_, destRs_, query); },
                  CopySide::Dest)) {
        return false;
    }
    bool columnsMatch = false;
    return Try([&] { columnsMatch = MapColumns(); }) && columnsMatch;
}

void TableCopy::CopyRow() {
    CopyLedger& ledger = outcome_.ledger;
    ledger.RowRead();
    rowError_.reset();
    Try([&] { destRs_->AddNew(); });

    // When the field count cannot be read the row gets no field; its save still follows.
    int16_t bound = -1;
    Try([&] { bound = static_cast<int16_t>(sourceRs_->FieldCount() - 1); });
    bound = std::min<int16_t>(bound, static_cast<int16_t>(destPositions_.size() - 1));

    // A failing field write gives the row up once: the handler has cancelled it, so the
    // remaining fields and the save are skipped rather than each failing on their own.
    bool rowGivenUp = false;
    for (int16_t position = 0; position <= bound && !rowGivenUp; ++position) {
        rowGivenUp = !Try([&] {
            const int16_t target = destPositions_[static_cast<size_t>(position)];
            sourceRs_->ReadFieldValue(position, field_);
            destRs_->SetFieldValue(target, field_);
        });
    }
    if (!rowGivenUp && Try([&] { destRs_->Update(dao::dbUpdateRegular, false); })) {
        ledger.RowSaved();
    } else {
        RowFailedNow(rowError_.value_or(lastError_));
    }
}

void TableCopy::CountSource() {
    Try([&] { sourceRs_->MoveLast(); });
    Try([&] { sourceRs_->MoveFirst(); });
    Try([&] {
        recordCount_ = sourceRs_->RecordCount();
        counted_ = true;
        progress_.SetMax(static_cast<float>(recordCount_));
    });
    Try([&] { progress_.SetValue(0); });
}

int64_t TableCopy::DestRowCount() {
    return TableRowCount(destDb_, tableName_);
}

bool TableCopy::EmptyDestination() {
    // Rows appended to rows that are still there would mix the old table with the new one, so
    // the copy ends here unless the table is really empty: a delete that failed (its error told
    // as any other failure's) or one that a trigger silently ignored.
    const QString sql = QStringLiteral("delete from ") + tableName_;
    int64_t deleted = -1;
    QElapsedTimer timer;
    timer.start();
    const bool ran = Try([&] {
        destDb_->Execute(sql);
        deleted = destDb_->RecordsAffected();
    });
    if (journal_ != nullptr) {
        journal_->StatementExecuted(kDestProduct, sql, ran ? deleted : -1,
                                    std::chrono::milliseconds(timer.elapsed()));
    }
    CopyRefusal refusal;
    if (!ran) {
        refusal.reason = CopyRefusal::Reason::DeleteFailed;
        refusal.error = lastError_;
        Refuse(refusal);
        return false;
    }
    int64_t left = 0;
    if (!Try([&] { left = DestRowCount(); })) {
        refusal.reason = CopyRefusal::Reason::DeleteUnchecked;
        refusal.error = lastError_;
        Refuse(refusal);
        return false;
    }
    if (left > 0) {
        refusal.reason = CopyRefusal::Reason::RowsLeft;
        refusal.rowsLeft = left;
        Refuse(refusal);
        return false;
    }
    return true;
}

bool TableCopy::SpaceEnough() {
    // The rows cannot take more room in the destination than the whole file that holds them in
    // the source, so the source file's size is a bound that never falls short, whatever the
    // driver. A deleted table's pages are reused by the rows that follow, so the destination's
    // own rows need no room of their own.
    const QStorageInfo storage(QFileInfo(destDb_->Name()).absolutePath());
    const qint64 needed = QFileInfo(sourceDb_->Name()).size();
    if (!storage.isValid() || storage.bytesAvailable() < 0 || storage.bytesAvailable() >= needed) {
        return true;
    }
    CopyRefusal refusal;
    refusal.reason = CopyRefusal::Reason::NoSpace;
    refusal.bytesAvailable = storage.bytesAvailable();
    refusal.bytesNeeded = needed;
    Refuse(refusal);
    return false;
}

bool TableCopy::FirstRowFits() {
    // The first source row is written and taken back before the delete: a destination that
    // refuses every row for what the table is (a column that cannot be written, a required
    // column the source lacks) would otherwise be emptied and filled with nothing. A refusal
    // for the row's own values leaves the copy to go on and fail that row as usual. A source
    // row that cannot be read is no answer either way: its failure leaves here for the handler.
    std::vector<dao::Value> row(destPositions_.size());
    bool rowHasNull = false;
    for (size_t i = 0; i < row.size(); ++i) {
        sourceRs_->ReadFieldValue(static_cast<int16_t>(i), row[i]);
        rowHasNull = rowHasNull || row[i].isNull();
    }
    ErrorInfo refused;
    try {
        destRs_->AddNew();
        for (size_t i = 0; i < row.size(); ++i) {
            destRs_->SetFieldValue(destPositions_[i], row[i]);
        }
        const std::vector<dao::Value> stored = destRs_->TryPendingRow();
        destRs_->CancelUpdate(dao::dbUpdateRegular);
        return StoredAsWritten(row, stored);
    } catch (...) {
        refused = DescribeError(std::current_exception());
    }
    if (destRs_->EditMode() != dao::dbEditNone) {
        destRs_->CancelUpdate(dao::dbUpdateRegular);
    }
    if (RefusedForItsValues(refused.number, rowHasNull)) {
        return true;
    }
    CopyRefusal refusal;
    refusal.reason = CopyRefusal::Reason::FirstRowRefused;
    refusal.error = refused;
    Refuse(refusal);
    return false;
}

bool TableCopy::StoredAsWritten(const std::vector<dao::Value>& row,
                                const std::vector<dao::Value>& stored) {
    // A driver that converts a value on its way (a date moved, a decimal rounded, a text cut)
    // would do so to every row: the table is refused before its rows are deleted.
    if (stored.empty()) {
        return true;  // the stored row could not be found again: nothing to compare
    }
    for (size_t i = 0; i < row.size(); ++i) {
        const auto position = static_cast<size_t>(destPositions_[i]);
        if (position >= stored.size() || ::StoredAsWritten(row[i], stored[position])) {
            continue;
        }
        const QString column = destRs_->FieldName(destPositions_[i]);
        const dao::Error differs(dao::errValuesDiffer, dao::ErrorKind::ValuesDiffer,
                                 {.table = tableName_,
                                  .column = column,
                                  .details = {Quoted(row[i]), Quoted(stored[position])}});
        CopyRefusal refusal;
        refusal.reason = CopyRefusal::Reason::ValuesDiffer;
        refusal.error = ErrorInfo{differs.Number(), differs.Description(), 0};
        Refuse(refusal);
        return false;
    }
    return true;
}

bool TableCopy::ProbeAllows() {
    // A probe that cannot be made at all (its failure told and counted) leaves the copy to go on
    // as it would have without it.
    bool fits = true;
    Try([&] { fits = FirstRowFits(); });
    return fits;
}

bool TableCopy::RefusedForItsValues(int32_t number, bool rowHasNull) {
    switch (number) {
        case dao::errDuplicateKey:
        case dao::errValidationRule:
        case dao::errDataTypeConversion:
        case dao::errRowIgnored:
            return true;
        case dao::errRequired:
            // Without a null of its own, the row lacks a value only in a column the source has not.
            return rowHasNull;
        default:
            return false;
    }
}

void TableCopy::Refuse(const CopyRefusal& refusal) {
    outcome_.refusal = refusal;
}

void TableCopy::CopyRows() {
    for (;;) {
        bool atEnd = true;
        if (!Try([&] { atEnd = sourceRs_->Eof(); }) || atEnd || outcome_.lockedBy ||
            outcome_.movedBy) {
            break;
        }
        CopyRow();
        const bool moved = Try([&] { sourceRs_->MoveNext(); });
        Try([&] { progress_.SetValue(progress_.Value() + 1); });
        // A recordset that cannot move on would copy the same row forever.
        if (!moved) {
            break;
        }
    }
}

TableCopyOutcome TableCopy::Run() {
    Try([&] { outcome_.query = QStringLiteral("SELECT * FROM ") + tableName_; });
    if (!OpenBoth()) {
        CloseRecordsets();
        return std::move(outcome_);
    }
    CountSource();
    const int64_t destBefore = DestRowsOrUnknown();
    if (SpaceEnough() && ProbeAllows() && EmptyDestination()) {
        CopyRows();
    }
    // Closing commits the last saved rows, so the outcome is known only after it.
    CloseRecordsets();
    SettleLedger();
    outcome_.counts = Counts(destBefore, DestRowsOrUnknown());
    outcome_.destCounted = journal_ != nullptr;
    return std::move(outcome_);
}

// ---- The rows the copy did not save, and the table's counts

std::vector<dao::Value> TableCopy::CurrentSourceValues() {
    // Read only for a row that failed; one that cannot be read is listed without its values.
    std::vector<dao::Value> values(static_cast<size_t>(outcome_.sourceColumns.size()));
    try {
        for (size_t i = 0; i < values.size(); ++i) {
            sourceRs_->ReadFieldValue(static_cast<int16_t>(i), values[i]);
        }
    } catch (...) {
        values.clear();
    }
    return values;
}

void TableCopy::RowFailedNow(const ErrorInfo& error) {
    CopyLedger& ledger = outcome_.ledger;
    ledger.RowRefused(error);
    if (journal_ != nullptr) {
        journal_->RowFailed(tableName_, ledger.RowsRead(), error, outcome_.sourceColumns,
                            CurrentSourceValues());
    }
}

ErrorInfo TableCopy::StopError() const {
    if (outcome_.movedBy) {
        return *outcome_.movedBy;
    }
    if (outcome_.lockedBy) {
        return *outcome_.lockedBy;
    }
    return lastError_;
}

void TableCopy::SettleLedger() {
    CopyLedger& ledger = outcome_.ledger;
    if (outcome_.refusal) {
        // No row was written: every source row failed for the refusal's reason.
        ledger.RefusedBeforeDelete(recordCount_, outcome_.refusal->error);
        return;
    }
    if (outcome_.movedBy) {
        ledger.LostWithMovedFile(*outcome_.movedBy);
    }
    ledger.LeftUnread(recordCount_, StopError());
}

int64_t TableCopy::DestRowsOrUnknown() {
    if (journal_ == nullptr) {
        return -1;
    }
    try {
        return DestRowCount();
    } catch (...) {
        return -1;
    }
}

TableCopyCounts TableCopy::Counts(int64_t destBefore, int64_t destAfter) const {
    const CopyLedger& ledger = outcome_.ledger;
    TableCopyCounts counts;
    counts.tableName = tableName_;
    counts.sourceRows = counted_ ? ledger.SourceRows() : -1;
    counts.destBefore = destBefore;
    counts.copied = ledger.Copied();
    counts.failed = ledger.Listed();
    counts.destAfter = destAfter;
    return counts;
}
