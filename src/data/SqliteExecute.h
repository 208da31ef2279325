#pragma once

// Action statements on an SQLite file, run and counted through the replay that both drivers
// share (RowByRow.h).

#include "data/SqliteConnection.h"

namespace dao::detail::sqlite {

// Runs one action statement in a transaction of its own and counts the rows it changed and left
// out. No transaction may be open on the connection.
ExecuteOutcome ExecuteCounted(Connection& conn, const QString& sql);

}  // namespace dao::detail::sqlite
