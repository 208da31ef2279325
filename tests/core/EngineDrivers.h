#pragma once

// The drivers that the engine's contract tests run against. The same SQLite files serve every
// driver: the C API driver reads them directly, the ODBC driver through the SQLite ODBC driver.

#include <string>
#include <vector>

#include "data/EngineOptions.h"
#include "support/Wine.h"

namespace enginetest {

enum class Driver { SqliteCApi, Odbc };

// The drivers whose contract tests run in this build.
inline std::vector<Driver> DriversToRun() {
    return {Driver::SqliteCApi, Driver::Odbc};
}

inline std::string DriverName(Driver driver) {
    return driver == Driver::SqliteCApi ? "SqliteCApi" : "Odbc";
}

// Engine options that send the engine's SQLite files to the given driver.
inline dao::EngineOptions OptionsFor(Driver driver) {
    dao::EngineOptions options;
    options.sqliteThroughOdbc = driver == Driver::Odbc;
    options.odbcSqlitePath = OdbcDriverPath;
    return options;
}

}  // namespace enginetest
