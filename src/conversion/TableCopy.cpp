#include "conversion/TableCopy.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStorageInfo>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <utility>

#include "conversion/RunFolder.h"

namespace {

const QString kCrLf = QStringLiteral("\r\n");

// Listed rows between two progress writes while the failed rows are read back.
constexpr int64_t kRowsPerProgressBeat = 256;

bool IsLockError(int32_t number) {
    return number == dao::errRecordLocked || number == dao::errTableLocked ||
           number == dao::errDatabaseLocked;
}

}  // namespace

TableCopy::TableCopy(Platform& platform, LogPane& log, ProgressBar& progress,
                     dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb,
                     const QString& tableName, bool& runHadErrors, RunJournal* journal)
    : platform_(platform),
      log_(log),
      progress_(progress),
      sourceDb_(sourceDb),
      destDb_(destDb),
      tableName_(tableName),
      runHadErrors_(runHadErrors),
      journal_(journal) {}

void TableCopy::Handle() {
    const ErrorInfo error = DescribeError(std::current_exception());

    // A new row that is still pending is discarded first. A failure here leaves the copy.
    if (!destRs_.IsEmpty() && destRs_->EditMode() != dao::dbEditNone) {
        destRs_->CancelUpdate(dao::dbUpdateRegular);
    }

    runHadErrors_ = true;
    if (errors_.empty()) {
        firstError_ = error;
    }
    lastError_ = error;
    if (!locked_ && IsLockError(error.number)) {
        locked_ = true;
        lockError_ = error;
    }
    if (!moved_ && error.number == dao::errFileMoved) {
        moved_ = true;
        movedError_ = error;
    }
    if (rowInProgress_ && !rowFailed_) {
        rowFailed_ = true;
        rowError_ = error;
    }
    // A batch that could not be committed takes back rows that were counted as saved.
    const int64_t lost = std::min(rowsSaved_, error.rowsLost);
    TakeBack(lost, error);
    rowsSaved_ -= lost;
    // A fault that hits every row would otherwise show one modal box per row: each distinct
    // error is shown once, and the rest are counted and logged.
    Occurrence& seen = errors_[error.number];
    if (seen.count++ == 0) {
        seen.first = error;
        platform_.MsgBox(ErrorText(error) + QStringLiteral(" in procedure CopyData of Form Form1"),
                         vbOKOnly);
    }
}

bool TableCopy::MapColumns() {
    const int16_t count = sourceRs_->FieldCount();
    QStringList missing;
    destPositions_.assign(static_cast<size_t>(count), -1);
    sourceColumns_.clear();
    for (int16_t i = 0; i < count; ++i) {
        const QString name = sourceRs_->FieldName(i);
        sourceColumns_ << name;
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
    runHadErrors_ = true;
    const QString columns = missing.join(QStringLiteral(", "));
    platform_.MsgBox(
        QStringLiteral("'%1' 자료를 복사하지 않았습니다.").arg(tableName_) + kCrLf +
            QStringLiteral("원본 테이블의 다음 열이 대상 테이블에 없습니다: %1").arg(columns) +
            kCrLf + QStringLiteral("대상 테이블의 자료는 그대로 두었습니다."),
        vbOKOnly);
    AddLog(QStringLiteral("%1 복사 안 함: 대상에 없는 열 %2").arg(tableName_, columns));
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

void TableCopy::LogOutcome() {
    if (!refusal_.isEmpty()) {
        AddLog(QStringLiteral("%1 복사 안 함: %2. 대상 테이블에 아무 행도 넣지 않았습니다.")
                   .arg(tableName_, refusal_));
        AddLog(QStringLiteral("%1 데이터복사 중 오류: %2건 중 0건 복사, %2건 실패")
                   .arg(tableName_)
                   .arg(recordCount_) +
               FailedRowsNote());
        return;
    }
    if (errors_.empty()) {
        AddLog(tableName_ + QStringLiteral(" 데이터복사완료"));
        return;
    }
    for (const auto& [number, seen] : errors_) {
        if (seen.count > 1) {
            AddLog(QStringLiteral("%1 %2: 같은 오류 %3건 (메시지는 처음 한 번만 표시)")
                       .arg(tableName_, ErrorText(seen.first))
                       .arg(seen.count));
        }
    }
    if (locked_ && rowsRead_ < recordCount_) {
        AddLog(QStringLiteral("%1 복사 중단: 다른 프로그램이 파일을 잠그고 있어 나머지 행을 "
                              "복사하지 않았습니다.")
                   .arg(tableName_));
    }
    if (moved_) {
        AddLog(QStringLiteral("%1 복사 중단: 대상 파일이 작업 중에 옮겨지거나 지워져, 저장한 행을 "
                              "복사한 것으로 세지 않았습니다.")
                   .arg(tableName_));
    }
    const int64_t total = std::max(recordCount_, rowsRead_);
    AddLog(QStringLiteral("%1 데이터복사 중 오류: %2건 중 %3건 복사, %4건 실패 (첫 오류: %5)")
               .arg(tableName_)
               .arg(total)
               .arg(rowsSaved_)
               .arg(total - rowsSaved_)
               .arg(ErrorText(firstError_)) +
           FailedRowsNote());
}

template <class Open>
bool TableCopy::OpenSide(Open&& open, const QString& logText) {
    bool opened = false;
    if (Try([&] { opened = static_cast<bool>(open()); }) && opened) {
        return true;
    }
    // The procedure has shown the failure itself, so the handler never saw it: a table that was
    // not copied is a run with errors all the same.
    runHadErrors_ = true;
    Try([&] { AddLog(logText + selectSql_); });
    return false;
}

bool TableCopy::OpenBoth() {
    if (!OpenSide([&] { return OpenReadRecordset(platform_, sourceDb_, sourceRs_, selectSql_); },
                  QStringLiteral("파일 교체중 원본열기에서 오류발생 "))) {
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
    if (!OpenSide([&] { return OpenWriteRecordset(platform_, destDb_, destRs_, selectSql_); },
                  QStringLiteral("파일 교체중 대상열기에서 오류발생 "))) {
        return false;
    }
    bool columnsMatch = false;
    return Try([&] { columnsMatch = MapColumns(); }) && columnsMatch;
}

void TableCopy::CopyRow() {
    rowInProgress_ = true;
    rowFailed_ = false;
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
        ++rowsSaved_;
    } else {
        RowFailedNow(rowFailed_ ? rowError_ : lastError_);
    }
    rowInProgress_ = false;
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
    // the copy ends here unless the table is really empty: a delete that failed (its box is
    // shown as any other failure's) or one that a trigger silently ignored.
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
    if (!ran) {
        Refuse(QStringLiteral("대상 테이블의 기존 자료를 지우지 못했습니다: %1")
                   .arg(ErrorText(lastError_)),
               lastError_.number);
        return false;
    }
    int64_t left = 0;
    if (!Try([&] { left = DestRowCount(); })) {
        Refuse(QStringLiteral("대상 테이블의 기존 자료를 지웠는지 확인하지 못했습니다: %1")
                   .arg(ErrorText(lastError_)),
               lastError_.number);
        return false;
    }
    if (left > 0) {
        Refuse(QStringLiteral("대상 테이블의 기존 자료를 지웠지만 %1건이 남아 있습니다").arg(left),
               0);
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
    const QString numbers = QStringLiteral("남은 공간 %1바이트, 필요한 공간 %2바이트")
                                .arg(storage.bytesAvailable())
                                .arg(needed);
    RefuseBeforeDelete(
        QStringLiteral(
            "대상 데이터베이스가 있는 디스크의 빈 공간이 부족합니다: %1 (원본 파일 크기)")
            .arg(numbers),
        QStringLiteral("디스크의 빈 공간이 부족합니다 (%1)").arg(numbers), 0);
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
        destRs_->TryPendingRow();
        destRs_->CancelUpdate(dao::dbUpdateRegular);
        return true;
    } catch (...) {
        refused = DescribeError(std::current_exception());
    }
    if (destRs_->EditMode() != dao::dbEditNone) {
        destRs_->CancelUpdate(dao::dbUpdateRegular);
    }
    if (RefusedForItsValues(refused.number, rowHasNull)) {
        return true;
    }
    RefuseBeforeDelete(
        QStringLiteral("원본의 첫 행을 대상 테이블에 시험으로 넣어 보았지만, 행의 "
                       "값과 관계없는 이유로 거절되었습니다: %1")
            .arg(ErrorText(refused)),
        QStringLiteral("원본의 첫 행을 대상 테이블에 넣을 수 없습니다: %1").arg(ErrorText(refused)),
        refused.number);
    return false;
}

bool TableCopy::ProbeAllows() {
    // A probe that cannot be made at all (its failure shown and counted) leaves the copy to go on
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

void TableCopy::RefuseBeforeDelete(const QString& boxReason, const QString& logReason,
                                   int32_t number) {
    platform_.MsgBox(QStringLiteral("'%1' 자료를 복사하지 않았습니다.").arg(tableName_) + kCrLf +
                         boxReason + kCrLf +
                         QStringLiteral("대상 테이블의 자료는 그대로 두었습니다."),
                     vbOKOnly);
    Refuse(logReason, number);
}

void TableCopy::Refuse(const QString& reason, int32_t number) {
    runHadErrors_ = true;
    refusal_ = reason;
    refusalNumber_ = number;
}

void TableCopy::CopyRows() {
    for (;;) {
        bool atEnd = true;
        if (!Try([&] { atEnd = sourceRs_->Eof(); }) || atEnd || locked_ || moved_) {
            break;
        }
        ++rowsRead_;
        CopyRow();
        const bool moved = Try([&] { sourceRs_->MoveNext(); });
        Try([&] { progress_.SetValue(progress_.Value() + 1); });
        // A recordset that cannot move on would copy the same row forever.
        if (!moved) {
            break;
        }
    }
}

void TableCopy::Run() {
    Try([&] { selectSql_ = QStringLiteral("SELECT * FROM ") + tableName_; });
    if (!OpenBoth()) {
        CloseRecordsets();
        return;
    }
    CountSource();
    destBefore_ = DestRowsOrUnknown();
    if (SpaceEnough() && ProbeAllows() && EmptyDestination()) {
        CopyRows();
    }
    // Closing commits the last saved rows, so the outcome is known only after it.
    CloseRecordsets();
    ListUnsavedRows();
    const int64_t destAfter = DestRowsOrUnknown();
    Try([&] { LogOutcome(); });
    RecordCounts(destAfter);
}

// ---- The rows the copy did not save, and the table's counts

std::vector<dao::Value> TableCopy::CurrentSourceValues() {
    // Read only for a row that failed; one that cannot be read is listed without its values.
    std::vector<dao::Value> values(static_cast<size_t>(sourceColumns_.size()));
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
    failedPositions_.push_back(rowsRead_);
    if (journal_ == nullptr) {
        return;
    }
    journal_->RowFailed(tableName_, rowsRead_, error, sourceColumns_, CurrentSourceValues());
    ++listed_;
}

void TableCopy::TakeBack(int64_t count, const ErrorInfo& error) {
    if (count <= 0) {
        return;
    }
    // The rows taken back are the last `count` saved ones: walking back from the last row read
    // (not the one being copied, which was never saved), past the rows that failed already.
    std::vector<int64_t> taken;
    for (int64_t position = rowsRead_ - (rowInProgress_ ? 1 : 0);
         position >= 1 && static_cast<int64_t>(taken.size()) < count; --position) {
        if (!std::binary_search(failedPositions_.begin(), failedPositions_.end(), position)) {
            taken.push_back(position);
        }
    }
    std::reverse(taken.begin(), taken.end());
    const auto middle = failedPositions_.insert(failedPositions_.end(), taken.begin(), taken.end());
    std::inplace_merge(failedPositions_.begin(), middle, failedPositions_.end());
    for (const int64_t position : taken) {
        if (!unsaved_.empty() && unsaved_.back().last + 1 == position &&
            unsaved_.back().error.number == error.number) {
            ++unsaved_.back().last;
        } else {
            unsaved_.push_back({position, position, error});
        }
    }
}

ErrorInfo TableCopy::StopError() const {
    if (moved_) {
        return movedError_;
    }
    if (locked_) {
        return lockError_;
    }
    return lastError_;
}

void TableCopy::ListUnsavedRows() {
    const int64_t total = std::max(recordCount_, rowsRead_);
    if (moved_) {
        // Whatever was saved went into a file that is no longer where the products look.
        int64_t from = 1;
        for (const int64_t failed : failedPositions_) {
            if (failed > from) {
                unsaved_.push_back({from, failed - 1, movedError_});
            }
            from = failed + 1;
        }
        if (from <= rowsRead_) {
            unsaved_.push_back({from, rowsRead_, movedError_});
        }
        rowsSaved_ = 0;
    }
    if (!refusal_.isEmpty()) {
        // No row was written: every source row failed for the refusal's reason.
        unsaved_.assign(1, {1, recordCount_, {refusalNumber_, refusal_, 0}});
    } else if (rowsRead_ < total) {
        unsaved_.push_back({rowsRead_ + 1, total, StopError()});
    }
    if (journal_ != nullptr) {
        RecordUnsaved();
    }
    unsaved_.clear();
}

void TableCopy::RecordUnsaved() {
    std::sort(unsaved_.begin(), unsaved_.end(),
              [](const UnsavedRows& a, const UnsavedRows& b) { return a.first < b.first; });
    if (unsaved_.empty() || unsaved_.front().first > unsaved_.front().last) {
        return;
    }
    // One more pass over the source, only when rows failed: the copy itself keeps no values.
    dao::RecordsetHandle source;
    QStringList columns = sourceColumns_;
    try {
        source = sourceDb_->OpenRecordset(selectSql_, dao::dbOpenSnapshot);
        columns.clear();
        for (int16_t i = 0; i < source->FieldCount(); ++i) {
            columns << source->FieldName(i);
        }
    } catch (...) {
        source.Reset();
    }
    int64_t at = 1;
    std::vector<dao::Value> values;
    for (const UnsavedRows& rows : unsaved_) {
        for (int64_t position = rows.first; position <= rows.last; ++position) {
            values.clear();
            try {
                while (!source.IsEmpty() && at < position && !source->Eof()) {
                    source->MoveNext();
                    ++at;
                }
                if (!source.IsEmpty() && at == position && !source->Eof()) {
                    values.resize(static_cast<size_t>(columns.size()));
                    for (size_t i = 0; i < values.size(); ++i) {
                        source->ReadFieldValue(static_cast<int16_t>(i), values[i]);
                    }
                }
            } catch (...) {
                values.clear();
                source.Reset();
            }
            journal_->RowFailed(tableName_, position, rows.error, columns, values);
            ++listed_;
            KeepWindowAlive();
        }
    }
    try {
        CloseObject(source);
    } catch (...) {
        // A snapshot that only read has nothing to lose at its close.
        source.Reset();
    }
}

void TableCopy::KeepWindowAlive() {
    // The window repaints on progress writes; a long list (every row of a refused table) writes
    // the value the bar already shows now and then, so that it does not stand still meanwhile.
    if (listed_ % kRowsPerProgressBeat != 0) {
        return;
    }
    try {
        progress_.SetValue(progress_.Value());
    } catch (...) {
        // Only the painting is lost.
    }
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

void TableCopy::RecordCounts(int64_t destAfter) {
    if (journal_ == nullptr) {
        return;
    }
    TableCopyCounts counts;
    counts.tableName = tableName_;
    counts.sourceRows = counted_ ? std::max(recordCount_, rowsRead_) : -1;
    counts.destBefore = destBefore_;
    counts.copied = refusal_.isEmpty() ? rowsSaved_ : 0;
    counts.failed =
        refusal_.isEmpty() ? std::max(recordCount_, rowsRead_) - rowsSaved_ : recordCount_;
    counts.destAfter = destAfter;
    journal_->TableCopied(counts);
}

QString TableCopy::FailedRowsNote() const {
    if (journal_ == nullptr || listed_ == 0 || journal_->FailedRowsPath().isEmpty()) {
        return {};
    }
    return QStringLiteral(" (실패한 행: %1)")
        .arg(QDir::toNativeSeparators(journal_->FailedRowsPath()));
}
