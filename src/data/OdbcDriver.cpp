#include "data/Drivers.h"

namespace dao::detail {

std::shared_ptr<Database> OpenOdbcDatabase(const QString& path, OdbcTarget /*target*/) {
    throw Error(errInstallableIsam,
                QStringLiteral("'%1'은(는) Access(Jet) 데이터베이스 파일입니다. 이 파일을 여는 "
                               "Microsoft Access ODBC 드라이버를 찾을 수 없습니다.")
                    .arg(path));
}

}  // namespace dao::detail
