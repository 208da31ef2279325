#include "conversion/Rehearsal.h"

#include <QDir>

#include "conversion/Platform.h"
#include "conversion/RunFolder.h"

namespace {

QString Rows(int64_t rows) {
    return rows < 0 ? QStringLiteral("알 수 없음") : QStringLiteral("%1건").arg(rows);
}

QString TableLines(const RehearsedTable& table) {
    QString text = QStringLiteral("[%1]").arg(table.tableName) + kCrLf;
    if (table.counts) {
        text += QStringLiteral("  원본 %1, 복사될 행 %2, 실패할 행 %3")
                    .arg(Rows(table.counts->sourceRows), Rows(table.counts->copied),
                         Rows(table.counts->failed)) +
                kCrLf;
    }
    if (!table.refusal.isEmpty()) {
        text += QStringLiteral("  복사 안 함: ") + table.refusal + kCrLf;
    }
    for (const RehearsedStatement& statement : table.leftOut) {
        text += QStringLiteral("  %1건 적용, %2건 빠짐: ")
                    .arg(statement.affected)
                    .arg(statement.leftOut) +
                statement.product + QStringLiteral(" ") + statement.statement + kCrLf;
    }
    return text;
}

}  // namespace

QString RehearsalResult::Summary() const {
    QString text;
    switch (outcome) {
        case Outcome::Completes:
            text = QStringLiteral("미리 해보기 결과: 실제 작업은 오류 없이 끝날 것입니다.");
            break;
        case Outcome::CompletesWithErrors:
            text = QStringLiteral("미리 해보기 결과: 실제 작업은 오류와 함께 끝날 것입니다.");
            break;
        case Outcome::NotRehearsed:
            text = QStringLiteral("미리 해보기 결과: 실제 작업은 시작 전에 멈출 것입니다.");
            break;
    }
    text += kCrLf + QStringLiteral("(보고서의 결과: ") + runOutcome + QStringLiteral(")") + kCrLf +
            kCrLf;
    for (const RehearsedTable& table : tables) {
        text += TableLines(table);
    }
    if (!failedRowsPath.isEmpty()) {
        text += QStringLiteral("실패한 행: ") + QDir::toNativeSeparators(failedRowsPath) + kCrLf;
    }
    if (!folder.isEmpty()) {
        text += QStringLiteral("보고서: ") + QDir::toNativeSeparators(folder) + kCrLf;
    }
    text += kCrLf + (originalsUnchanged
                         ? QStringLiteral("실제 파일은 바뀌지 않았습니다.")
                         : QStringLiteral("실제 파일이 미리 해보기 중에 바뀌었습니다. 다른 "
                                          "프로그램이 파일을 쓰고 있지 않은지 확인하세요."));
    return text;
}

void RemoveRehearsalCopies(const QString& runsRoot, const QString& folder) {
    const QDir dir(QDir(runsRoot).filePath(folder));
    for (const QString& product : {kSourceProduct, kDestProduct}) {
        QDir(dir.filePath(product)).removeRecursively();
    }
}

void RemoveRehearsalCopies(const QString& runsRoot) {
    for (const QString& name :
         QDir(runsRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks)) {
        if (IsRehearsalFolder(name)) {
            RemoveRehearsalCopies(runsRoot, name);
        }
    }
}
