#include "conversion/OpenClose.h"

#include <memory>
#include <new>

namespace {

// One engine per process, created by the first database open and never released.
std::unique_ptr<dao::DBEngine>& EngineSlot() {
    static std::unique_ptr<dao::DBEngine> slot;
    return slot;
}

bool OpenRecordsetReporting(Platform& platform, const dao::DatabaseHandle& Dbs,
                            dao::RecordsetHandle& Rs, const QString& SqlText, int32_t type) {
    ErrorInfo pending;
    try {
        std::shared_ptr<dao::Recordset> opened = Dbs->OpenRecordset(SqlText, type);
        Rs = dao::RecordsetHandle(std::move(opened));
    } catch (...) {
        pending = DescribeError(std::current_exception());
    }

    // A lone carriage return joins the two parts of these messages.
    const QString cr(QChar(13));
    switch (pending.Number) {
        case 0:
            break;
        case dao::errObjectNotSet:
            ShowMessage(platform,
                        QStringLiteral("Data Base MDB가 선언되지 않았습니다.") + cr + SqlText,
                        QStringLiteral("MDB 오류"));
            break;
        case dao::errObjectNotFound:
            ShowMessage(platform,
                        QStringLiteral("Jet Data Base Engine의 식을 확인하세요.") + cr + SqlText,
                        QStringLiteral("Query"));
            break;
        case dao::errTableLocked:
            ShowMessage(platform, pending.Description + cr + SqlText, QStringLiteral("MDB 오류"));
            break;
        default:
            ShowMessage(platform, pending.Description + cr + SqlText, QStringLiteral("ERROR"));
            break;
    }
    return pending.Number == 0;
}

}  // namespace

ErrorInfo DescribeError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const dao::Error& e) {
        return {e.Number(), e.Description(), e.RowsLost()};
    } catch (const std::bad_alloc&) {
        return {7, QStringLiteral("메모리가 부족합니다.")};
    } catch (const std::exception& e) {
        return {51, QStringLiteral("내부 오류: %1").arg(QString::fromLocal8Bit(e.what()))};
    } catch (...) {
        return {51, QStringLiteral("내부 오류")};
    }
}

bool MyOpenDB(Platform& platform, dao::DatabaseHandle& cObject, const QString& MdbName,
              int16_t OpenMode) {
    ErrorInfo pending;
    try {
        std::unique_ptr<dao::DBEngine>& engine = EngineSlot();
        if (!engine) {
            engine = std::make_unique<dao::DBEngine>();
        }
        std::shared_ptr<dao::Database> opened = engine->OpenDatabase(MdbName, OpenMode);
        cObject = dao::DatabaseHandle(std::move(opened));
    } catch (...) {
        pending = DescribeError(std::current_exception());
    }
    if (pending.Number == 0) {
        return true;
    }
    platform.MsgBox(QString::number(pending.Number) + QLatin1Char(' ') + pending.Description,
                    vbOKOnly);
    return false;
}

bool OpenReadRecordset(Platform& platform, const dao::DatabaseHandle& Dbs, dao::RecordsetHandle& Rs,
                       const QString& SqlText) {
    return OpenRecordsetReporting(platform, Dbs, Rs, SqlText, dao::dbOpenSnapshot);
}

bool OpenWriteRecordset(Platform& platform, const dao::DatabaseHandle& Dbs,
                        dao::RecordsetHandle& Rs, const QString& SqlText) {
    return OpenRecordsetReporting(platform, Dbs, Rs, SqlText, dao::dbOpenDynaset);
}

void ShowMessage(Platform& platform, const QString& MsgText, const QString& MsgTitle) {
    platform.Beep();
    const QString title = MsgTitle.isEmpty() ? platform.AppTitle() : MsgTitle;
    platform.MsgBox(MsgText, vbOKOnly, title);
}

const dao::DBEngine* CurrentEngine() {
    return EngineSlot().get();
}
