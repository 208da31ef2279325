#include "conversion/CopyReport.h"

#include <QDir>
#include <QStringList>
#include <utility>
#include <vector>

#include "conversion/OpenClose.h"

namespace {

// Listed rows between two progress writes while the failed rows are read back.
constexpr int64_t kRowsPerProgressBeat = 256;

// One more pass over the source, forward only, for the values of rows by their position. A source
// that cannot be read gives rows without values, under the columns the copy matched.
class SourcePass {
public:
    SourcePass(dao::DatabaseHandle& sourceDb, const QString& query, QStringList columns)
        : columns_(std::move(columns)) {
        try {
            rs_ = sourceDb->OpenRecordset(query, dao::dbOpenSnapshot);
            columns_.clear();
            for (int16_t i = 0; i < rs_->FieldCount(); ++i) {
                columns_ << rs_->FieldName(i);
            }
        } catch (...) {
            rs_.Reset();
        }
    }
    ~SourcePass() {
        try {
            CloseObject(rs_);
        } catch (...) {
            // A snapshot that only read has nothing to lose at its close.
            rs_.Reset();
        }
    }
    SourcePass(const SourcePass&) = delete;
    SourcePass& operator=(const SourcePass&) = delete;

    const QStringList& Columns() const { return columns_; }

    // The values of the row at `position`, which is never before the last one asked for; empty
    // when it cannot be read.
    std::vector<dao::Value> ValuesAt(int64_t position) {
        std::vector<dao::Value> values;
        try {
            while (!rs_.IsEmpty() && at_ < position && !rs_->Eof()) {
                rs_->MoveNext();
                ++at_;
            }
            if (!rs_.IsEmpty() && at_ == position && !rs_->Eof()) {
                values.resize(static_cast<size_t>(columns_.size()));
                for (size_t i = 0; i < values.size(); ++i) {
                    rs_->ReadFieldValue(static_cast<int16_t>(i), values[i]);
                }
            }
        } catch (...) {
            values.clear();
            rs_.Reset();
        }
        return values;
    }

private:
    dao::RecordsetHandle rs_;
    QStringList columns_;
    int64_t at_ = 1;
};

}  // namespace

CopyReport::CopyReport(Platform& platform, LogPane& log, ProgressBar& progress,
                       const QString& tableName, RunJournal* journal)
    : platform_(platform),
      log_(log),
      progress_(progress),
      tableName_(tableName),
      journal_(journal) {}

void CopyReport::FirstMet(const ErrorInfo& error) {
    platform_.MsgBox(ErrorText(error) + QStringLiteral(" in procedure CopyData of Form Form1"),
                     vbOKOnly);
}

template <class Step>
void CopyReport::Guarded(TableCopyOutcome& outcome, Step&& step) {
    try {
        step();
    } catch (...) {
        const ErrorInfo error = DescribeError(std::current_exception());
        if (outcome.NoteError(error)) {
            FirstMet(error);
        }
    }
}

void CopyReport::Tell(TableCopyOutcome& outcome, dao::DatabaseHandle& sourceDb) {
    if (outcome.openFailed) {
        const QString line = *outcome.openFailed == CopySide::Source
                                 ? QStringLiteral("파일 교체중 원본열기에서 오류발생 ")
                                 : QStringLiteral("파일 교체중 대상열기에서 오류발생 ");
        Guarded(outcome, [&] { log_.AddLog(line + outcome.query); });
    }
    if (outcome.refusal) {
        Guarded(outcome, [&] { ShowRefusal(*outcome.refusal); });
    }
    if (!outcome.counts) {
        return;
    }
    ListUnsavedRows(outcome, sourceDb);
    Guarded(outcome, [&] { LogOutcome(outcome); });
    if (journal_ != nullptr) {
        journal_->TableCopied(*outcome.counts);
    }
}

void CopyReport::ShowRefusal(const CopyRefusal& refusal) {
    using Reason = CopyRefusal::Reason;
    QString why;
    switch (refusal.reason) {
        case Reason::MissingColumns:
            why = QStringLiteral("원본 테이블의 다음 열이 대상 테이블에 없습니다: %1")
                      .arg(refusal.missingColumns.join(QStringLiteral(", ")));
            break;
        case Reason::NoSpace:
            why = QStringLiteral(
                      "대상 데이터베이스가 있는 디스크의 빈 공간이 부족합니다: %1 (원본 파일 크기)")
                      .arg(QStringLiteral("남은 공간 %1바이트, 필요한 공간 %2바이트")
                               .arg(refusal.bytesAvailable)
                               .arg(refusal.bytesNeeded));
            break;
        case Reason::FirstRowRefused:
            why = QStringLiteral(
                      "원본의 첫 행을 대상 테이블에 시험으로 넣어 보았지만, 행의 "
                      "값과 관계없는 이유로 거절되었습니다: %1")
                      .arg(ErrorText(refusal.error));
            break;
        case Reason::ValuesDiffer:
            why = QStringLiteral(
                      "원본의 첫 행을 대상 테이블에 시험으로 넣고 다시 읽어 보니 값이 "
                      "달랐습니다: %1")
                      .arg(ErrorText(refusal.error));
            break;
        case Reason::DeleteFailed:
        case Reason::DeleteUnchecked:
        case Reason::RowsLeft:
            // A failing delete's error was shown when it happened; the log says the rest.
            return;
    }
    platform_.MsgBox(QStringLiteral("'%1' 자료를 복사하지 않았습니다.").arg(tableName_) + kCrLf +
                         why + kCrLf + QStringLiteral("대상 테이블의 자료는 그대로 두었습니다."),
                     vbOKOnly);
    if (refusal.reason == Reason::MissingColumns) {
        log_.AddLog(QStringLiteral("%1 복사 안 함: %2").arg(tableName_, RefusalReason(refusal)));
    }
}

QString CopyReport::RefusalReason(const CopyRefusal& refusal) {
    using Reason = CopyRefusal::Reason;
    switch (refusal.reason) {
        case Reason::MissingColumns:
            return QStringLiteral("대상에 없는 열 %1")
                .arg(refusal.missingColumns.join(QStringLiteral(", ")));
        case Reason::NoSpace:
            return QStringLiteral("디스크의 빈 공간이 부족합니다 (%1)")
                .arg(QStringLiteral("남은 공간 %1바이트, 필요한 공간 %2바이트")
                         .arg(refusal.bytesAvailable)
                         .arg(refusal.bytesNeeded));
        case Reason::FirstRowRefused:
            return QStringLiteral("원본의 첫 행을 대상 테이블에 넣을 수 없습니다: %1")
                .arg(ErrorText(refusal.error));
        case Reason::ValuesDiffer:
            return QStringLiteral("대상 테이블에 쓴 값을 다시 읽으니 달랐습니다: %1")
                .arg(ErrorText(refusal.error));
        case Reason::DeleteFailed:
            return QStringLiteral("대상 테이블의 기존 자료를 지우지 못했습니다: %1")
                .arg(ErrorText(refusal.error));
        case Reason::DeleteUnchecked:
            return QStringLiteral("대상 테이블의 기존 자료를 지웠는지 확인하지 못했습니다: %1")
                .arg(ErrorText(refusal.error));
        case Reason::RowsLeft:
            return QStringLiteral("대상 테이블의 기존 자료를 지웠지만 %1건이 남아 있습니다")
                .arg(refusal.rowsLeft);
    }
    return {};
}

void CopyReport::LogOutcome(const TableCopyOutcome& outcome) {
    const CopyLedger& ledger = outcome.ledger;
    if (outcome.refusal) {
        log_.AddLog(QStringLiteral("%1 복사 안 함: %2. 대상 테이블에 아무 행도 넣지 않았습니다.")
                        .arg(tableName_, RefusalReason(*outcome.refusal)));
        log_.AddLog(QStringLiteral("%1 데이터복사 중 오류: %2건 중 0건 복사, %2건 실패")
                        .arg(tableName_, QString::number(ledger.SourceRows())) +
                    FailedRowsNote(outcome));
        return;
    }
    if (outcome.errors.empty()) {
        log_.AddLog(tableName_ + QStringLiteral(" 데이터복사완료"));
        return;
    }
    for (const auto& [number, seen] : outcome.errors) {
        if (seen.count > 1) {
            log_.AddLog(QStringLiteral("%1 %2: 같은 오류 %3건 (메시지는 처음 한 번만 표시)")
                            .arg(tableName_, ErrorText(seen.first), QString::number(seen.count)));
        }
    }
    if (outcome.lockedBy && ledger.Listed(RowLoss::LeftUnread) > 0) {
        log_.AddLog(QStringLiteral("%1 복사 중단: 다른 프로그램이 파일을 잠그고 있어 나머지 행을 "
                                   "복사하지 않았습니다.")
                        .arg(tableName_));
    }
    if (outcome.movedBy) {
        log_.AddLog(QStringLiteral("%1 복사 중단: 대상 파일이 작업 중에 옮겨지거나 지워져, 저장한 "
                                   "행을 복사한 것으로 세지 않았습니다.")
                        .arg(tableName_));
    }
    log_.AddLog(QStringLiteral("%1 데이터복사 중 오류: %2건 중 %3건 복사, %4건 실패 (첫 오류: %5)")
                    .arg(tableName_, QString::number(ledger.SourceRows()),
                         QString::number(ledger.Copied()), QString::number(ledger.Listed()),
                         ErrorText(outcome.firstError)) +
                FailedRowsNote(outcome));
}

QString CopyReport::FailedRowsNote(const TableCopyOutcome& outcome) const {
    if (journal_ == nullptr || outcome.ledger.Listed() == 0 ||
        journal_->FailedRowsPath().isEmpty()) {
        return {};
    }
    return QStringLiteral(" (실패한 행: %1)")
        .arg(QDir::toNativeSeparators(journal_->FailedRowsPath()));
}

void CopyReport::ListUnsavedRows(const TableCopyOutcome& outcome, dao::DatabaseHandle& sourceDb) {
    if (journal_ == nullptr) {
        return;
    }
    // The rows refused while the copy read were listed then, with their values.
    std::vector<UnsavedRows> runs = outcome.ledger.InOrder();
    std::erase_if(runs, [](const UnsavedRows& run) { return run.loss == RowLoss::Refused; });
    if (runs.empty()) {
        return;
    }
    // One more pass over the source, only when rows failed: the copy itself keeps no values.
    SourcePass source(sourceDb, outcome.query, outcome.sourceColumns);
    int64_t listed = outcome.ledger.Listed(RowLoss::Refused);
    for (const UnsavedRows& run : runs) {
        // Every row of a refused copy failed for the refusal's reason, as the log words it.
        const ErrorInfo error =
            run.loss == RowLoss::RefusedBeforeDelete && outcome.refusal
                ? ErrorInfo{run.error.number, RefusalReason(*outcome.refusal), 0}
                : run.error;
        for (int64_t position = run.first; position <= run.last; ++position) {
            journal_->RowFailed(tableName_, position, error, source.Columns(),
                                source.ValuesAt(position));
            KeepWindowAlive(++listed);
        }
    }
}

void CopyReport::KeepWindowAlive(int64_t listed) {
    // The window repaints on progress writes; a long list (every row of a refused table) writes
    // the value the bar already shows now and then, so that it does not stand still meanwhile.
    if (listed % kRowsPerProgressBeat != 0) {
        return;
    }
    try {
        progress_.SetValue(progress_.Value());
    } catch (...) {
        // Only the painting is lost.
    }
}
