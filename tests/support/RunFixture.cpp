#include "support/RunFixture.h"

const char* const kSourceSchema = R"sql(
CREATE TABLE product(code TEXT, name TEXT, unit TEXT, price REAL);
CREATE TABLE trader(code TEXT, name TEXT, hphone TEXT, u_name TEXT);
INSERT INTO product VALUES ('P001', '볼펜', '자루', 500.5), ('P002', '공책', '', 1200),
                           ('P003', '지우개', NULL, 300);
INSERT INTO trader VALUES ('T001', '(주)한빛상사', '010-1234-5678', '김철수'),
                          ('T002', '대성문구', NULL, '이영희');
)sql";

const char* const kDestSchema = R"sql(
CREATE TABLE product(name TEXT, code TEXT PRIMARY KEY, price REAL, unit TEXT,
                     classcode TEXT DEFAULT '', ptax INTEGER DEFAULT 0, reserve1 TEXT,
                     reserve2 TEXT, reserve3 TEXT, BManage INTEGER DEFAULT 0);
CREATE TABLE pclass(Code TEXT PRIMARY KEY, ClassName TEXT, Used INTEGER);
CREATE TABLE trader(U_Name TEXT, code TEXT PRIMARY KEY, name TEXT, HPhone TEXT,
                    section INTEGER DEFAULT 0, MultyCostNo INTEGER DEFAULT 5,
                    SaleDC REAL DEFAULT 3, TradeStop INTEGER DEFAULT 1, U_Name2 TEXT);
INSERT INTO product(name, code, price, unit) VALUES ('옛 상품', 'OLD1', 1, '개');
INSERT INTO trader(U_Name, code, name) VALUES ('박민수', 'OLDT', '옛 거래처');
)sql";

void RunFixture::SetUp() {
    ASSERT_TRUE(QDir().mkpath(SourceFolder()));
    ASSERT_TRUE(QDir().mkpath(DestFolder()));
    ExecSql(SourceFile(), kSourceSchema);
    ExecSql(DestFile(), kDestSchema);
    SetFolders(SourceFolder(), DestFolder());
    platform.runsFolder = tmp.File(QStringLiteral("runs"));
}

QString StartedLinesOf(const Conversion& conversion) {
    return QStringLiteral("\r\n작업 시작\r\n\r\n백업: ") +
           QDir::toNativeSeparators(conversion.LastRunFolder()) + QStringLiteral("\r\n");
}

QString RunFolderLinesOf(const Conversion& conversion) {
    QString lines;
    if (!conversion.LastFailedRowsPath().isEmpty()) {
        lines += QStringLiteral("\r\n실패한 행: ") +
                 QDir::toNativeSeparators(conversion.LastFailedRowsPath());
    }
    return lines + QStringLiteral("\r\n작업 전 백업과 보고서: ") +
           QDir::toNativeSeparators(conversion.LastRunFolder());
}

void RunFixture::SetFolders(const QString& source, const QString& dest) {
    platform.SetSetting(QStringLiteral("세금계산서"), QStringLiteral("환경설정"),
                        QStringLiteral("db경로"), source);
    platform.SetSetting(QStringLiteral("Solvane2"), QStringLiteral("환경설정"),
                        QStringLiteral("db경로"), dest);
}

void RunFixture::AnswerYes() {
    platform.inputAnswers.push_back(QStringLiteral("kolum482"));
    platform.msgBoxAnswers.push_back(vbYes);
}
