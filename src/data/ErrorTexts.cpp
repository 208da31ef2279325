// The catalogue of the engine's error descriptions: every situation that either driver reports is
// worded here once, in Korean, from what the error concerns. The products' names appear here only.

#include <QDir>

#include "data/Error.h"

namespace dao {

namespace {

// "'name' " for a name that is known; nothing otherwise, so that the sentence reads either way.
QString Named(const QString& name) {
    return name.isEmpty() ? QString() : QStringLiteral("'%1' ").arg(name);
}

QString Detail(const ErrorContext& c, qsizetype i) {
    return i < c.details.size() ? c.details[i] : QString();
}

// The driver's own text in parentheses, where it says more than the description.
QString WithDriverText(const QString& text, const ErrorContext& c) {
    return c.driverText.isEmpty() ? text : text + QStringLiteral(" (%1)").arg(c.driverText);
}

// What to do about another program's lock; `what` names what that program uses, if anything.
QString CloseTheOtherProgram(const QString& what) {
    return QStringLiteral(
               "다른 프로그램(예: Dorvik 또는 SolvanePlus)이 %1사용하고 있습니다. 그 프로그램을 "
               "닫은 뒤 다시 시도하세요.")
        .arg(what);
}

QString MissingAccessDriverText(const QString& file) {
    QString text = QStringLiteral("'%1'은(는) Access(Jet) 데이터베이스 파일입니다. ").arg(file);
#if defined(_WIN32)
    if constexpr (sizeof(void*) == 8) {
        text += QStringLiteral(
            "이 프로그램은 64비트용이라 64비트 Microsoft Access ODBC 드라이버(Microsoft Access "
            "Driver (*.mdb, *.accdb))가 필요한데, 이 컴퓨터에는 설치되어 있지 않습니다. Microsoft "
            "다운로드 센터에서 'Microsoft Access "
            "Database Engine 재배포 가능 패키지'의 64비트판을 설치하세요. 또는 이 프로그램의 "
            "32비트판을 쓰면 Windows에 기본으로 들어 있는 Jet 4.0 드라이버(Microsoft Access "
            "Driver (*.mdb))로 열 수 있습니다.");
    } else {
        text += QStringLiteral(
            "이 컴퓨터에서 32비트 Microsoft Access ODBC 드라이버(Microsoft Access Driver "
            "(*.mdb) 또는 Microsoft Access Driver (*.mdb, *.accdb))를 찾을 수 없습니다. "
            "Windows에 기본으로 들어 있는 Jet 4.0 드라이버(Microsoft Access Driver (*.mdb))가 "
            "빠져 있다면 Microsoft 다운로드 센터에서 'Microsoft Access Database Engine 재배포 가능 "
            "패키지'의 32비트판을 설치하세요.");
    }
#else
    text += QStringLiteral(
        "이 운영체제에서는 Access 파일을 여는 Microsoft Access ODBC 드라이버를 쓸 수 없습니다. "
        "이 프로그램을 Windows에서 실행하거나, 파일을 다른 형식(SQLite 등)으로 변환해서 "
        "쓰세요.");
#endif
    return text;
}

QString MissingPluginText(const QString& file) {
    QString text = QStringLiteral(
                       "'%1' 파일을 열려면 Qt의 ODBC 데이터베이스 플러그인(QODBC)이 필요한데 "
                       "찾을 수 없거나 불러올 수 없습니다. ")
                       .arg(file);
#ifdef _WIN32
    text += QStringLiteral(
        "프로그램 폴더 아래 sqldrivers 폴더에 qsqlodbc.dll이 있는지 확인하고, 없으면 프로그램을 "
        "다시 설치하세요(windeployqt가 함께 배포합니다).");
#else
    text += QStringLiteral(
        "Qt ODBC 플러그인(Debian/Ubuntu의 libqt6sql6-odbc 패키지)과 unixODBC를 설치하세요.");
#endif
    return text;
}

// Handles, recordsets and fields; empty for the other kinds.
QString ObjectText(ErrorKind kind, const ErrorContext& c) {
    switch (kind) {
        case ErrorKind::ObjectNotSet:
            return QStringLiteral("개체 변수가 설정되지 않았습니다.");
        case ErrorKind::ObjectClosed:
            return QStringLiteral("개체가 닫혔거나 더 이상 유효하지 않습니다.");
        case ErrorKind::ItemNotFoundAt:
            return QStringLiteral("이 컬렉션에서 %1번째 항목을 찾을 수 없습니다.")
                .arg(Detail(c, 0));
        case ErrorKind::ItemNotFoundNamed:
            return QStringLiteral("이 컬렉션에서 '%1' 항목을 찾을 수 없습니다.").arg(c.column);
        case ErrorKind::NoCurrentRecord:
            return QStringLiteral("현재 레코드가 없습니다.");
        case ErrorKind::NothingPending:
            return QStringLiteral("추가 중인 행이 없습니다. 먼저 AddNew를 호출하세요.");
        case ErrorKind::SnapshotReadOnly:
            return QStringLiteral(
                "읽기 전용 레코드셋(스냅숏)이라 행을 추가하거나 값을 바꿀 수 없습니다.");
        case ErrorKind::QueryReadOnly:
            return QStringLiteral(
                       "이 레코드셋(%1)은 한 테이블의 모든 열이 아니라서 행을 추가할 수 "
                       "없습니다.")
                .arg(Detail(c, 0));
        case ErrorKind::InvalidRecordsetType:
            return QStringLiteral(
                       "레코드셋 형식 %1은(는) 지원하지 않습니다. 스냅숏(4)이나 다이나셋(2)만 열 "
                       "수 있습니다.")
                .arg(Detail(c, 0));
        case ErrorKind::DynasetNeedsTable:
            return QStringLiteral(
                       "갱신할 수 있는 레코드셋은 'SELECT * FROM 테이블' 형식으로만 열 수 "
                       "있습니다. (%1)")
                .arg(Detail(c, 0));
        case ErrorKind::NotASelect:
            return QStringLiteral("레코드셋은 SELECT 문으로만 열 수 있습니다. (%1)")
                .arg(Detail(c, 0));
        case ErrorKind::NoStatement:
            return QStringLiteral("실행할 SQL 문이 없습니다.");
        case ErrorKind::OneStatementOnly:
            return QStringLiteral("SQL 문은 한 번에 하나만 실행할 수 있습니다. (%1)")
                .arg(Detail(c, 0));
        default:
            return {};
    }
}

// Files and the programs that hold them; empty for the other kinds.
QString FileText(ErrorKind kind, const ErrorContext& c) {
    switch (kind) {
        case ErrorKind::FileNotFound:
            return QStringLiteral("'%1' 파일을 찾을 수 없습니다.").arg(c.file);
        case ErrorKind::FolderInsteadOfFile:
            return QStringLiteral(
                       "'%1'은(는) 파일이 아니라 폴더입니다. 데이터베이스 파일이 아닙니다.")
                .arg(c.file);
        case ErrorKind::FileNotReadable:
            return QStringLiteral("'%1' 파일을 열 수 없습니다. 읽기 권한을 확인하세요.")
                .arg(c.file);
        case ErrorKind::EmptyFile:
            return QStringLiteral(
                       "'%1' 파일이 비어 있습니다(0바이트). 데이터베이스 파일이 아닙니다.")
                .arg(c.file);
        case ErrorKind::UnknownFormat:
            return QStringLiteral("'%1'은(는) 인식할 수 없는 데이터베이스 형식입니다.").arg(c.file);
        case ErrorKind::DamagedFile:
            return QStringLiteral(
                       "%1파일은 손상되었거나 잘린 데이터베이스 파일이라 열 수 없습니다.")
                .arg(Named(c.file));
        case ErrorKind::DamagedInUse:
            return WithDriverText(QStringLiteral("%1파일이 손상되었습니다.").arg(Named(c.file)), c);
        case ErrorKind::NotARegularFile:
            return QStringLiteral(
                       "'%1'은(는) 일반 파일이 아니라(장치, 파이프 등) 데이터베이스 파일로 열 수 "
                       "없습니다.")
                .arg(c.file);
        case ErrorKind::FileMoved:
            return QStringLiteral(
                       "%1파일이 열려 있는 동안 옮겨졌거나 삭제되었거나 다른 파일로 바뀌었습니다. "
                       "그 뒤에 이 파일에 쓴 내용은 저장되지 않았습니다.")
                .arg(Named(c.file));
        case ErrorKind::PathTooLong:
            return QStringLiteral(
                       "'%1' 파일의 경로가 너무 깁니다(%2바이트). 경로는 %3바이트까지 쓸 수 "
                       "있습니다. 더 짧은 경로의 폴더로 옮기세요.")
                .arg(c.file, Detail(c, 0), Detail(c, 1));
        case ErrorKind::CannotOpen:
            return WithDriverText(QStringLiteral("%1파일을 열 수 없습니다.").arg(Named(c.file)), c);
        case ErrorKind::FileNotWritable:
            return QStringLiteral(
                       "%1파일에 쓸 수 없습니다. 읽기 전용 파일이거나 쓰기 권한이 없습니다. 파일 "
                       "속성과 권한을 확인하세요.")
                .arg(Named(c.file));
        case ErrorKind::FolderNotWritable:
            return QStringLiteral(
                       "'%1' 파일이 있는 폴더(%2)에 쓸 수 없습니다. 읽기 전용 폴더이거나 쓰기 "
                       "권한이 없습니다. 폴더 속성과 권한을 확인하세요.")
                .arg(c.file, Detail(c, 0));
        case ErrorKind::DsnInPath:
            return QStringLiteral(
                       "'%1' 파일은 경로에 '.dsn'이 들어 있어 ODBC로 열 수 없습니다. 파일이나 "
                       "폴더의 이름을 바꾸세요.")
                .arg(c.file);
        case ErrorKind::FileLocked:
            return QStringLiteral("%1파일이 잠겨 있습니다. ").arg(Named(c.file)) +
                   CloseTheOtherProgram(QStringLiteral("이 파일을 "));
        case ErrorKind::FileInUse:
            return QStringLiteral(
                       "%1파일을 다른 사용자가 열고 있어 혼자 쓸 수 없습니다. 이 PC나 이 폴더를 "
                       "공유하는 다른 PC에서 Dorvik 또는 SolvanePlus가 이 파일을 열고 있을 수 "
                       "있습니다. 모든 PC에서 그 프로그램을 닫은 뒤 다시 시도하세요. 아무것도 "
                       "바꾸지 않았습니다.")
                .arg(Named(c.file));
        case ErrorKind::CannotLockFile:
            return QStringLiteral(
                       "%1파일을 잠글 수 없습니다. 파일이 있는 폴더에 잠금 파일(.ldb 또는 "
                       ".laccdb)을 만들 권한이 없거나, 다른 PC가 이 파일을 열고 있습니다. 폴더의 "
                       "쓰기 권한을 확인하고 다른 PC의 프로그램을 닫은 뒤 다시 시도하세요.")
                .arg(Named(c.file));
        case ErrorKind::ReadOnlyFile:
            return QStringLiteral(
                       "%1파일이나 파일이 있는 폴더가 읽기 전용이라 쓸 수 없습니다. 파일과 "
                       "폴더의 속성과 권한을 확인하세요.")
                .arg(Named(c.file));
        case ErrorKind::BadPassword:
            return QStringLiteral(
                       "%1파일에 데이터베이스 암호가 걸려 있어 열 수 없습니다. Access에서 암호를 "
                       "해제한 뒤 다시 시도하세요.")
                .arg(Named(c.file));
        case ErrorKind::TooManyLocks:
            // Jet 4 fails a transaction past MaxLocksPerFile (9,500 locks by default); the Access
            // driver takes no connection option for it, only the registry value (Microsoft
            // Knowledge Base article 815281, "File sharing lock count exceeded"; the driver's
            // options:
            // https://learn.microsoft.com/en-us/sql/odbc/microsoft/setting-options-programmatically-for-the-access-driver).
            return QStringLiteral(
                       "%1파일에서 한 번에 바꾸는 행이 너무 많아 Jet의 잠금 수 한도"
                       "(MaxLocksPerFile, 기본 9,500)를 넘었습니다. 이 작업은 취소되어 바뀐 것이 "
                       "없습니다. 관리자가 레지스트리 HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Jet"
                       "\\4.0\\Engines\\Jet 4.0(64비트 Windows의 32비트 프로그램은 "
                       "SOFTWARE\\WOW6432Node 아래)의 MaxLocksPerFile 값을 늘린 뒤(예: 500000) "
                       "다시 실행하세요.")
                .arg(Named(c.file));
        case ErrorKind::TableLocked:
            return (c.table.isEmpty() ? QStringLiteral("%1파일이").arg(Named(c.file))
                                      : QStringLiteral("'%1' 테이블이").arg(c.table)) +
                   QStringLiteral(" 잠겨 있어 열 수 없습니다. ") + CloseTheOtherProgram({});
        case ErrorKind::CopyFailed:
            return WithDriverText(QStringLiteral("%1파일을 '%2'(으)로 복사하지 못했습니다.")
                                      .arg(Named(c.file), QDir::toNativeSeparators(Detail(c, 0))),
                                  c);
        case ErrorKind::DiskFull:
            return QStringLiteral("디스크 공간이 부족해 %1파일에 쓸 수 없습니다.")
                .arg(Named(c.file));
        default:
            return {};
    }
}

// Statements and the rows they write; empty for the other kinds.
QString RowText(ErrorKind kind, const ErrorContext& c) {
    switch (kind) {
        case ErrorKind::TableNotFound:
            return c.table.isEmpty()
                       ? QStringLiteral("문에 쓰인 테이블을 찾을 수 없습니다.")
                       : QStringLiteral("'%1' 테이블을 찾을 수 없습니다.").arg(c.table);
        case ErrorKind::ColumnNotFound:
            if (c.column.isEmpty()) {
                return QStringLiteral(
                           "매개 변수가 너무 적습니다. 문에 쓰인 열 이름 가운데 %1테이블에 없는 "
                           "것이 있습니다.")
                    .arg(Named(c.table));
            }
            return c.table.isEmpty()
                       ? QStringLiteral("'%1' 열을 찾을 수 없습니다.").arg(c.column)
                       : QStringLiteral("'%1' 테이블에 '%2' 열이 없습니다.").arg(c.table, c.column);
        case ErrorKind::Syntax:
            return WithDriverText(QStringLiteral("SQL 문의 구문이 잘못되었습니다."), c);
        case ErrorKind::DuplicateKey:
            return QStringLiteral("%1같은 키 값%2이 이미 있어 행을 저장할 수 없습니다.")
                .arg(c.table.isEmpty() ? QString() : QStringLiteral("'%1' 테이블에 ").arg(c.table),
                     c.column.isEmpty() ? QString() : QStringLiteral("(%1)").arg(c.column));
        case ErrorKind::Integrity:
            return QStringLiteral(
                       "%1무결성 규칙(중복된 키, 테이블 사이의 관계 등)에 어긋나 행을 저장할 수 "
                       "없습니다.")
                .arg(c.table.isEmpty() ? QString() : QStringLiteral("'%1' 테이블의 ").arg(c.table));
        case ErrorKind::Required:
            return QStringLiteral("%1열에는 값이 있어야 합니다. 빈 값(Null)은 저장할 수 없습니다.")
                .arg(!c.column.isEmpty() ? Named(c.column)
                     : c.table.isEmpty() ? QString()
                                         : QStringLiteral("'%1' 테이블의 한 ").arg(c.table));
        case ErrorKind::ValidationRule:
            return QStringLiteral("값이 %1유효성 검사 규칙%2에 맞지 않아 저장할 수 없습니다.")
                .arg(c.table.isEmpty() ? QString() : QStringLiteral("'%1' 테이블의 ").arg(c.table),
                     c.details.isEmpty() ? QString() : QStringLiteral("(%1)").arg(Detail(c, 0)));
        case ErrorKind::ColumnTypeRefuses:
            return QStringLiteral("'%1' 열은 %2 형식이라 %3 값을 저장할 수 없습니다.")
                .arg(c.column, Detail(c, 0), Detail(c, 1));
        case ErrorKind::TypeMismatch:
            return WithDriverText(QStringLiteral("값이 열의 데이터 형식에 맞지 않습니다."), c);
        case ErrorKind::RowIgnored:
            return QStringLiteral(
                       "%1대상 데이터베이스가 행을 저장하지 않고 무시했습니다(행을 무시하는 "
                       "트리거나 규칙).")
                .arg(c.table.isEmpty() ? QString()
                                       : QStringLiteral("'%1' 테이블에서 ").arg(c.table));
        case ErrorKind::DriverFailure:
            return QStringLiteral("%1에서 작업을 하지 못했습니다. (%2)")
                .arg(c.file.isEmpty() ? QStringLiteral("데이터베이스")
                                      : QStringLiteral("'%1' 파일").arg(c.file),
                     c.driverText.isEmpty() ? QStringLiteral("설명 없음") : c.driverText);
        default:
            return {};
    }
}

// Values that a column refuses or that the driver changed; empty for the other kinds.
QString ValueText(ErrorKind kind, const ErrorContext& c) {
    switch (kind) {
        case ErrorKind::ZeroLength:
            return QStringLiteral(
                       "%1열은 빈 문자열('')을 받지 않아 행을 저장할 수 없습니다(빈 문자열 "
                       "허용이 '아니요').")
                .arg(!c.column.isEmpty() ? Named(c.column)
                     : c.table.isEmpty() ? QString()
                                         : QStringLiteral("'%1' 테이블의 한 ").arg(c.table));
        case ErrorKind::FieldTooSmall:
            return QStringLiteral("%1값이 열의 크기보다 커서 저장할 수 없습니다.")
                .arg(!c.column.isEmpty() ? QStringLiteral("'%1' 열에 넣을 ").arg(c.column)
                                         : QString());
        case ErrorKind::ValuesDiffer:
            return QStringLiteral(
                       "%1'%2' 열에 쓴 값을 다시 읽으니 달랐습니다. 쓴 값: %3, 읽은 값: %4. "
                       "드라이버가 값을 바꾸어 저장하므로 이 테이블은 복사하지 않았습니다.")
                .arg(c.table.isEmpty() ? QString() : QStringLiteral("'%1' 테이블의 ").arg(c.table),
                     c.column, Detail(c, 0), Detail(c, 1));
        default:
            return {};
    }
}

// The drivers and what a user installs to get them; empty for the other kinds.
QString DriverText(ErrorKind kind, const ErrorContext& c) {
    switch (kind) {
        case ErrorKind::NarrowText:
            return QStringLiteral(
                       "%1파일의 ODBC 드라이버(%2)가 유니코드 문자열을 받지 않습니다. 이대로 "
                       "쓰면 한글이 깨져 저장되므로 아무것도 바꾸지 않았습니다. Microsoft Access "
                       "ODBC 드라이버를 다시 설치하세요.")
                .arg(Named(c.file), Detail(c, 0));

        case ErrorKind::MissingOdbcPlugin:
            return MissingPluginText(c.file);
        case ErrorKind::MissingOdbcDriver:
            return WithDriverText(
                QStringLiteral("%1파일을 여는 ODBC 드라이버를 찾을 수 없거나 불러올 수 없습니다.")
                    .arg(Named(c.file)),
                c);
        case ErrorKind::MissingAccessDriver:
            return MissingAccessDriverText(c.file);
        case ErrorKind::MissingSqliteOdbcDriver:
            return WithDriverText(
                QStringLiteral("SQLite ODBC 드라이버(SQLite3)가 설치되어 있지 않아 '%1' 파일을 "
                               "ODBC로 열 수 없습니다. SQLite ODBC 드라이버(Debian/Ubuntu의 "
                               "libsqliteodbc 패키지)를 설치하세요.")
                    .arg(c.file),
                c);
        default:
            return {};
    }
}

}  // namespace

QString RawDiagnostic(const ErrorContext& c) {
    if (c.sqlState.isEmpty() && c.nativeCode.isEmpty()) {
        return {};
    }
    return QStringLiteral("드라이버 진단: SQLSTATE %1, 번호 %2, 내용 %3")
        .arg(c.sqlState.isEmpty() ? QStringLiteral("-") : c.sqlState,
             c.nativeCode.isEmpty() ? QStringLiteral("-") : c.nativeCode,
             c.driverText.isEmpty() ? QStringLiteral("-") : c.driverText);
}

namespace {

QString Described(ErrorKind kind, const ErrorContext& given, const QString& cause);

}  // namespace

QString DescribeEngineError(ErrorKind kind, const ErrorContext& given, const QString& cause) {
    QString text = Described(kind, given, cause);
    // Once, also where a cause's description already ends with it.
    const QString via = QStringLiteral("[%1]").arg(given.via);
    if (!given.via.isEmpty() && !text.contains(via)) {
        text += QLatin1Char(' ') + via;
    }
    return text;
}

namespace {

QString Described(ErrorKind kind, const ErrorContext& given, const QString& cause) {
    // A file is named the way the user's system writes paths, whichever driver saw it.
    ErrorContext context = given;
    context.file = QDir::toNativeSeparators(given.file);
    switch (kind) {
        case ErrorKind::Given:
            return cause;
        case ErrorKind::CommitFailed:
            return QStringLiteral("%1파일에 저장한 행 %2개를 확정하지 못해 취소했습니다. %3")
                .arg(Named(context.file), Detail(context, 0), cause);
        case ErrorKind::BatchRolledBack:
            return cause +
                   QStringLiteral(
                       " 이 오류로 트랜잭션 전체가 취소되어, 앞서 저장한 행 %1개도 저장되지 "
                       "않았습니다.")
                       .arg(Detail(context, 0));
        default:
            break;
    }
    for (const auto text : {ObjectText, FileText, RowText, ValueText, DriverText}) {
        if (QString described = text(kind, context); !described.isEmpty()) {
            return described;
        }
    }
    return WithDriverText(QStringLiteral("알 수 없는 오류입니다."), context);
}

}  // namespace

}  // namespace dao
