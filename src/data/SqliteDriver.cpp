#include "data/Drivers.h"

namespace dao::detail {

std::shared_ptr<Database> OpenSqliteDatabase(const QString& path) {
    throw Error(errDriverFailure, QStringLiteral("not yet: %1").arg(path));
}

}  // namespace dao::detail
