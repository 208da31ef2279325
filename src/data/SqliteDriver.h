#pragma once

// The SQLite driver of the engine, over SQLite's C API. OpenSqliteDatabase (Drivers.h) is its
// entry point; what is declared here are the pieces worth testing on their own.

#include <QByteArray>
#include <QString>
#include <cstdint>

namespace dao::detail::sqlite {

// The engine's error number for a failure that SQLite reports with this extended result code and
// message: a statement that cannot run, a row that cannot be saved, a lock, a full disk.
int32_t ErrorNumber(int extendedCode, const QString& message);

}  // namespace dao::detail::sqlite
