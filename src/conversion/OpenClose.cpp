#include "conversion/OpenClose.h"

#include <memory>
#include <new>

namespace {

// The numbers the classic runtime gives failures that do not come from the engine.
constexpr int32_t kErrOutOfMemory = 7;
constexpr int32_t kErrInternal = 51;

// One engine per process, created by the first database open and never released.
std::unique_ptr<dao::DBEngine>& EngineSlot() {
    static std::unique_ptr<dao::DBEngine> slot;
    return slot;
}

OpenResult OpenRecordsetReporting(Platform& platform, const dao::DatabaseHandle& database,
                                  dao::RecordsetHandle& recordset, const QString& sqlText,
                                  int32_t type) {
    OpenResult result;
    try {
        std::shared_ptr<dao::Recordset> opened = database->OpenRecordset(sqlText, type);
        recordset = dao::RecordsetHandle(std::move(opened));
    } catch (...) {
        result.failure = DescribeError(std::current_exception());
    }

    // A lone carriage return joins the two parts of these messages.
    const QString cr(QLatin1Char('\r'));
    const ErrorInfo& failure = result.failure;
    switch (failure.number) {
        case 0:
            break;
        case dao::errObjectNotSet:
            ShowMessage(platform,
                        QStringLiteral("Data Base MDB가 선언되지 않았습니다.") + cr + sqlText,
                        QStringLiteral("MDB 오류"));
            break;
        case dao::errObjectNotFound:
            ShowMessage(platform,
                        QStringLiteral("Jet Data Base Engine의 식을 확인하세요.") + cr + sqlText,
                        QStringLiteral("Query"));
            break;
        case dao::errTableLocked:
            ShowMessage(platform, failure.description + cr + sqlText, QStringLiteral("MDB 오류"));
            break;
        default:
            ShowMessage(platform, failure.description + cr + sqlText, QStringLiteral("ERROR"));
            break;
    }
    return result;
}

}  // namespace

ErrorInfo DescribeError(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const dao::Error& e) {
        return {e.Number(), e.Description(), e.RowsLost(), dao::RawDiagnostic(e.Context())};
    } catch (const std::bad_alloc&) {
        return {kErrOutOfMemory, QStringLiteral("메모리가 부족합니다.")};
    } catch (const std::exception& e) {
        return {kErrInternal,
                QStringLiteral("내부 오류: %1").arg(QString::fromLocal8Bit(e.what()))};
    } catch (...) {
        return {kErrInternal, QStringLiteral("내부 오류")};
    }
}

QString ErrorText(const ErrorInfo& error) {
    QString text = QStringLiteral("Error %1 (%2)").arg(error.number).arg(error.description);
    // What the driver itself said goes beside the wording, for support.
    if (!error.diagnostic.isEmpty()) {
        text += QStringLiteral(" [%1]").arg(error.diagnostic);
    }
    return text;
}

OpenResult MyOpenDB(Platform& platform, dao::DatabaseHandle& database, const QString& fileName,
                    int16_t openOptions, const QString& product) {
    OpenResult result;
    try {
        std::shared_ptr<dao::Database> opened = ProcessEngine().OpenDatabase(fileName, openOptions);
        database = dao::DatabaseHandle(std::move(opened));
    } catch (...) {
        result.failure = DescribeError(std::current_exception());
    }
    if (!result && !product.isEmpty() && dao::IsInUseNumber(result.failure.number)) {
        result.failure.description +=
            QStringLiteral(
                " %1 프로그램을 이 PC와 이 폴더를 쓰는 다른 PC에서 모두 닫은 뒤 다시 "
                "실행하세요.")
                .arg(product);
    }
    if (!result) {
        platform.MsgBox(
            QString::number(result.failure.number) + QLatin1Char(' ') + result.failure.description,
            vbOKOnly);
    }
    return result;
}

OpenResult OpenReadRecordset(Platform& platform, const dao::DatabaseHandle& database,
                             dao::RecordsetHandle& recordset, const QString& sqlText) {
    return OpenRecordsetReporting(platform, database, recordset, sqlText, dao::dbOpenSnapshot);
}

OpenResult OpenWriteRecordset(Platform& platform, const dao::DatabaseHandle& database,
                              dao::RecordsetHandle& recordset, const QString& sqlText) {
    return OpenRecordsetReporting(platform, database, recordset, sqlText, dao::dbOpenDynaset);
}

void ShowMessage(Platform& platform, const QString& text, const QString& title) {
    platform.Beep();
    platform.MsgBox(text, vbOKOnly, title.isEmpty() ? platform.AppTitle() : title);
}

dao::DBEngine& ProcessEngine() {
    std::unique_ptr<dao::DBEngine>& engine = EngineSlot();
    if (!engine) {
        engine = std::make_unique<dao::DBEngine>();
    }
    return *engine;
}

const dao::DBEngine* CurrentEngine() {
    return EngineSlot().get();
}
