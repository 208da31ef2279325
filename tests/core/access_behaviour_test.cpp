// Access files as Jet and its ODBC driver behave, shown with what runs here: the connection
// string and the driver order as values, the Jet header's format byte, and the ODBC code itself
// through the SQLite ODBC driver (ODBC 3 in force, dates in a daylight-saving gap, exact
// decimals, the first row read back).

#include <gtest/gtest.h>

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include "data/Drivers.h"
#include "data/Engine.h"
#include "data/OdbcDriver.h"
#include "support/Raised.h"
#include "support/SqliteFixture.h"
#include "support/Wine.h"

namespace {

namespace odbc = dao::detail::odbc;
using dao::Value;
using dao::detail::JetFormat;

// ---- Values: what is asked of the driver

TEST(AccessConnection, IsOpenedAloneForARunAndSharedOtherwise) {
    const QString alone =
        odbc::AccessConnectionString(QStringLiteral("Microsoft Access Driver (*.mdb)"),
                                     QStringLiteral("C:\\d;x\\dbbasic.mdb"), true);
    EXPECT_EQ(alone, QStringLiteral("DRIVER={Microsoft Access Driver (*.mdb)};"
                                    "DBQ={C:\\d;x\\dbbasic.mdb};Exclusive=1;ReadOnly=0"));
    const QString shared = odbc::AccessConnectionString(
        QStringLiteral("Microsoft Access Driver (*.mdb)"), QStringLiteral("C:\\d\\a.mdb"), false);
    EXPECT_TRUE(shared.contains(QLatin1String(";Exclusive=0;")));
    EXPECT_STREQ(odbc::kOdbc3Option, "SQL_ATTR_ODBC_VERSION=SQL_OV_ODBC3");
    EXPECT_EQ(dao::dbExclusive, 1);
}

QByteArray JetHeader(const char* tag, int version) {
    QByteArray head(128, '\0');
    head.replace(4, 15, tag);
    head[0x14] = static_cast<char>(version);
    return head;
}

struct FormatCase {
    const char* tag;
    int version;
    JetFormat format;
    const char* firstDriver;
};

class JetFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(JetFormatTest, TheVersionByteChoosesTheDriverToTryFirst) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(dao::detail::DetectJetFormat(JetHeader(c.tag, c.version)), c.format);
    const QStringList order = odbc::AccessDriverOrder(c.format);
    ASSERT_FALSE(order.isEmpty());
    EXPECT_EQ(order.first(), QString::fromLatin1(c.firstDriver));
}

INSTANTIATE_TEST_SUITE_P(Headers, JetFormatTest,
                         ::testing::Values(FormatCase{"Standard Jet DB", 0, JetFormat::Jet3,
                                                      "Microsoft Access Driver (*.mdb)"},
                                           FormatCase{"Standard Jet DB", 1, JetFormat::Jet4,
                                                      "Microsoft Access Driver (*.mdb)"},
                                           FormatCase{"Standard ACE DB", 2, JetFormat::Ace,
                                                      "Microsoft Access Driver (*.mdb, *.accdb)"},
                                           FormatCase{"Standard ACE DB", 5, JetFormat::Ace,
                                                      "Microsoft Access Driver (*.mdb, *.accdb)"}));

TEST(JetFormatTest, JetFilesFallBackToTheAceDriverAndAceFilesDoNotToJet) {
    EXPECT_EQ(odbc::AccessDriverOrder(JetFormat::Jet3).size(), 2);
    EXPECT_EQ(odbc::AccessDriverOrder(JetFormat::Ace).size(), 1);
    EXPECT_EQ(dao::detail::DetectJetFormat(QByteArray("SQLite format 3\0", 16)),
              JetFormat::Unknown);
    EXPECT_TRUE(dao::detail::JetFormatName(JetFormat::Jet4).contains(QLatin1String("Jet 4")));
}

TEST(AccessValues, YesNoIsBoundAsABooleanAndLargeIntegersAsText) {
    const QVariant yes = odbc::ToVariant(Value(1), QMetaType(QMetaType::Bool));
    EXPECT_EQ(yes.typeId(), QMetaType::Bool);
    EXPECT_TRUE(yes.toBool());
    const QVariant big = odbc::ToVariant(Value(int64_t{5000000000}), QMetaType(QMetaType::Int));
    EXPECT_EQ(big.typeId(), QMetaType::QString);
    EXPECT_EQ(big.toString(), QStringLiteral("5000000000"));
    EXPECT_EQ(odbc::ToVariant(Value(int64_t{5000000000}), QMetaType(QMetaType::LongLong)).typeId(),
              QMetaType::LongLong);
    EXPECT_EQ(odbc::ToVariant(Value(7), QMetaType(QMetaType::Int)).typeId(), QMetaType::Int);
}

TEST(AccessValues, DecimalsStayExactAndOtherNumbersAreNumbers) {
    const Value exact = odbc::FromColumn(QVariant(QStringLiteral("12345678901234.5678")),
                                         QMetaType(QMetaType::Double), true);
    EXPECT_EQ(exact.type(), Value::Type::Text);
    EXPECT_EQ(exact.toString(), QStringLiteral("12345678901234.5678"));
    const Value real =
        odbc::FromColumn(QVariant(QStringLiteral("2.5")), QMetaType(QMetaType::Double), false);
    EXPECT_EQ(real.type(), Value::Type::Real);
    EXPECT_EQ(real.toReal(), 2.5);
}

TEST(AccessValues, ColumnNamesAreCutAtANul) {
    EXPECT_EQ(odbc::ColumnName(QStringLiteral("code") + QChar(u'\0') + QStringLiteral("zz")),
              QStringLiteral("code"));
    EXPECT_EQ(odbc::ColumnName(QStringLiteral("상품명")), QStringLiteral("상품명"));
}

TEST(AccessValues, ADateIsBoundWithItsOwnFieldsWhateverTheLocalZone) {
    const QVariant v = odbc::ToVariant(Value::Text(QStringLiteral("1987-05-10 02:30:00")),
                                       QMetaType(QMetaType::QDateTime));
    ASSERT_EQ(v.typeId(), QMetaType::QDateTime);
    EXPECT_EQ(v.toDateTime().time(), QTime(2, 30));
    EXPECT_EQ(v.toDateTime().date(), QDate(1987, 5, 10));
}

// ---- The ODBC code through the SQLite ODBC driver

dao::DBEngine& OdbcEngine() {
    static dao::DBEngine engine([] {
        dao::EngineOptions options;
        options.sqliteThroughOdbc = true;
        options.odbcSqlitePath = OdbcDriverPath;
        return options;
    }());
    return engine;
}

// Korea's clock jumped from 02:00 to 03:00 on 10 May 1987: 02:30 did not exist that night.
class SeoulTime {
public:
    SeoulTime() {
        if (qEnvironmentVariableIsSet("TZ")) {
            saved_ = qgetenv("TZ");
        }
        qputenv("TZ", "Asia/Seoul");
        tzset();
    }
    ~SeoulTime() {
        if (saved_) {
            qputenv("TZ", *saved_);
        } else {
            qunsetenv("TZ");
        }
        tzset();
    }
    SeoulTime(const SeoulTime&) = delete;
    SeoulTime& operator=(const SeoulTime&) = delete;

private:
    std::optional<QByteArray> saved_;
};

class AccessThroughOdbc : public ::testing::Test {
protected:
    void SetUp() override {
        file = tmp.File(QStringLiteral("dbbasic.mdb"));
        ExecSql(file,
                "CREATE TABLE src(code TEXT PRIMARY KEY, name TEXT, stamp DATETIME, "
                "  price DECIMAL(19,4), used BOOLEAN);"
                "CREATE TABLE dst(code TEXT PRIMARY KEY, name TEXT, stamp DATETIME, "
                "  price DECIMAL(19,4), used BOOLEAN);"
                "INSERT INTO src VALUES ('A1', '볼펜', '1987-05-10 02:30:00', "
                "  '12345678901234.5678', 1);");
    }
    void TearDown() override {
        EXPECT_EQ(OdbcEngine().OpenDatabaseCount(), 0);
        EXPECT_TRUE(QSqlDatabase::connectionNames().isEmpty());
    }

    TempFolder tmp;
    QString file;
};

TEST_F(AccessThroughOdbc, Odbc3IsInForceSoStatesAreTheThreeDotXOnes) {
    auto db = OdbcEngine().OpenDatabase(file, dao::dbExclusive);
    const dao::Error e = Raised([&] { db->Execute(QStringLiteral("UPDATE nosuch SET x = 1")); });
    EXPECT_EQ(e.Number(), dao::errObjectNotFound);
    // ODBC 2 would have given S1000.
    EXPECT_EQ(e.Context().sqlState, QStringLiteral("HY000"));
    EXPECT_TRUE(dao::RawDiagnostic(e.Context())
                    .startsWith(QStringLiteral("드라이버 진단: SQLSTATE HY000")));
    db->Close();
}

TEST_F(AccessThroughOdbc, ADateInADaylightSavingGapIsReadAndWrittenUnmoved) {
    const SeoulTime seoul;
    auto db = OdbcEngine().OpenDatabase(file, 0);
    auto src = db->OpenRecordset(QStringLiteral("SELECT * FROM src"), dao::dbOpenSnapshot);
    const Value stamp = src->GetFields().Item(QStringLiteral("stamp")).GetValue();
    EXPECT_EQ(stamp.toString(), QStringLiteral("1987-05-10 02:30:00"));
    auto dst = db->OpenRecordset(QStringLiteral("SELECT * FROM dst"), dao::dbOpenDynaset);
    dst->AddNew();
    for (int16_t i = 0; i < src->FieldCount(); ++i) {
        dst->SetFieldValue(i, src->FieldValue(i));
    }
    dst->Update();
    src->Close();
    dst->Close();
    db->Close();
    EXPECT_EQ(QueryValue(file, "SELECT stamp FROM dst"), "1987-05-10 02:30:00");
}

TEST_F(AccessThroughOdbc, TheTrialReadsTheFirstRowBackAsStored) {
    auto db = OdbcEngine().OpenDatabase(file, 0);
    auto dst = db->OpenRecordset(QStringLiteral("SELECT * FROM dst"), dao::dbOpenDynaset);
    dst->AddNew();
    dst->SetFieldValue(0, Value::Text(QStringLiteral("B1")));
    dst->SetFieldValue(1, Value::Text(QStringLiteral("한글 이름")));
    const std::vector<Value> stored = dst->TryPendingRow();
    ASSERT_EQ(stored.size(), 5u);
    EXPECT_EQ(stored[1].toString(), QStringLiteral("한글 이름"));
    EXPECT_TRUE(stored[2].isNull());
    dst->CancelUpdate();
    dst->Close();
    db->Close();
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM dst"), "0");  // nothing stored
}

TEST_F(AccessThroughOdbc, TheTrialShowsWhatATriggerChangedOnTheWay) {
    ExecSql(file,
            "CREATE TRIGGER garble AFTER INSERT ON dst BEGIN "
            "UPDATE dst SET name = '?' || substr(name, 2) WHERE rowid = new.rowid; END;");
    for (const bool throughOdbc : {true, false}) {
        SCOPED_TRACE(throughOdbc ? "ODBC" : "SQLite C API");
        dao::DBEngine direct;
        auto db = (throughOdbc ? OdbcEngine() : direct).OpenDatabase(file, 0);
        auto dst = db->OpenRecordset(QStringLiteral("SELECT * FROM dst"), dao::dbOpenDynaset);
        dst->AddNew();
        dst->SetFieldValue(0, Value::Text(QStringLiteral("B1")));
        dst->SetFieldValue(1, Value::Text(QStringLiteral("한글")));
        const std::vector<Value> stored = dst->TryPendingRow();
        ASSERT_EQ(stored.size(), 5u);
        EXPECT_EQ(stored[1].toString(), QStringLiteral("?글"));
        dst->CancelUpdate();
        dst->Close();
        db->Close();
    }
}

TEST_F(AccessThroughOdbc, DescribeNamesTheDriverTheOdbcVersionAndTheTextMode) {
    auto db = OdbcEngine().OpenDatabase(file, 0);
    const QString text = db->Describe().join(QLatin1Char('\n'));
    db->Close();
    EXPECT_TRUE(text.contains(QStringLiteral("형식: SQLite 3"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("드라이버: "))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("드라이버: (알 수 없음)"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("ODBC 버전: 3 요청"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("문자열 전송: 유니코드"))) << text.toStdString();
    dao::DBEngine direct;
    auto sqlite = direct.OpenDatabase(file, 0);
    EXPECT_TRUE(sqlite->Describe().join(QLatin1Char(' ')).contains(QLatin1String("SQLite C API")));
    sqlite->Close();
}

TEST(AccessTexts, TheNarrowTextRefusalNamesTheDriverAndChangesNothing) {
    const dao::Error e(dao::errNarrowText, dao::ErrorKind::NarrowText,
                       {.file = QStringLiteral("C:\\d\\dbbasic.mdb"),
                        .details = {QStringLiteral("Microsoft Access Driver (*.mdb)")},
                        .via = QStringLiteral("Jet 4 (Access 2000-2003), Microsoft Access Driver "
                                              "(*.mdb)")});
    EXPECT_TRUE(e.Description().contains(QStringLiteral("한글이 깨져")));
    EXPECT_TRUE(e.Description().contains(QStringLiteral("아무것도 바꾸지 않았습니다")));
    EXPECT_TRUE(e.Description().contains(QStringLiteral("[Jet 4 (Access 2000-2003)")));
}

}  // namespace
