#pragma once

// The few ODBC calls made directly, past Qt: listing the installed drivers and reading a failed
// call's SQLSTATE.

#include <QLibrary>
#include <QStringList>
#include <optional>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif
#include <sql.h>
#include <sqlext.h>

#include "data/OdbcDriver.h"

namespace dao::detail::odbc {

// QODBC keeps a failure's SQLSTATE to itself in older Qt versions (it reports the driver's text and
// native number only), and the driver's text is translated on a localised Windows. The SQLSTATE is
// therefore read from the statement handle that QODBC exposes, and the installed drivers are listed
// before an Access file is opened. The functions come at run time from the driver manager that
// QODBC has already loaded, so the build needs no ODBC import library.
class OdbcApi {
public:
    static const OdbcApi& Get();

    // The names of the installed ODBC drivers; nullopt when they cannot be listed.
    std::optional<QStringList> InstalledDrivers() const;

    // The first error record of a handle (a warning record only when there is no error record).
    std::optional<Diagnostic> FirstRecord(SQLSMALLINT handleType, SQLHANDLE handle) const;

    // A text that SQLGetInfo gives about a connection (SQL_DRIVER_NAME, SQL_DBMS_VER, ...);
    // empty when it cannot be read.
    QString InfoText(SQLHANDLE connection, SQLUSMALLINT infoType) const;

private:
    using AllocHandleFn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLHANDLE*);
    using SetEnvAttrFn = SQLRETURN(SQL_API*)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER);
    using DriversFn = SQLRETURN(SQL_API*)(SQLHENV, SQLUSMALLINT, SQLCHAR*, SQLSMALLINT,
                                          SQLSMALLINT*, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*);
    using FreeHandleFn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE);
    using GetInfoFn = SQLRETURN(SQL_API*)(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT,
                                          SQLSMALLINT*);
    using GetDiagRecFn = SQLRETURN(SQL_API*)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR*,
                                             SQLINTEGER*, SQLCHAR*, SQLSMALLINT, SQLSMALLINT*);
    OdbcApi();

    QLibrary library_;
    AllocHandleFn allocHandle_ = nullptr;
    SetEnvAttrFn setEnvAttr_ = nullptr;
    DriversFn drivers_ = nullptr;
    FreeHandleFn freeHandle_ = nullptr;
    GetDiagRecFn getDiagRec_ = nullptr;
    GetInfoFn getInfo_ = nullptr;
};

}  // namespace dao::detail::odbc
