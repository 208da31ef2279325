#include "conversion/Conversion.h"

#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <utility>
#include <vector>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif
#ifdef Q_OS_WIN
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max stay functions
#endif
#include <windows.h>

#include <optional>
#include <tuple>
#endif

namespace {

const QString kSourceApp = QStringLiteral("세금계산서");
const QString kDestApp = QStringLiteral("Solvane2");
const QString kSection = QStringLiteral("환경설정");
const QString kKey = QStringLiteral("db경로");
const QString kDbFileName = QStringLiteral("dbbasic.mdb");
const QString kCrLf = QStringLiteral("\r\n");
const QString kRule = QString(40, QLatin1Char('-'));

// The database file in a product's folder, joined as the folder stands: no trimming, a trailing
// separator kept.
QString DatabaseFile(const QString& folder) {
    return folder + QDir::separator() + kDbFileName;
}

bool FolderUnset(const QString& folder) {
    return folder.trimmed().isEmpty();
}

#ifdef Q_OS_WIN
// The volume and the file's index on it: the same for every name of a file (hard links, junctions,
// letter case, short names).
std::optional<std::tuple<DWORD, DWORD, DWORD>> FileIdentity(const QString& path) {
    const HANDLE file =
        CreateFileW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(path).utf16()),
                    FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!ok) {
        return std::nullopt;
    }
    return std::make_tuple(info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow);
}
#endif

// Whether two paths name the same file once `..`, links and, where the file system ignores it,
// letter case are resolved.
bool SameFile(const QString& a, const QString& b) {
#ifdef Q_OS_WIN
    const Qt::CaseSensitivity cs = Qt::CaseInsensitive;
#else
    const Qt::CaseSensitivity cs = Qt::CaseSensitive;
#endif
    const QFileInfo fa(a);
    const QFileInfo fb(b);
    if (fa.exists() && fb.exists()) {
#ifdef Q_OS_UNIX
        // Device and inode see through hard links and case-insensitive mounts alike.
        struct stat sa {};
        struct stat sb {};
        if (::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
            ::stat(QFile::encodeName(b).constData(), &sb) == 0) {
            return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
        }
#endif
#ifdef Q_OS_WIN
        const auto ia = FileIdentity(a);
        const auto ib = FileIdentity(b);
        if (ia && ib) {
            return *ia == *ib;
        }
#endif
        return fa.canonicalFilePath().compare(fb.canonicalFilePath(), cs) == 0;
    }
    return QDir::cleanPath(fa.absoluteFilePath())
               .compare(QDir::cleanPath(fb.absoluteFilePath()), cs) == 0;
}

QString ErrorText(const ErrorInfo& e) {
    return QStringLiteral("Error %1 (%2)").arg(e.Number).arg(e.Description);
}

bool IsLockError(int32_t number) {
    return number == dao::errRecordLocked || number == dao::errTableLocked ||
           number == dao::errDatabaseLocked;
}

}  // namespace

// ---- The table copy

class Conversion::TableCopy {
public:
    TableCopy(Conversion& owner, dao::DatabaseHandle& SourceDbs, dao::DatabaseHandle& DestDbs,
              const QString& TName)
        : owner_(owner), SourceDbs_(SourceDbs), DestDbs_(DestDbs), TName_(TName) {}

    void Run();

private:
    struct Occurrence {
        ErrorInfo first;
        int64_t count = 0;
    };

    // Runs one step; a failure goes to the handler and the caller continues with the step
    // that follows. An error raised inside the handler leaves the copy.
    template <class Step>
    bool Try(Step&& step) {
        try {
            step();
            return true;
        } catch (...) {
            Handle();
            return false;
        }
    }
    void Handle();
    bool MapColumns();
    void LogOutcome();
    void CloseRecordsets();
    void AddLog(const QString& line) { owner_.log_.AddLog(line); }

    Conversion& owner_;
    dao::DatabaseHandle& SourceDbs_;
    dao::DatabaseHandle& DestDbs_;
    const QString& TName_;

    QString SelectSql;
    dao::RecordsetHandle SourceRs;
    dao::RecordsetHandle DestRs;
    // The destination position of each source field, resolved once from the names.
    std::vector<int16_t> destPositions_;
    // The field value on its way from source to destination, kept across fields and rows so
    // that a text reuses the memory of the one before.
    dao::Value field_;

    std::map<int32_t, Occurrence> errors_;
    ErrorInfo firstError_;
    int64_t recordCount_ = 0;
    int64_t rowsRead_ = 0;
    int64_t rowsSaved_ = 0;
    // Another process holds the file locked: every further save would wait for the lock and fail.
    bool locked_ = false;
};

void Conversion::TableCopy::Handle() {
    const ErrorInfo error = DescribeError(std::current_exception());

    // A new row that is still pending is discarded first. A failure here leaves the copy.
    if (!DestRs.IsEmpty() && DestRs->EditMode() != 0) {
        DestRs->CancelUpdate(dao::dbUpdateRegular);
    }

    owner_.runHadErrors_ = true;
    if (errors_.empty()) {
        firstError_ = error;
    }
    locked_ = locked_ || IsLockError(error.Number);
    // A batch that could not be committed takes back rows that were counted as saved.
    rowsSaved_ -= std::min(rowsSaved_, error.RowsLost);
    // A fault that hits every row would otherwise show one modal box per row: each distinct
    // error is shown once, and the rest are counted and logged.
    Occurrence& seen = errors_[error.Number];
    if (seen.count++ == 0) {
        seen.first = error;
        owner_.platform_.MsgBox(
            ErrorText(error) + QStringLiteral(" in procedure CopyData of Form Form1"), vbOKOnly);
    }
}

bool Conversion::TableCopy::MapColumns() {
    const int16_t count = SourceRs->FieldCount();
    QStringList missing;
    destPositions_.assign(static_cast<size_t>(count), -1);
    for (int16_t i = 0; i < count; ++i) {
        const QString name = SourceRs->FieldName(i);
        const int16_t position = DestRs->FieldPosition(name);
        if (position < 0) {
            missing << name;
        }
        destPositions_[static_cast<size_t>(i)] = position;
    }
    if (missing.isEmpty()) {
        return true;
    }
    // Every row would fail after the destination was emptied: refuse before deleting anything.
    owner_.runHadErrors_ = true;
    const QString columns = missing.join(QStringLiteral(", "));
    owner_.platform_.MsgBox(
        QStringLiteral("'%1' 자료를 복사하지 않았습니다.").arg(TName_) + kCrLf +
            QStringLiteral("원본 테이블의 다음 열이 대상 테이블에 없습니다: %1").arg(columns) +
            kCrLf + QStringLiteral("대상 테이블의 자료는 그대로 두었습니다."),
        vbOKOnly);
    AddLog(QStringLiteral("%1 복사 안 함: 대상에 없는 열 %2").arg(TName_, columns));
    return false;
}

void Conversion::TableCopy::CloseRecordsets() {
    // A close that cannot commit the last saved rows has closed the recordset all the same. The
    // handle is emptied before the close, so that the handler reports that failure rather than
    // failing itself on the closed recordset's edit mode.
    Try([&] {
        dao::RecordsetHandle rs = std::exchange(SourceRs, {});
        CloseObject(rs);
    });
    Try([&] {
        dao::RecordsetHandle rs = std::exchange(DestRs, {});
        CloseObject(rs);
    });
}

void Conversion::TableCopy::LogOutcome() {
    if (errors_.empty()) {
        AddLog(TName_ + QStringLiteral(" 데이터복사완료"));
        return;
    }
    for (const auto& [number, seen] : errors_) {
        if (seen.count > 1) {
            AddLog(QStringLiteral("%1 %2: 같은 오류 %3건 (메시지는 처음 한 번만 표시)")
                       .arg(TName_, ErrorText(seen.first))
                       .arg(seen.count));
        }
    }
    if (locked_ && rowsRead_ < recordCount_) {
        AddLog(QStringLiteral("%1 복사 중단: 다른 프로그램이 파일을 잠그고 있어 나머지 행을 "
                              "복사하지 않았습니다.")
                   .arg(TName_));
    }
    const int64_t total = std::max(recordCount_, rowsRead_);
    AddLog(QStringLiteral("%1 데이터복사 중 오류: %2건 중 %3건 복사, %4건 실패 (첫 오류: %5)")
               .arg(TName_)
               .arg(total)
               .arg(rowsSaved_)
               .arg(total - rowsSaved_)
               .arg(ErrorText(firstError_)));
}

void Conversion::TableCopy::Run() {
    Platform& platform = owner_.platform_;
    ProgressBar& progress = owner_.progress_;

    Try([&] { SelectSql = QStringLiteral("SELECT * FROM ") + TName_; });

    bool opened = false;
    if (!Try([&] { opened = OpenReadRecordset(platform, SourceDbs_, SourceRs, SelectSql); }) ||
        !opened) {
        Try([&] { AddLog(QStringLiteral("파일 교체중 원본열기에서 오류발생 ") + SelectSql); });
        CloseRecordsets();
        return;
    }

    bool empty = false;
    Try([&] { empty = SourceRs->Eof(); });
    if (empty) {
        CloseRecordsets();
        return;
    }

    // The destination is opened and its columns checked before its rows are deleted, so that a
    // fault visible at this point leaves the destination's rows in place.
    opened = false;
    if (!Try([&] { opened = OpenWriteRecordset(platform, DestDbs_, DestRs, SelectSql); }) ||
        !opened) {
        Try([&] { AddLog(QStringLiteral("파일 교체중 대상열기에서 오류발생 ") + SelectSql); });
        CloseRecordsets();
        return;
    }
    bool columnsMatch = false;
    if (!Try([&] { columnsMatch = MapColumns(); }) || !columnsMatch) {
        CloseRecordsets();
        return;
    }

    Try([&] { DestDbs_->Execute(QStringLiteral("delete from ") + TName_); });

    Try([&] { SourceRs->MoveLast(0); });
    Try([&] { SourceRs->MoveFirst(); });
    Try([&] {
        recordCount_ = SourceRs->RecordCount();
        progress.SetMax(static_cast<float>(recordCount_));
    });
    Try([&] { progress.SetValue(0); });

    for (;;) {
        bool atEnd = true;
        if (!Try([&] { atEnd = SourceRs->Eof(); }) || atEnd || locked_) {
            break;
        }
        ++rowsRead_;
        Try([&] { DestRs->AddNew(); });

        // When the field count cannot be read the row gets no field; its save still follows.
        int16_t bound = -1;
        Try([&] { bound = static_cast<int16_t>(SourceRs->FieldCount() - 1); });
        bound = std::min<int16_t>(bound, static_cast<int16_t>(destPositions_.size() - 1));

        // A failing field write gives the row up once: the handler has cancelled it, so the
        // remaining fields and the save are skipped rather than each failing on their own.
        bool rowGivenUp = false;
        for (int16_t position = 0; position <= bound && !rowGivenUp; ++position) {
            rowGivenUp = !Try([&] {
                const int16_t target = destPositions_[static_cast<size_t>(position)];
                SourceRs->ReadFieldValue(position, field_);
                DestRs->SetFieldValue(target, field_);
            });
        }
        if (!rowGivenUp && Try([&] { DestRs->Update(dao::dbUpdateRegular, false); })) {
            ++rowsSaved_;
        }

        const bool moved = Try([&] { SourceRs->MoveNext(); });
        Try([&] { progress.SetValue(progress.Value() + 1); });
        // A recordset that cannot move on would copy the same row forever.
        if (!moved) {
            break;
        }
    }

    // Closing commits the last saved rows, so the outcome is known only after it.
    CloseRecordsets();
    Try([&] { LogOutcome(); });
}

// ---- The Start command and the recipes

Conversion::Conversion(Platform& platform, LogPane& log, ProgressBar& progress, CheckBoxes& check1)
    : platform_(platform), log_(log), progress_(progress), check1_(check1) {}

void Conversion::CopyData(dao::DatabaseHandle& SourceDbs, dao::DatabaseHandle& DestDbs,
                          const QString& TName) {
    TableCopy(*this, SourceDbs, DestDbs, TName).Run();
}

void Conversion::ProductRecipe(dao::DatabaseHandle& SourceDb, dao::DatabaseHandle& DestDb) {
    if (check1_.Value(0) != 1) {
        return;
    }
    SourceDb->Execute(QStringLiteral("UPDATE product SET unit = ' ' where unit = ''"));
    CopyData(SourceDb, DestDb, QStringLiteral("product"));
    DestDb->Execute(QStringLiteral(
        "Insert Into pclass (Code, ClassName,Used) values ('00001', '대분류명', true)"));
    DestDb->Execute(QStringLiteral("update product set classcode = '00001'"));
    DestDb->Execute(QStringLiteral("UPDATE product SET ptax = 1"));
    DestDb->Execute(QStringLiteral("UPDATE product SET reserve1 = ''"));
    DestDb->Execute(QStringLiteral("UPDATE product SET reserve2 = ''"));
    DestDb->Execute(QStringLiteral("UPDATE product SET reserve3 = ''"));
    DestDb->Execute(QStringLiteral("UPDATE Product SET BManage = True"));
}

void Conversion::TraderRecipe(dao::DatabaseHandle& SourceDb, dao::DatabaseHandle& DestDb) {
    if (check1_.Value(1) != 1) {
        return;
    }
    CopyData(SourceDb, DestDb, QStringLiteral("trader"));
    DestDb->Execute(QStringLiteral("UPDATE Trader Set section = 1"));
    DestDb->Execute(QStringLiteral("UPDATE Trader Set HPhone = '' where hphone is null"));
    DestDb->Execute(QStringLiteral("Update Trader Set MultyCostNo = 0"));
    DestDb->Execute(QStringLiteral("UPDATE Trader SET SaleDC = 0"));
    DestDb->Execute(QStringLiteral("UPDATE Trader SET TradeStop = false"));
    DestDb->Execute(QStringLiteral("UPDATE Trader SET U_Name2 = U_Name"));
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

bool Conversion::RecipesCanRun(dao::DatabaseHandle& SourceDb, dao::DatabaseHandle& DestDb) {
    // A statement that names a missing table or column would stop the run half done: after the
    // source's units were changed, or after the destination's rows were replaced but not adapted.
    // So would a copy whose source has a column that the destination lacks. A SolvanePlus that
    // was installed but never run lacks its tables.
    struct Table {
        QString name;
        bool copied;           // also in the source, and every source column in the destination
        QStringList inSource;  // what the statements on the source name
        QStringList inDest;    // what the statements on the destination name
    };
    std::vector<Table> tables;
    if (check1_.Value(0) == 1) {
        tables.push_back(
            {QStringLiteral("product"),
             true,
             {QStringLiteral("unit")},
             {QStringLiteral("unit"), QStringLiteral("classcode"), QStringLiteral("ptax"),
              QStringLiteral("reserve1"), QStringLiteral("reserve2"), QStringLiteral("reserve3"),
              QStringLiteral("BManage")}});
        tables.push_back(
            {QStringLiteral("pclass"),
             false,
             {},
             {QStringLiteral("Code"), QStringLiteral("ClassName"), QStringLiteral("Used")}});
    }
    if (check1_.Value(1) == 1) {
        tables.push_back(
            {QStringLiteral("trader"),
             true,
             {},
             {QStringLiteral("section"), QStringLiteral("HPhone"), QStringLiteral("MultyCostNo"),
              QStringLiteral("SaleDC"), QStringLiteral("TradeStop"), QStringLiteral("U_Name"),
              QStringLiteral("U_Name2")}});
    }

    // The table as a snapshot; empty when there is no such table. Any other failure stops the
    // run as it would have stopped at the statement.
    const auto open = [](dao::DatabaseHandle& db, const QString& table) {
        try {
            return dao::RecordsetHandle(
                db->OpenRecordset(QStringLiteral("SELECT * FROM ") + table, dao::dbOpenSnapshot));
        } catch (const dao::Error& e) {
            if (e.Number() != dao::errObjectNotFound) {
                throw;
            }
        }
        return dao::RecordsetHandle();
    };
    // What is wrong with a table for the statements: missing, or lacking some of the names (as
    // the engine matches them); empty when nothing is.
    const auto problemWith = [](dao::RecordsetHandle& rs, const QString& table,
                                const QStringList& names) {
        if (rs.IsEmpty()) {
            return QStringLiteral("'%1' 테이블이 없습니다.").arg(table);
        }
        QStringList missing;
        for (const QString& name : names) {
            if (rs->FieldPosition(name) < 0 && !missing.contains(name, Qt::CaseInsensitive)) {
                missing << name;
            }
        }
        if (missing.isEmpty()) {
            return QString();
        }
        return QStringLiteral("'%1' 테이블에 다음 열이 없습니다: %2")
            .arg(table, missing.join(QStringLiteral(", ")));
    };

    for (const Table& table : tables) {
        dao::DatabaseHandle* db = &SourceDb;
        QString problem;
        dao::RecordsetHandle source;
        if (table.copied) {
            source = open(SourceDb, table.name);
            problem = problemWith(source, table.name, table.inSource);
        }
        if (problem.isEmpty()) {
            db = &DestDb;
            dao::RecordsetHandle dest = open(DestDb, table.name);
            QStringList names = table.inDest;
            for (int16_t i = 0; !source.IsEmpty() && i < source->FieldCount(); ++i) {
                names << source->FieldName(i);
            }
            problem = problemWith(dest, table.name, names);
            CloseObject(dest);
        }
        CloseObject(source);
        if (problem.isEmpty()) {
            continue;
        }
        const bool inDest = db == &DestDb;
        const QString what =
            QStringLiteral("%1 데이터베이스의 %2")
                .arg(inDest ? QStringLiteral("SolvanePlus") : QStringLiteral("Dorvik"), problem);
        const QString advice =
            inDest ? QStringLiteral("SolvanePlus를 설치한 뒤 한 번 실행했는지 확인하세요.")
                   : QStringLiteral("Dorvik의 데이터베이스 폴더 설정이 맞는지 확인하세요.");
        log_.AddLog(QStringLiteral("작업 안 함: ") + what);
        platform_.MsgBox(what + kCrLf + QDir::toNativeSeparators((*db)->Name()) + kCrLf + advice +
                             kCrLf + QStringLiteral("아무 자료도 바꾸지 않았습니다."),
                         vbOKOnly);
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

void Conversion::StopOnError(const ErrorInfo& error, dao::DatabaseHandle& SourceDb,
                             dao::DatabaseHandle& DestDb) {
    CloseQuietly(SourceDb);
    CloseQuietly(DestDb);
    log_.AddLog(QStringLiteral("오류로 작업 중단: ") + ErrorText(error));
    platform_.MsgBox(ErrorText(error) + kCrLf + kCrLf +
                         QStringLiteral("오류로 작업을 중단했습니다. 작업 기록을 확인하세요."),
                     vbOKOnly);
}

void Conversion::Command1_Click() {
    dao::DatabaseHandle SourceDb;
    dao::DatabaseHandle DestDb;

    if (check1_.Value(0) == 0 && check1_.Value(1) == 0) {
        platform_.MsgBox(QStringLiteral("상품복사나 거래처복사중 하나 이상을 선택하세요."),
                         vbOKOnly);
        return;
    }

    const QString password =
        platform_.InputBox(QStringLiteral("실행 암호를 입력하세요. 문의: ") + kSupportPhone, true);
    if (password != kRunPassword) {
        platform_.MsgBox(QStringLiteral("암호가 틀립니다."), vbOKOnly);
        return;
    }

    const QString confirm = QStringLiteral("※작업전 데이터를 꼭 백업하세요!") + kCrLf + kCrLf +
                            QStringLiteral(
                                "Dorvik 또는 SolvanePlus 프로그램이 열려 있을 경우 "
                                "닫고 시작하세요.") +
                            kCrLf + QStringLiteral("시작 하시겠습니까?");
    if (platform_.MsgBox(confirm, vbYesNo + vbQuestion + vbDefaultButton2) == vbNo) {
        return;
    }

    SourceDbPath = platform_.GetSetting(kSourceApp, kSection, kKey);
    DestDbPath = platform_.GetSetting(kDestApp, kSection, kKey);
    const QString sourceFile = DatabaseFile(SourceDbPath);
    const QString destFile = DatabaseFile(DestDbPath);
    if (!FoldersUsable(sourceFile, destFile)) {
        return;
    }

    runHadErrors_ = false;
    log_.SetText(QString());
    log_.AddLog(QString());
    log_.AddLog(QStringLiteral("작업 시작"));
    log_.AddLog(QString());

    if (!MyOpenDB(platform_, SourceDb, sourceFile, 0)) {
        return;
    }
    if (!MyOpenDB(platform_, DestDb, destFile, 0)) {
        // Released now rather than whenever the handle happens to go.
        CloseQuietly(SourceDb);
        return;
    }

    // An error that nothing below catches stops the run here: both databases are closed and
    // the window stays usable.
    try {
        if (!RecipesCanRun(SourceDb, DestDb)) {
            CloseQuietly(SourceDb);
            CloseQuietly(DestDb);
            return;
        }
        ProductRecipe(SourceDb, DestDb);
        TraderRecipe(SourceDb, DestDb);
        CloseObject(SourceDb);
        CloseObject(DestDb);
    } catch (...) {
        StopOnError(DescribeError(std::current_exception()), SourceDb, DestDb);
        return;
    }

    log_.AddLog(kRule);
    if (runHadErrors_) {
        log_.AddLog(QStringLiteral("자료 교체 완료 (오류 있음: 작업 기록을 확인하세요)"));
        log_.AddLog(kRule);
        platform_.MsgBox(QStringLiteral("자료 교체가 끝났지만 오류가 있었습니다.") + kCrLf +
                             QStringLiteral("작업 기록을 확인하세요."),
                         vbOKOnly);
        return;
    }
    log_.AddLog(QStringLiteral("자료 교체 완료"));
    log_.AddLog(kRule);
    platform_.MsgBox(QStringLiteral("자료 교체가 완료 되었습니다."), vbOKOnly);
}
