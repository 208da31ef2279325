#include "conversion/Conversion.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <algorithm>

#include "conversion/CopyReport.h"
#include "conversion/ProductSettings.h"
#include "conversion/Restore.h"
#include "conversion/TableCopy.h"

namespace {

const QString kRule = QString(40, QLatin1Char('-'));

// The open options of a database: read and write, and an Access file for this run alone, so
// that neither product (on this PC or another sharing the folder) writes to it while the run
// backs it up and replaces its tables. SQLite files keep their own locking, which the open's
// lock probe and the run's transactions rely on.
int16_t OpenOptionsFor(const QString& path) {
    return IsSqliteFile(path) ? int16_t{0} : int16_t{dao::dbExclusive};
}

// The table as a snapshot for the pre-run check; empty when there is no such table. Any other
// failure stops the run as it would have stopped at the statement.
dao::RecordsetHandle OpenForCheck(dao::DatabaseHandle& db, const QString& tableName) {
    try {
        return dao::RecordsetHandle(
            db->OpenRecordset(QStringLiteral("SELECT * FROM ") + tableName, dao::dbOpenSnapshot));
    } catch (const dao::Error& e) {
        if (e.Number() != dao::errObjectNotFound) {
            throw;
        }
    }
    return {};
}

// What is wrong with a table for the statements: missing, or lacking some of the names (as the
// engine matches them); empty when nothing is.
QString ProblemWith(dao::RecordsetHandle& rs, const QString& tableName, const QStringList& names) {
    if (rs.IsEmpty()) {
        return QStringLiteral("'%1' 테이블이 없습니다.").arg(tableName);
    }
    QStringList missing;
    for (const QString& name : names) {
        if (rs->FieldPosition(name) < 0 && !missing.contains(name, Qt::CaseInsensitive)) {
            missing << name;
        }
    }
    if (missing.isEmpty()) {
        return {};
    }
    return QStringLiteral("'%1' 테이블에 다음 열이 없습니다: %2")
        .arg(tableName, missing.join(QStringLiteral(", ")));
}

QStringList FieldNames(dao::RecordsetHandle& rs) {
    QStringList names;
    for (int16_t i = 0; !rs.IsEmpty() && i < rs->FieldCount(); ++i) {
        names << rs->FieldName(i);
    }
    return names;
}

}  // namespace

Conversion::Conversion(Platform& platform, LogPane& log, ProgressBar& progress, CheckBoxes& check1)
    : platform_(platform), log_(log), progress_(progress), check1_(check1) {}

// ---- The table copy and the recipes

void Conversion::CopyData(dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb,
                          const QString& tableName) {
    // The copy tells the report of each error as it meets it; the report words the rest when the
    // copy returns.
    CopyReport report(platform_, log_, progress_, tableName, journal_);
    TableCopyOutcome outcome =
        TableCopy(platform_, progress_, sourceDb, destDb, tableName, journal_, report).Run();
    report.Tell(outcome, sourceDb);
    copies_.push_back(std::move(outcome));
    copiedTables_.push_back(tableName);
}

void Conversion::RunRecipe(const Recipe& recipe, dao::DatabaseHandle& sourceDb,
                           dao::DatabaseHandle& destDb) {
    if (check1_.Value(recipe.checkIndex) != vbChecked) {
        return;
    }
    currentRecipe_ = recipe.checkIndex;
    for (const RecipeStep& step : recipe.steps) {
        switch (step.database) {
            case StepDatabase::Source:
                ExecuteCounted(sourceDb, step);
                break;
            case StepDatabase::Both:
                CopyData(sourceDb, destDb, step.tableName);
                break;
            case StepDatabase::Dest:
                ExecuteCounted(destDb, step);
                break;
        }
    }
}

void Conversion::ExecuteCounted(dao::DatabaseHandle& db, const RecipeStep& step) {
    // A statement leaves out the rows the database refuses, as a Jet caller expects; each one
    // left out is still a row the run did not adapt, so it is counted and logged.
    const QString product = step.database == StepDatabase::Source ? kSourceProduct : kDestProduct;
    QElapsedTimer timer;
    timer.start();
    try {
        db->Execute(step.statement);
    } catch (...) {
        if (journal_ != nullptr) {
            journal_->StatementExecuted(product, step.statement, -1,
                                        std::chrono::milliseconds(timer.elapsed()));
        }
        throw;
    }
    const dao::ExecuteOutcome& outcome = db->LastExecute();
    if (journal_ != nullptr) {
        journal_->StatementExecuted(product, step.statement, outcome.affected,
                                    std::chrono::milliseconds(timer.elapsed()));
    }
    if (outcome.leftOut <= 0) {
        return;
    }
    const std::optional<ErrorInfo> reason =
        outcome.firstLeftOut
            ? std::optional(DescribeError(std::make_exception_ptr(*outcome.firstLeftOut)))
            : std::nullopt;
    if (step.rowMayExist && outcome.leftOut == 1 && reason &&
        reason->number == dao::errDuplicateKey) {
        return;
    }
    statementLeftRowsOut_ = true;
    leftOutStatements_.emplace_back(
        currentRecipe_,
        RehearsedStatement{product, step.statement, outcome.affected, outcome.leftOut});
    log_.AddLog(
        QStringLiteral("%1 실행 중 오류: %2건 적용, %3건 빠짐 (첫 오류: %4)")
            // One call for all: a statement's own "%0" or "%1" (a LIKE pattern) is no placeholder.
            .arg(step.statement, QString::number(outcome.affected),
                 QString::number(outcome.leftOut),
                 reason ? ErrorText(*reason) : QStringLiteral("데이터베이스가 행을 무시했습니다")));
}

std::vector<const Recipe*> Conversion::SelectedRecipes() const {
    std::vector<const Recipe*> selected;
    for (const Recipe& recipe : AllRecipes()) {
        if (check1_.Value(recipe.checkIndex) == vbChecked) {
            selected.push_back(&recipe);
        }
    }
    return selected;
}

bool Conversion::RecipesCanRun(dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb) {
    // A statement that names a missing table or column would stop the run half done: after the
    // source's units were changed, or after the destination's rows were replaced but not adapted.
    // So would a copy whose source has a column that the destination lacks. A SolvanePlus that
    // was installed but never run lacks its tables.
    copiedColumns_.clear();
    for (const TableNeeds& table : NeedsOf(SelectedRecipes())) {
        bool inDest = false;
        QString problem;
        dao::RecordsetHandle source;
        if (table.checkSource()) {
            source = OpenForCheck(sourceDb, table.tableName);
            problem = ProblemWith(source, table.tableName, table.inSource);
        }
        if (problem.isEmpty() && table.checkDest()) {
            inDest = true;
            dao::RecordsetHandle dest = OpenForCheck(destDb, table.tableName);
            const QStringList sourceNames = table.copied ? FieldNames(source) : QStringList();
            if (table.copied) {
                copiedColumns_.emplace_back(table.tableName, sourceNames);
            }
            const QStringList names = table.inDest + sourceNames;
            problem = ProblemWith(dest, table.tableName, names);
            CloseObject(dest);
        }
        CloseObject(source);
        if (!problem.isEmpty()) {
            ReportMissing(inDest, problem, (inDest ? destDb : sourceDb)->Name());
            return false;
        }
    }
    return true;
}

void Conversion::ReportMissing(bool inDest, const QString& problem, const QString& fileName) {
    const QString what =
        QStringLiteral("%1 데이터베이스의 %2")
            .arg(inDest ? QStringLiteral("SolvanePlus") : QStringLiteral("Dorvik"), problem);
    const QString advice =
        inDest ? QStringLiteral("SolvanePlus를 설치한 뒤 한 번 실행했는지 확인하세요.")
               : QStringLiteral("Dorvik의 데이터베이스 폴더 설정이 맞는지 확인하세요.");
    log_.AddLog(QStringLiteral("작업 안 함: ") + what);
    platform_.MsgBox(what + kCrLf + QDir::toNativeSeparators(fileName) + kCrLf + advice + kCrLf +
                         QStringLiteral("아무 자료도 바꾸지 않았습니다."),
                     vbOKOnly);
}

// ---- The Start command

bool Conversion::UserConfirmsRun() {
    if (check1_.Value(kProductsCheck) == vbUnchecked &&
        check1_.Value(kTradersCheck) == vbUnchecked) {
        platform_.MsgBox(QStringLiteral("상품복사나 거래처복사중 하나 이상을 선택하세요."),
                         vbOKOnly);
        return false;
    }
    // A rehearsal changes nothing of the user's, so nothing needs guarding.
    if (rehearsal_) {
        return true;
    }

    const QString password =
        platform_.InputBox(QStringLiteral("실행 암호를 입력하세요. 문의: ") + kSupportPhone, true);
    if (password != kRunPassword) {
        platform_.MsgBox(QStringLiteral("암호가 틀립니다."), vbOKOnly);
        return false;
    }

    const QString confirm = QStringLiteral("※작업전 데이터를 꼭 백업하세요!") + kCrLf + kCrLf +
                            QStringLiteral(
                                "Dorvik 또는 SolvanePlus 프로그램이 열려 있을 경우 "
                                "닫고 시작하세요.") +
                            kCrLf + QStringLiteral("시작 하시겠습니까?");
    return platform_.MsgBox(confirm, vbYesNo + vbQuestion + vbDefaultButton2) != vbNo;
}

bool Conversion::SettingUsable(const SettingRead& setting, const QString& product) {
    // A store that cannot be read, or a value that is no text, is not the same as a product that
    // was never run: reinstalling would not mend either, so each is named for what it is.
    QString problem;
    QString advice;
    switch (setting.status) {
        case SettingRead::Status::Found:
        case SettingRead::Status::NotSet:
            return true;  // an empty folder is reported with the other folder checks
        case SettingRead::Status::Unreadable:
            problem = QStringLiteral("%1의 설정 파일을 읽을 수 없습니다.").arg(product);
            advice = QStringLiteral(
                "설정 파일이 손상되었거나 읽을 권한이 없습니다. "
                "파일을 확인한 뒤 다시 시작하세요.");
            break;
        case SettingRead::Status::NotText:
            problem =
                QStringLiteral("%1의 데이터베이스 폴더 설정이 폴더 이름이 아닙니다.").arg(product);
            advice = QStringLiteral("설정 파일의 db경로 값을 확인한 뒤 다시 시작하세요.");
            break;
    }
    platform_.MsgBox(problem + kCrLf + setting.store + kCrLf + advice, vbOKOnly);
    return false;
}

bool Conversion::FoldersUsable(const QString& sourceFile, const QString& destFile) {
    // An unset folder would open a bare "dbbasic.mdb" that is not the product's database.
    if (FolderUnset(SourceDbPath)) {
        platform_.MsgBox(QStringLiteral("Dorvik의 데이터베이스 폴더가 설정되어 있지 않습니다.") +
                             kCrLf +
                             QStringLiteral("Dorvik을 설치하고 한 번 실행한 뒤 다시 시작하세요."),
                         vbOKOnly);
        return false;
    }
    if (FolderUnset(DestDbPath)) {
        platform_.MsgBox(
            QStringLiteral("SolvanePlus의 데이터베이스 폴더가 설정되어 있지 않습니다.") + kCrLf +
                QStringLiteral("SolvanePlus를 설치하고 한 번 실행한 뒤 다시 시작하세요."),
            vbOKOnly);
        return false;
    }
    // Copying a file onto itself would delete the very rows it copies.
    if (SameFile(sourceFile, destFile)) {
        platform_.MsgBox(
            QStringLiteral("Dorvik과 SolvanePlus의 데이터베이스가 같은 파일입니다.") + kCrLf +
                QDir::toNativeSeparators(QFileInfo(sourceFile).absoluteFilePath()) + kCrLf +
                QStringLiteral("두 프로그램의 데이터베이스 폴더 설정을 확인하세요."),
            vbOKOnly);
        return false;
    }
    return true;
}

bool Conversion::OpenDatabases(dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb,
                               const QString& sourceFile, const QString& destFile) {
    // MyOpenDB has shown the failure; the log keeps its cause next to the run it ended.
    const auto logFailure = [this](const OpenResult& opened) {
        log_.AddLog(QStringLiteral("작업 안 함: 데이터베이스 열기 실패: ") +
                    ErrorText(opened.failure));
    };
    if (const OpenResult opened = MyOpenDB(platform_, sourceDb, sourceFile,
                                           OpenOptionsFor(sourceFile), QStringLiteral("Dorvik"));
        !opened) {
        logFailure(opened);
        return false;
    }
    if (const OpenResult opened = MyOpenDB(platform_, destDb, destFile, OpenOptionsFor(destFile),
                                           QStringLiteral("SolvanePlus"));
        !opened) {
        logFailure(opened);
        // Released now rather than whenever the handle happens to go.
        CloseQuietly(sourceDb);
        return false;
    }
    return true;
}

void Conversion::CloseQuietly(dao::DatabaseHandle& db) {
    try {
        CloseObject(db);
    } catch (...) {
        const ErrorInfo error = DescribeError(std::current_exception());
        log_.AddLog(QStringLiteral("데이터베이스 닫기 실패: ") + ErrorText(error));
        db.Reset();
    }
}

void Conversion::StopOnError(const ErrorInfo& error, dao::DatabaseHandle& sourceDb,
                             dao::DatabaseHandle& destDb) {
    stoppedByError_ = true;
    CloseQuietly(sourceDb);
    CloseQuietly(destDb);
    log_.AddLog(QStringLiteral("오류로 작업 중단: ") + ErrorText(error));
    NoteFailedRowsProblem();
    FinishRecord(QStringLiteral("중단: ") + ErrorText(error));
    if (rehearsal_) {
        return;  // the rehearsal's own box says it
    }
    platform_.MsgBox(ErrorText(error) + kCrLf + kCrLf +
                         QStringLiteral("오류로 작업을 중단했습니다. 작업 기록을 확인하세요.") +
                         RunFolderLines(),
                     vbOKOnly);
}

QString Conversion::RunFolderLines() const {
    if (lastRunFolder_.isEmpty()) {
        return {};
    }
    QString lines;
    if (!otherTablesChanged_.isEmpty()) {
        lines += kCrLf + QStringLiteral("작업하지 않은 테이블의 행 수가 바뀌었습니다: ") +
                 otherTablesChanged_.join(QStringLiteral(", "));
    }
    if (!failedRowsProblem_.isEmpty()) {
        lines += kCrLf + QStringLiteral("실패한 행 목록을 쓰지 못했습니다: ") + failedRowsProblem_;
    }
    if (!failedRowsPath_.isEmpty()) {
        lines += kCrLf + QStringLiteral("실패한 행: ") + QDir::toNativeSeparators(failedRowsPath_);
    }
    return lines + kCrLf + QStringLiteral("작업 전 백업과 보고서: ") +
           QDir::toNativeSeparators(lastRunFolder_);
}

bool Conversion::BackUpFiles(dao::DatabaseHandle& sourceDb, dao::DatabaseHandle& destDb) {
    if (rehearsal_) {
        // The copies the rehearsal works on are its backup: the originals stay untouched.
        record_->SetCopiedTables(copiedColumns_);
        lastRunFolder_ = record_->Folder();
        log_.AddLog(QStringLiteral("미리 해보기 폴더: ") +
                    QDir::toNativeSeparators(lastRunFolder_));
        return true;
    }
    // What each database has changed by the selected recipes: the source's units when products
    // are copied, and the destination's copied and adapted tables.
    QStringList sourceTables;
    QStringList destTables;
    for (const Recipe* recipe : SelectedRecipes()) {
        for (const RecipeStep& step : recipe->steps) {
            QStringList& tables = step.database == StepDatabase::Source ? sourceTables : destTables;
            if (!tables.contains(step.tableName)) {
                tables << step.tableName;
            }
        }
    }
    std::vector<FileToBackUp> files;
    if (!sourceTables.isEmpty()) {
        files.push_back({kSourceProduct, &sourceDb, sourceTables});
    }
    files.push_back({kDestProduct, &destDb, destTables});

    record_ = std::make_unique<RunRecord>(platform_.Version(), recordSeams_);
    record_->SetCopiedTables(copiedColumns_);
    if (const std::optional<RunRecord::Failure> failure =
            record_->BackUp(platform_.RunsFolder(), files)) {
        record_.reset();
        log_.AddLog(QStringLiteral("작업 안 함: 백업 실패: ") + failure->cause);
        platform_.MsgBox(QStringLiteral("작업 전 백업을 만들지 못했습니다.") + kCrLf +
                             failure->folder + kCrLf + failure->cause + kCrLf +
                             QStringLiteral("아무 자료도 바꾸지 않았습니다."),
                         vbOKOnly);
        return false;
    }
    lastRunFolder_ = record_->Folder();
    log_.AddLog(QStringLiteral("백업: ") + QDir::toNativeSeparators(lastRunFolder_));
    return true;
}

void Conversion::FinishRecord(const QString& outcome) {
    if (!record_) {
        return;
    }
    failedRowsPath_ = record_->FailedRowsPath();
    record_->Finish(outcome, log_.Text());
    lastOutcome_ = outcome;
    lastHashesAfter_ = record_->HashesAfter();
    record_.reset();
    journal_ = journalBeforeRun_;
}

QStringList Conversion::OwnedDestTables() const {
    QStringList tables;
    for (const Recipe* recipe : SelectedRecipes()) {
        for (const RecipeStep& step : recipe->steps) {
            if (step.database != StepDatabase::Source) {
                tables << step.tableName.toLower();
            }
        }
    }
    return tables;
}

std::map<QString, int64_t> Conversion::CountTables(dao::DatabaseHandle& db) {
    std::map<QString, int64_t> counts;
    for (const QString& table : db->TableNames()) {
        try {
            counts[table] = TableRowCount(db, table);
        } catch (const dao::Error&) {
            // A table the engine cannot read (a virtual table without its module) is no table
            // the run can change either.
        }
    }
    return counts;
}

void Conversion::CheckOtherTables(dao::DatabaseHandle& destDb) {
    const QStringList owned = OwnedDestTables();
    const std::map<QString, int64_t> after = CountTables(destDb);
    QStringList changed;
    for (const auto& [table, rows] : destCountsBefore_) {
        if (owned.contains(table.toLower())) {
            continue;
        }
        const auto now = after.find(table);
        if (now == after.end()) {
            changed << QStringLiteral("%1: %2건 → 없어짐").arg(table, QString::number(rows));
        } else if (now->second != rows) {
            changed << QStringLiteral("%1: %2건 → %3건")
                           .arg(table, QString::number(rows), QString::number(now->second));
        }
    }
    for (const auto& [table, rows] : after) {
        if (!owned.contains(table.toLower()) && !destCountsBefore_.contains(table)) {
            changed << QStringLiteral("%1: 없음 → %2건").arg(table, QString::number(rows));
        }
    }
    if (changed.isEmpty()) {
        return;
    }
    otherTablesChanged_ = changed;
    log_.AddLog(QStringLiteral("작업하지 않은 테이블의 행 수가 바뀌었습니다 (SolvanePlus): ") +
                changed.join(QStringLiteral(", ")));
    if (record_) {
        record_->OtherTablesChanged(changed);
    }
}

void Conversion::NoteFailedRowsProblem() {
    if (!record_) {
        return;
    }
    failedRowsProblem_ = record_->FailedRowsProblem();
    if (!failedRowsProblem_.isEmpty()) {
        log_.AddLog(QStringLiteral("실패한 행 목록을 쓰지 못했습니다: ") + failedRowsProblem_);
    }
}

bool Conversion::NoUnfinishedRestore() {
    const std::vector<UnfinishedRestore> unfinished =
        FindUnfinishedRestores(platform_.RunsFolder());
    if (unfinished.empty()) {
        return true;
    }
    platform_.MsgBox(
        QStringLiteral("끝나지 않은 복원이 있어 작업을 시작하지 않았습니다.") + kCrLf +
            QStringLiteral("작업 폴더: ") + QDir::toNativeSeparators(unfinished.front().runFolder) +
            kCrLf +
            QStringLiteral("프로그램을 다시 시작하거나 복원 창을 열어 복원을 마친 뒤 다시 "
                           "시작하세요."),
        vbOKOnly + vbExclamation);
    return false;
}

bool Conversion::RunHadErrors() const {
    // A run ends "with errors" when anything it was to do was left undone: a table copy that met
    // errors or whose table, counted after the copy, holds other rows than those copied (it did
    // not end as the log says), a statement that left rows out, or an error that stopped it.
    const bool copiesFailed = std::any_of(
        copies_.begin(), copies_.end(),
        [](const TableCopyOutcome& copy) { return copy.HadErrors() || copy.CountsDisagree(); });
    return copiesFailed || statementLeftRowsOut_ || stoppedByError_ ||
           !otherTablesChanged_.isEmpty();
}

void Conversion::ReportCompletion() {
    NoteFailedRowsProblem();
    log_.AddLog(kRule);
    if (RunHadErrors()) {
        log_.AddLog(QStringLiteral("자료 교체 완료 (오류 있음: 작업 기록을 확인하세요)"));
        log_.AddLog(kRule);
        FinishRecord(QStringLiteral("완료 (오류 있음)"));
        if (rehearsal_) {
            return;
        }
        platform_.MsgBox(QStringLiteral("자료 교체가 끝났지만 오류가 있었습니다.") + kCrLf +
                             QStringLiteral("작업 기록을 확인하세요.") + RunFolderLines(),
                         vbOKOnly);
        return;
    }
    log_.AddLog(QStringLiteral("자료 교체 완료"));
    log_.AddLog(kRule);
    FinishRecord(QStringLiteral("완료"));
    if (!rehearsal_) {
        platform_.MsgBox(QStringLiteral("자료 교체가 완료 되었습니다."), vbOKOnly);
    }
}

void Conversion::StartRun() {
    copies_.clear();
    copiedTables_.clear();
    destCountsBefore_.clear();
    otherTablesChanged_.clear();
    failedRowsProblem_.clear();
    statementLeftRowsOut_ = false;
    leftOutStatements_.clear();
    stoppedByError_ = false;
    runStarted_ = false;
    lastRunFolder_.clear();
    failedRowsPath_.clear();
    lastOutcome_.clear();
    lastHashesAfter_.clear();
    log_.SetText(QString());
    log_.AddLog(rehearsal_ ? kRehearsalFirstLine : QString());
    if (rehearsal_) {
        log_.AddLog(QString());
    }
    log_.AddLog(QStringLiteral("작업 시작"));
    log_.AddLog(QString());
}

void Conversion::Command1_Click() {
    lastRehearsal_.reset();
    if (!NoUnfinishedRestore() || !UserConfirmsRun()) {
        return;
    }
    const SettingRead sourceSetting = platform_.ReadSetting(kSourceApp, kSection, kKey);
    const SettingRead destSetting = platform_.ReadSetting(kDestApp, kSection, kKey);
    SourceDbPath = sourceSetting.value;
    DestDbPath = destSetting.value;
    if (!SettingUsable(sourceSetting, QStringLiteral("Dorvik")) ||
        !SettingUsable(destSetting, QStringLiteral("SolvanePlus"))) {
        return;
    }
    const QString sourceFile = DatabaseFile(SourceDbPath);
    const QString destFile = DatabaseFile(DestDbPath);
    if (!FoldersUsable(sourceFile, destFile)) {
        return;
    }
    StartRun();
    if (rehearsal_) {
        Rehearse(sourceFile, destFile);
    } else {
        RunOn(sourceFile, destFile);
    }
}

void Conversion::RunOn(const QString& sourceFile, const QString& destFile) {
    dao::DatabaseHandle sourceDb;
    dao::DatabaseHandle destDb;
    if (!OpenDatabases(sourceDb, destDb, sourceFile, destFile)) {
        return;
    }
    // An error that nothing below catches stops the run here: both databases are closed and
    // the window stays usable.
    try {
        if (!RecipesCanRun(sourceDb, destDb) || !BackUpFiles(sourceDb, destDb)) {
            CloseQuietly(sourceDb);
            CloseQuietly(destDb);
            return;
        }
        runStarted_ = true;
        record_->AlsoTell(journal_);
        journalBeforeRun_ = std::exchange(journal_, record_.get());
        destCountsBefore_ = CountTables(destDb);
        for (const Recipe& recipe : AllRecipes()) {
            RunRecipe(recipe, sourceDb, destDb);
        }
        CheckOtherTables(destDb);
        // The report's hashes after the run are of the files' bytes: what a write-ahead log
        // holds goes into them, even while another program keeps the file open.
        sourceDb->Checkpoint();
        destDb->Checkpoint();
        CloseObject(sourceDb);
        CloseObject(destDb);
    } catch (...) {
        StopOnError(DescribeError(std::current_exception()), sourceDb, destDb);
        return;
    }
    ReportCompletion();
}

// ---- The rehearsal

bool Conversion::CopyForRehearsal(const QString& sourceFile, const QString& destFile) {
    dao::DatabaseHandle sourceDb;
    dao::DatabaseHandle destDb;
    if (!OpenDatabases(sourceDb, destDb, sourceFile, destFile)) {
        return false;
    }
    // Both files whole: the run reads the one and changes both.
    const std::vector<FileToBackUp> files{{kSourceProduct, &sourceDb, {}},
                                          {kDestProduct, &destDb, {}}};
    record_ = std::make_unique<RunRecord>(platform_.Version(), recordSeams_);
    record_->SetRehearsal(true);
    std::optional<RunRecord::Failure> failure;
    try {
        failure = record_->BackUp(platform_.RunsFolder(), files);
    } catch (...) {
        failure = RunRecord::Failure{QDir::toNativeSeparators(platform_.RunsFolder()),
                                     ErrorText(DescribeError(std::current_exception()))};
    }
    CloseQuietly(sourceDb);
    CloseQuietly(destDb);
    if (!failure) {
        return true;
    }
    record_.reset();
    log_.AddLog(QStringLiteral("작업 안 함: 미리 해보기 복사본을 만들지 못했습니다: ") +
                failure->cause);
    platform_.MsgBox(QStringLiteral("미리 해보기용 복사본을 만들지 못했습니다.") + kCrLf +
                         failure->folder + kCrLf + failure->cause + kCrLf +
                         QStringLiteral("실제 파일은 바꾸지 않았습니다."),
                     vbOKOnly);
    return false;
}

void Conversion::Rehearse(const QString& sourceFile, const QString& destFile) {
    const QString runsRoot = platform_.RunsFolder();
    // A rehearsal that was killed left its copies behind; they are of no use to anyone.
    RemoveRehearsalCopies(runsRoot);
    if (!CopyForRehearsal(sourceFile, destFile)) {
        return;
    }
    const RunManifest before = record_->Manifest();
    const QString folder = record_->Folder();
    const auto copyOf = [&](const QString& product) {
        for (const BackedUpFile& file : before.files) {
            if (file.product == product) {
                return QDir(folder).filePath(file.RelativeBackupPath());
            }
        }
        return QString();
    };
    RunOn(copyOf(kSourceProduct), copyOf(kDestProduct));
    if (record_) {
        // The run stopped at its checks: its report still says so.
        FinishRecord(QStringLiteral("작업 안 함"));
    }
    RemoveRehearsalCopies(runsRoot, folder);
    lastRehearsal_ = RehearsalFindings(before);
    lastRehearsal_->folder = folder;
    log_.AddLog(lastRehearsal_->originalsUnchanged
                    ? QStringLiteral("미리 해보기 끝: 실제 파일은 바뀌지 않았습니다.")
                    : QStringLiteral("미리 해보기 끝: 실제 파일이 미리 해보기 중에 바뀌었습니다."));
    if (showRehearsalSummary_) {
        platform_.MsgBox(lastRehearsal_->Summary(), vbOKOnly);
    }
}

RehearsedTable Conversion::RehearsedTableOf(const Recipe& recipe) const {
    RehearsedTable table;
    for (const RecipeStep& step : recipe.steps) {
        if (step.database == StepDatabase::Both) {
            table.tableName = step.tableName;
        }
    }
    for (size_t i = 0; i < copies_.size() && i < copiedTables_.size(); ++i) {
        if (copiedTables_[i] == table.tableName) {
            table.counts = copies_[i].counts;
            if (copies_[i].refusal) {
                table.refusal = CopyReport::RefusalReason(*copies_[i].refusal);
            }
        }
    }
    for (const auto& [checkIndex, statement] : leftOutStatements_) {
        if (checkIndex == recipe.checkIndex) {
            table.leftOut.push_back(statement);
        }
    }
    return table;
}

RehearsalResult Conversion::RehearsalFindings(const RunManifest& before) const {
    using Outcome = RehearsalResult::Outcome;
    RehearsalResult result;
    result.outcome = !runStarted_     ? Outcome::NotRehearsed
                     : RunHadErrors() ? Outcome::CompletesWithErrors
                                      : Outcome::Completes;
    result.runOutcome = lastOutcome_;
    result.failedRowsPath = failedRowsPath_;
    result.originalsUnchanged = lastHashesAfter_.size() == before.files.size();
    for (size_t i = 0; i < before.files.size() && result.originalsUnchanged; ++i) {
        result.originalsUnchanged =
            !before.files[i].sha256.isEmpty() && before.files[i].sha256 == lastHashesAfter_[i];
    }
    for (const Recipe* recipe : SelectedRecipes()) {
        result.tables.push_back(RehearsedTableOf(*recipe));
    }
    return result;
}
