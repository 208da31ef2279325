// The few ODBC calls made directly, through the driver manager that QODBC has loaded.

#include "data/OdbcApi.h"

#include <cstdint>
#include <utility>

namespace dao::detail::odbc {

const OdbcApi& OdbcApi::Get() {
    static const OdbcApi api;
    return api;
}

std::optional<QStringList> OdbcApi::InstalledDrivers() const {
    if (allocHandle_ == nullptr || setEnvAttr_ == nullptr || drivers_ == nullptr ||
        freeHandle_ == nullptr) {
        return std::nullopt;
    }
    SQLHANDLE env = SQL_NULL_HANDLE;
    if (!SQL_SUCCEEDED(allocHandle_(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
        return std::nullopt;
    }
    setEnvAttr_(env, SQL_ATTR_ODBC_VERSION,
                reinterpret_cast<SQLPOINTER>(static_cast<uintptr_t>(SQL_OV_ODBC3)), 0);
    QStringList names;
    // Room for a driver's name and its attribute list, as long as any driver writes them.
    constexpr std::size_t kDescriptionBytes = 512;
    constexpr std::size_t kAttributeBytes = 2048;
    SQLCHAR description[kDescriptionBytes];
    SQLCHAR attributes[kAttributeBytes];
    SQLUSMALLINT direction = SQL_FETCH_FIRST;
    bool listed = true;
    for (;;) {
        SQLSMALLINT descriptionLength = 0;
        SQLSMALLINT attributesLength = 0;
        const SQLRETURN r =
            drivers_(env, direction, description, sizeof description, &descriptionLength,
                     attributes, sizeof attributes, &attributesLength);
        if (r == SQL_NO_DATA) {
            break;
        }
        if (!SQL_SUCCEEDED(r)) {
            listed = false;
            break;
        }
        names << QString::fromLocal8Bit(reinterpret_cast<const char*>(description));
        direction = SQL_FETCH_NEXT;
    }
    freeHandle_(SQL_HANDLE_ENV, env);
    if (!listed) {
        return std::nullopt;
    }
    return names;
}

std::optional<Diagnostic> OdbcApi::FirstRecord(SQLSMALLINT handleType, SQLHANDLE handle) const {
    if (getDiagRec_ == nullptr || handle == SQL_NULL_HANDLE) {
        return std::nullopt;
    }
    std::optional<Diagnostic> first;
    // A driver reports a handful of records at most; the first error among them is the cause.
    constexpr SQLSMALLINT kMaxRecords = 16;
    for (SQLSMALLINT record = 1; record <= kMaxRecords; ++record) {
        SQLCHAR state[SQL_SQLSTATE_SIZE + 1] = {};
        SQLINTEGER native = 0;
        SQLCHAR text[SQL_MAX_MESSAGE_LENGTH] = {};
        SQLSMALLINT length = 0;
        const SQLRETURN r =
            getDiagRec_(handleType, handle, record, state, &native, text, sizeof text, &length);
        if (!SQL_SUCCEEDED(r)) {
            break;
        }
        Diagnostic d;
        d.sqlState = QString::fromLatin1(reinterpret_cast<const char*>(state)).trimmed();
        d.nativeCode = QString::number(native);
        d.message = QString::fromLocal8Bit(reinterpret_cast<const char*>(text)).trimmed();
        if (!d.sqlState.startsWith(QLatin1String("01"))) {
            return d;
        }
        if (!first) {
            first = d;
        }
    }
    return first;
}

QString OdbcApi::InfoText(SQLHANDLE connection, SQLUSMALLINT infoType) const {
    if (getInfo_ == nullptr || connection == SQL_NULL_HANDLE) {
        return {};
    }
    constexpr SQLSMALLINT kInfoBytes = 512;
    SQLCHAR text[kInfoBytes] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(getInfo_(connection, infoType, text, kInfoBytes, &length))) {
        return {};
    }
    return QString::fromLocal8Bit(reinterpret_cast<const char*>(text)).trimmed();
}

OdbcApi::OdbcApi() {
#if defined(_WIN32)
    const std::pair<const char*, int> candidates[] = {{"odbc32", -1}};
#elif defined(__APPLE__)
    const std::pair<const char*, int> candidates[] = {{"iodbc", 2}, {"odbc", 2}};
#else
    const std::pair<const char*, int> candidates[] = {{"odbc", 2}, {"odbc", -1}, {"iodbc", 2}};
#endif
    for (const auto& [name, version] : candidates) {
        library_.setFileNameAndVersion(QString::fromLatin1(name), version);
        if (library_.load()) {
            break;
        }
    }
    if (!library_.isLoaded()) {
        return;
    }
    allocHandle_ = reinterpret_cast<AllocHandleFn>(library_.resolve("SQLAllocHandle"));
    setEnvAttr_ = reinterpret_cast<SetEnvAttrFn>(library_.resolve("SQLSetEnvAttr"));
    drivers_ = reinterpret_cast<DriversFn>(library_.resolve("SQLDrivers"));
    freeHandle_ = reinterpret_cast<FreeHandleFn>(library_.resolve("SQLFreeHandle"));
    getDiagRec_ = reinterpret_cast<GetDiagRecFn>(library_.resolve("SQLGetDiagRec"));
    getInfo_ = reinterpret_cast<GetInfoFn>(library_.resolve("SQLGetInfo"));
}

}  // namespace dao::detail::odbc
