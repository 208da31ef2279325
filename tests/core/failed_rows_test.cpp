// failed-rows.csv: the writer's format, and the table copy listing exactly the source rows it
// did not save, with their positions, errors and values, and recording its counts.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>
#include <algorithm>
#include <cmath>
#include <limits>

#include "conversion/FailedRowsCsv.h"
#include "conversion/OpenClose.h"
#include "conversion/RunFolder.h"
#include "support/FailedRows.h"
#include "support/RunFixture.h"
#include "support/TestJournal.h"

namespace {

std::string Str(const QString& text) {
    return text.toStdString();
}

QByteArray Bytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const std::vector<FailedRowsTable> kTables = {
    {QStringLiteral("product"),
     {QStringLiteral("code"), QStringLiteral("name"), QStringLiteral("unit"),
      QStringLiteral("price")}},
    {QStringLiteral("trader"),
     {QStringLiteral("CODE"), QStringLiteral("Name"), QStringLiteral("hphone"),
      QStringLiteral("u_name")}},
};

// ---- The writer

class FailedRowsCsvTest : public ::testing::Test {
protected:
    QString Path() const { return tmp.File(kFailedRowsName); }
    TempFolder tmp;
};

TEST_F(FailedRowsCsvTest, WritesNoFileUntilTheFirstRow) {
    FailedRowsCsv csv(Path(), kTables);
    EXPECT_TRUE(csv.Path().isEmpty());
    EXPECT_EQ(csv.Rows(), 0);
    EXPECT_FALSE(QFileInfo::exists(Path()));

    ASSERT_TRUE(csv.Add(QStringLiteral("product"), 7, {3022, QStringLiteral("중복"), 0},
                        {QStringLiteral("code")}, {dao::Value::Text(QStringLiteral("P7"))}));
    EXPECT_EQ(csv.Path(), Path());
    EXPECT_EQ(csv.Rows(), 1);
    // On disk at once, while the writer still holds the file: a run killed now keeps the row.
    EXPECT_EQ(Bytes(Path()),
              QByteArray("\xEF\xBB\xBF") +
                  QStringLiteral("테이블,위치,오류 번호,오류 설명,code,name,unit,price,hphone,"
                                 "u_name\r\nproduct,7,3022,중복,P7,,,,,\r\n")
                      .toUtf8());
}

TEST_F(FailedRowsCsvTest, TheHeaderHoldsEveryTablesColumnsOnceAndEachRowFillsItsOwn) {
    FailedRowsCsv csv(Path(), kTables);
    ASSERT_TRUE(csv.Add(
        QStringLiteral("trader"), 2, {3317, QStringLiteral("규칙"), 0}, kTables[1].columns,
        {dao::Value::Text(QStringLiteral("T2")), dao::Value::Text(QStringLiteral("대성")),
         dao::Value::Text(QStringLiteral("010")), dao::Value::Text(QStringLiteral("이영희"))}));
    ASSERT_TRUE(
        csv.Add(QStringLiteral("product"), 1, {3314, QStringLiteral("필수"), 0}, kTables[0].columns,
                {dao::Value::Text(QStringLiteral("P1")), dao::Value::Text(QStringLiteral("볼펜")),
                 dao::Value(), dao::Value(500.5)}));
    const FailedRowsFile file = ReadFailedRows(Path());
    EXPECT_EQ(file.header, (QStringList{QStringLiteral("테이블"), QStringLiteral("위치"),
                                        QStringLiteral("오류 번호"), QStringLiteral("오류 설명"),
                                        QStringLiteral("code"), QStringLiteral("name"),
                                        QStringLiteral("unit"), QStringLiteral("price"),
                                        QStringLiteral("hphone"), QStringLiteral("u_name")}));
    ASSERT_EQ(file.rows.size(), 2u);
    const FailedRow& trader = file.rows[0];
    EXPECT_EQ(Str(trader.table), "trader");
    EXPECT_EQ(trader.position, 2);
    EXPECT_EQ(trader.number, 3317);
    EXPECT_EQ(Str(trader.description), "규칙");
    // "CODE" and "Name" go under the product's "code" and "name".
    EXPECT_EQ(Str(trader.Value(QStringLiteral("code")).text), "T2");
    EXPECT_EQ(Str(trader.Value(QStringLiteral("name")).text), "대성");
    EXPECT_EQ(Str(trader.Value(QStringLiteral("hphone")).text), "010");
    EXPECT_EQ(Str(trader.Value(QStringLiteral("u_name")).text), "이영희");
    EXPECT_TRUE(trader.Value(QStringLiteral("price")).text.isEmpty());
    const FailedRow& product = file.rows[1];
    EXPECT_EQ(Str(product.Value(QStringLiteral("price")).text), "500.5");
    EXPECT_TRUE(product.Value(QStringLiteral("hphone")).text.isEmpty());
    EXPECT_TRUE(product.Value(QStringLiteral("u_name")).text.isEmpty());
}

TEST_F(FailedRowsCsvTest, ValuesAreWrittenAsTheSourceHoldsThem) {
    const QStringList columns = {
        QStringLiteral("null"),   QStringLiteral("empty"),  QStringLiteral("text"),
        QStringLiteral("lines"),  QStringLiteral("int"),    QStringLiteral("real"),
        QStringLiteral("third"),  QStringLiteral("huge"),   QStringLiteral("blob"),
        QStringLiteral("noblob"), QStringLiteral("korean"), QStringLiteral("spaces")};
    FailedRowsCsv csv(Path(), {{QStringLiteral("t"), columns}});
    const std::vector<dao::Value> values = {
        dao::Value(),
        dao::Value::Text(std::string()),
        dao::Value::Text(QStringLiteral("a,b \"c\"")),
        dao::Value::Text(QStringLiteral("줄1\r\n줄2\n줄3\r")),
        dao::Value(int64_t{-9007199254740993}),
        dao::Value(0.1),
        dao::Value(1.0 / 3.0),
        dao::Value(1e300),
        dao::Value::Blob(std::string("\x00\xff\x10\xab", 4)),
        dao::Value::Blob(std::string()),
        dao::Value::Text(QStringLiteral("(주)한빛상사")),
        dao::Value::Text(QStringLiteral("  앞뒤 공백  ")),
    };
    ASSERT_TRUE(csv.Add(QStringLiteral("t"), 1,
                        {3421, QStringLiteral("'t.x' 열은 \"REAL\", 형식"), 0}, columns, values));

    const QString text = QString::fromUtf8(Bytes(Path()));
    // Quoted where RFC 4180 asks for it, with quotes doubled; an empty text quoted, null bare.
    EXPECT_TRUE(text.contains(QStringLiteral(
        "t,1,3421,\"'t.x' 열은 \"\"REAL\"\", 형식\",,\"\",\"a,b \"\"c\"\"\",\"줄1\r\n줄2\n줄3\r\","
        "-9007199254740993,0.1,")))
        << Str(text);
    EXPECT_TRUE(text.endsWith(QStringLiteral(",0x00FF10AB,0x,(주)한빛상사,  앞뒤 공백  \r\n")))
        << Str(text);

    const FailedRowsFile file = ReadFailedRows(Path());
    ASSERT_EQ(file.rows.size(), 1u);
    const FailedRow& row = file.rows[0];
    EXPECT_EQ(Str(row.description), "'t.x' 열은 \"REAL\", 형식");
    EXPECT_FALSE(row.Value(QStringLiteral("null")).quoted);
    EXPECT_TRUE(row.Value(QStringLiteral("null")).text.isEmpty());
    EXPECT_TRUE(row.Value(QStringLiteral("empty")).quoted);
    EXPECT_TRUE(row.Value(QStringLiteral("empty")).text.isEmpty());
    EXPECT_EQ(Str(row.Value(QStringLiteral("text")).text), "a,b \"c\"");
    EXPECT_EQ(Str(row.Value(QStringLiteral("lines")).text), "줄1\r\n줄2\n줄3\r");
    // Reals read back to the very same double.
    for (const auto& [column, expected] :
         {std::pair{QStringLiteral("real"), 0.1}, std::pair{QStringLiteral("third"), 1.0 / 3.0},
          std::pair{QStringLiteral("huge"), 1e300}}) {
        bool ok = false;
        EXPECT_EQ(row.Value(column).text.toDouble(&ok), expected) << Str(column);
        EXPECT_TRUE(ok);
    }
    EXPECT_EQ(Str(row.Value(QStringLiteral("real")).text), "0.1");
    EXPECT_EQ(Str(row.Value(QStringLiteral("korean")).text), "(주)한빛상사");
}

TEST_F(FailedRowsCsvTest, ALineBreakOfEitherKindAloneIsQuoted) {
    // A reader ends a record at a lone line feed or carriage return outside quotes.
    EXPECT_EQ(FailedRowsCsv::Quoted(QStringLiteral("줄1\n줄2")), QStringLiteral("\"줄1\n줄2\""));
    EXPECT_EQ(FailedRowsCsv::Quoted(QStringLiteral("줄1\r줄2")), QStringLiteral("\"줄1\r줄2\""));
    EXPECT_EQ(FailedRowsCsv::Quoted(QStringLiteral("줄1 줄2")), QStringLiteral("줄1 줄2"));

    const QStringList columns = {QStringLiteral("lf"), QStringLiteral("cr")};
    FailedRowsCsv csv(Path(), {{QStringLiteral("t"), columns}});
    ASSERT_TRUE(csv.Add(
        QStringLiteral("t"), 4, {3421, QStringLiteral("형식"), 0}, columns,
        {dao::Value::Text(QStringLiteral("a\nb")), dao::Value::Text(QStringLiteral("c\rd"))}));
    const FailedRowsFile file = ReadFailedRows(Path());
    ASSERT_EQ(file.rows.size(), 1u);
    EXPECT_EQ(file.rows[0].position, 4);
    EXPECT_TRUE(file.rows[0].Value(QStringLiteral("lf")).quoted);
    EXPECT_EQ(Str(file.rows[0].Value(QStringLiteral("lf")).text), "a\nb");
    EXPECT_TRUE(file.rows[0].Value(QStringLiteral("cr")).quoted);
    EXPECT_EQ(Str(file.rows[0].Value(QStringLiteral("cr")).text), "c\rd");
}

TEST_F(FailedRowsCsvTest, ColumnsNotDeclaredWidenTheHeaderBeforeTheFirstRow) {
    FailedRowsCsv csv(Path(), {});
    ASSERT_TRUE(csv.Add(QStringLiteral("t"), 3, {0, QStringLiteral("거절"), 0},
                        {QStringLiteral("a"), QStringLiteral("B")},
                        {dao::Value(int64_t{1}), dao::Value(int64_t{2})}));
    // Undeclared columns after the header was written are left out, never misplaced.
    ASSERT_TRUE(csv.Add(QStringLiteral("u"), 4, {0, QStringLiteral("거절"), 0},
                        {QStringLiteral("c"), QStringLiteral("b")},
                        {dao::Value(int64_t{3}), dao::Value(int64_t{4})}));
    const FailedRowsFile file = ReadFailedRows(Path());
    EXPECT_EQ(file.header.mid(4), (QStringList{QStringLiteral("a"), QStringLiteral("B")}));
    ASSERT_EQ(file.rows.size(), 2u);
    EXPECT_EQ(Str(file.rows[0].Value(QStringLiteral("b")).text), "2");
    EXPECT_TRUE(file.rows[1].Value(QStringLiteral("a")).text.isEmpty());
    EXPECT_EQ(Str(file.rows[1].Value(QStringLiteral("b")).text), "4");
}

TEST_F(FailedRowsCsvTest, AFileThatCannotBeCreatedIsReportedAndNamedNowhere) {
    FailedRowsCsv csv(tmp.File(QStringLiteral("missing/folder/failed-rows.csv")), kTables);
    EXPECT_FALSE(csv.Add(QStringLiteral("product"), 1, {3022, QStringLiteral("중복"), 0}, {}, {}));
    EXPECT_TRUE(csv.Path().isEmpty());
    EXPECT_EQ(csv.Rows(), 0);
}

// A text a spreadsheet would run as a formula gets a leading quote; a plain number does not.
struct FormulaCase {
    const char* text;
    const char* written;
};

class FormulaGuardTest : public FailedRowsCsvTest,
                         public ::testing::WithParamInterface<FormulaCase> {};

TEST_P(FormulaGuardTest, ATextThatWouldRunIsWrittenAsText) {
    FailedRowsCsv csv(Path(), {{QStringLiteral("t"), {QStringLiteral("v")}}});
    ASSERT_TRUE(csv.Add(QStringLiteral("t"), 1, {3022, QStringLiteral("중복"), 0},
                        {QStringLiteral("v")},
                        {dao::Value::Text(QString::fromUtf8(GetParam().text))}));
    const FailedRowsFile file = ReadFailedRows(Path());
    ASSERT_EQ(file.rows.size(), 1u);
    EXPECT_EQ(Str(file.rows[0].Value(QStringLiteral("v")).text), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormulaGuardTest,
    ::testing::Values(FormulaCase{"=HYPERLINK(\"http://x\")", "'=HYPERLINK(\"http://x\")"},
                      FormulaCase{"+82-2-000", "'+82-2-000"}, FormulaCase{"-1+1", "'-1+1"},
                      FormulaCase{"@SUM(A1)", "'@SUM(A1)"}, FormulaCase{"\t=1", "'\t=1"},
                      FormulaCase{"\r=1", "'\r=1"}, FormulaCase{"-5", "-5"},
                      FormulaCase{"+1.5e3", "+1.5e3"}, FormulaCase{"-.5", "-.5"},
                      FormulaCase{"a=b", "a=b"}, FormulaCase{"'=x", "'=x"}));

TEST_F(FailedRowsCsvTest, ColumnsThatDifferInANonAsciiLetterStayApart) {
    // SQLite holds "\u00c9" and "\u00e9" as two columns; only ASCII letters fold.
    const QStringList columns = {QStringLiteral("\u00c9"), QStringLiteral("\u00e9"),
                                 QStringLiteral("Code")};
    FailedRowsCsv csv(
        Path(), {{QStringLiteral("t"), columns}, {QStringLiteral("u"), {QStringLiteral("code")}}});
    ASSERT_TRUE(csv.Add(QStringLiteral("t"), 1, {3022, QStringLiteral("중복"), 0}, columns,
                        {dao::Value::Text(QStringLiteral("upper")),
                         dao::Value::Text(QStringLiteral("lower")), dao::Value(int64_t{7})}));
    const QString text = QString::fromUtf8(Bytes(Path()));
    EXPECT_TRUE(text.contains(QStringLiteral(",\u00c9,\u00e9,Code\r\n"))) << Str(text);
    EXPECT_TRUE(text.endsWith(QStringLiteral(",upper,lower,7\r\n"))) << Str(text);
}

TEST_F(FailedRowsCsvTest, ATextThatIsNoUtf8KeepsItsBytesAsHex) {
    FailedRowsCsv csv(Path(), {{QStringLiteral("t"), {QStringLiteral("v"), QStringLiteral("w")}}});
    ASSERT_TRUE(csv.Add(QStringLiteral("t"), 1, {3022, QStringLiteral("중복"), 0},
                        {QStringLiteral("v"), QStringLiteral("w")},
                        {dao::Value::Text(std::string("\xb0\xa1\xff A", 5)),
                         dao::Value::Text(std::string("\xea\xb0\x80"))}));
    const QByteArray bytes = Bytes(Path());
    EXPECT_FALSE(bytes.contains("\xef\xbf\xbd")) << bytes.toStdString();
    EXPECT_TRUE(bytes.endsWith(",0xB0A1FF2041,\xea\xb0\x80\r\n")) << bytes.toStdString();
}

// ---- The table copy's list and counts

std::vector<std::string> Column(const std::vector<Row>& rows) {
    std::vector<std::string> values;
    for (const Row& row : rows) {
        values.push_back(row.at(0).value_or("<null>"));
    }
    std::sort(values.begin(), values.end());
    return values;
}

class FailedRowsCopyTest : public RunFixture {
protected:
    void SetUp() override {
        RunFixture::SetUp();
        conversion.SetJournal(&journal);
    }
    void Copy(const QString& table) {
        if (source.IsEmpty()) {
            ASSERT_TRUE(MyOpenDB(platform, source, SourceFile(), 0));
            ASSERT_TRUE(MyOpenDB(platform, dest, DestFile(), 0));
        }
        conversion.CopyData(source, dest, table);
    }
    void Finish() {
        CloseObject(source);
        CloseObject(dest);
    }
    QString CsvPath() const { return tmp.File(kFailedRowsName); }
    QString Note() const {
        return QStringLiteral(" (실패한 행: %1)").arg(QDir::toNativeSeparators(CsvPath()));
    }
    // The listed rows plus the copied rows are exactly the source's rows, by code.
    void ExpectSumHolds(const QString& table, const FailedRowsFile& file) {
        Finish();
        const std::string sql = "SELECT code FROM " + table.toStdString();
        std::vector<std::string> together = Column(QueryRows(DestFile(), sql));
        for (const FailedRow& row : file.Of(table)) {
            together.push_back(Str(row.Value(QStringLiteral("code")).text));
        }
        std::sort(together.begin(), together.end());
        EXPECT_EQ(together, Column(QueryRows(SourceFile(), sql)));
    }
    // Each listed row holds the source row at its position.
    void ExpectValuesAtPositions(const QString& table, const FailedRowsFile& file) {
        for (const FailedRow& row : file.Of(table)) {
            EXPECT_EQ(
                Str(row.Value(QStringLiteral("code")).text),
                QueryValue(SourceFile(), "SELECT code FROM " + table.toStdString() +
                                             " WHERE rowid = " + std::to_string(row.position)))
                << row.position;
        }
    }

    TestJournal journal{tmp.File(kFailedRowsName), kTables};
    dao::DatabaseHandle source;
    dao::DatabaseHandle dest;
};

TEST_F(FailedRowsCopyTest, NothingFailedLeavesNoFileAndRecordsTheCountsAndTheDelete) {
    Copy(QStringLiteral("product"));
    Finish();
    EXPECT_EQ(Str(form.text), "product 데이터복사완료\r\n");
    EXPECT_FALSE(QFileInfo::exists(CsvPath()));
    EXPECT_TRUE(journal.FailedRowsPath().isEmpty());
    ASSERT_EQ(journal.tables.size(), 1u);
    const TableCopyCounts& counts = journal.tables[0];
    EXPECT_EQ(Str(counts.tableName), "product");
    EXPECT_EQ(counts.sourceRows, 3);
    EXPECT_EQ(counts.destBefore, 1);
    EXPECT_EQ(counts.copied, 3);
    EXPECT_EQ(counts.failed, 0);
    EXPECT_EQ(counts.destAfter, 3);
    ASSERT_EQ(journal.statements.size(), 1u);
    EXPECT_EQ(Str(journal.statements[0].product), Str(kDestProduct));
    EXPECT_EQ(Str(journal.statements[0].sql), "delete from product");
    EXPECT_EQ(journal.statements[0].rows, 1);
}

TEST_F(FailedRowsCopyTest, DuplicateKeysAreListedByTheirPositionsWithTheirValues) {
    ExecSql(SourceFile(),
            "INSERT INTO trader VALUES ('T001', '중복1', NULL, 'a'), "
            "('T002', '중복2', '', 'b'), ('T001', '중복3', NULL, 'c'), "
            "('T009', '새 거래처', NULL, 'd');");
    Copy(QStringLiteral("trader"));
    EXPECT_TRUE(
        form.text.contains(QStringLiteral("6건 중 3건 복사, 3건 실패 (첫 오류: Error 3022 (")))
        << Str(form.text);
    EXPECT_TRUE(form.text.endsWith(Note() + QStringLiteral("\r\n"))) << Str(form.text);

    const FailedRowsFile file = ReadFailedRows(CsvPath());
    EXPECT_EQ(file.Positions(QStringLiteral("trader")), (std::vector<int64_t>{3, 4, 5}));
    for (const FailedRow& row : file.rows) {
        EXPECT_EQ(row.number, 3022);
        EXPECT_TRUE(row.description.contains(QStringLiteral("code"), Qt::CaseInsensitive))
            << Str(row.description);
    }
    ASSERT_EQ(file.rows.size(), 3u);
    EXPECT_EQ(Str(file.rows[1].Value(QStringLiteral("name")).text), "중복2");
    EXPECT_TRUE(file.rows[1].Value(QStringLiteral("hphone")).quoted);   // an empty text
    EXPECT_FALSE(file.rows[0].Value(QStringLiteral("hphone")).quoted);  // null
    EXPECT_EQ(Str(file.rows[2].Value(QStringLiteral("u_name")).text), "c");
    ASSERT_EQ(journal.tables.size(), 1u);
    EXPECT_EQ(journal.tables[0].sourceRows, 6);
    EXPECT_EQ(journal.tables[0].copied, 3);
    EXPECT_EQ(journal.tables[0].failed, 3);
    EXPECT_EQ(journal.tables[0].destAfter, 3);
    ExpectValuesAtPositions(QStringLiteral("trader"), file);
    ExpectSumHolds(QStringLiteral("trader"), file);
}

TEST_F(FailedRowsCopyTest, ARefusedFieldWriteListsItsRowOnce) {
    ExecSql(DestFile(),
            "DROP TABLE trader; CREATE TABLE trader(U_Name TEXT NOT NULL, code TEXT PRIMARY KEY, "
            "name TEXT, hphone INTEGER) STRICT;");
    ExecSql(SourceFile(),
            "INSERT INTO trader VALUES ('T003', '한솔', '0212345678', '정'), "
            "('T004', '미래', '문의 바람', '강'), ('T005', '새 거래처', NULL, '윤');");
    Copy(QStringLiteral("trader"));
    EXPECT_TRUE(form.text.endsWith(QStringLiteral("5건 중 3건 복사, 2건 실패 (첫 오류: Error 3421 "
                                                  "('trader.hphone' 열은 INTEGER 형식이라 TEXT "
                                                  "값을 저장할 수 없습니다.))") +
                                   Note() + QStringLiteral("\r\n")))
        << Str(form.text);
    const FailedRowsFile file = ReadFailedRows(CsvPath());
    EXPECT_EQ(file.Positions(QStringLiteral("trader")), (std::vector<int64_t>{1, 4}));
    for (const FailedRow& row : file.rows) {
        EXPECT_EQ(row.number, 3421);
        EXPECT_EQ(Str(row.description),
                  "'trader.hphone' 열은 INTEGER 형식이라 TEXT 값을 저장할 수 없습니다.");
    }
    ASSERT_EQ(file.rows.size(), 2u);
    EXPECT_EQ(Str(file.rows[0].Value(QStringLiteral("hphone")).text), "010-1234-5678");
    EXPECT_EQ(Str(file.rows[1].Value(QStringLiteral("hphone")).text), "문의 바람");
    ExpectSumHolds(QStringLiteral("trader"), file);
}

TEST_F(FailedRowsCopyTest, ValuesOfEveryKindAreListedAsTheSourceHoldsThem) {
    // Columns without a type keep every value as it was given.
    ExecSql(SourceFile(),
            "DROP TABLE trader; CREATE TABLE trader(code, name, hphone, u_name);"
            "INSERT INTO trader VALUES ('T001', 'a,b \"c\"', x'00FF10', 0.1), "
            "('T002', '', NULL, 12345678901234), "
            "('T003', '줄1' || char(13, 10) || '줄2', 1e300, 0.30000000000000004);");
    ExecSql(DestFile(),
            "DROP TABLE trader; CREATE TABLE trader(U_Name, code TEXT PRIMARY KEY CHECK (code "
            "NOT IN ('T001', 'T002', 'T003')), name, HPhone);");
    Copy(QStringLiteral("trader"));
    EXPECT_TRUE(form.text.contains(QStringLiteral("3건 중 0건 복사, 3건 실패"))) << Str(form.text);
    const QString text = QString::fromUtf8(Bytes(CsvPath()));
    EXPECT_TRUE(text.contains(QStringLiteral(",T001,\"a,b \"\"c\"\"\",,,0x00FF10,0.1\r\n")))
        << Str(text);
    EXPECT_TRUE(text.contains(QStringLiteral(",T002,\"\",,,,12345678901234\r\n"))) << Str(text);
    EXPECT_TRUE(
        text.contains(QStringLiteral(",T003,\"줄1\r\n줄2\",,,1e+300,0.30000000000000004\r\n")))
        << Str(text);
    const FailedRowsFile file = ReadFailedRows(CsvPath());
    EXPECT_EQ(file.Positions(QStringLiteral("trader")), (std::vector<int64_t>{1, 2, 3}));
    for (const FailedRow& row : file.rows) {
        EXPECT_EQ(row.number, 3317);
    }
}

TEST_F(FailedRowsCopyTest, RowsOfBothTablesShareOneFile) {
    ExecSql(SourceFile(),
            "INSERT INTO product VALUES ('P001', '중복 볼펜', '개', 1);"
            "INSERT INTO trader VALUES ('T002', '중복', NULL, '김');");
    Copy(QStringLiteral("product"));
    Copy(QStringLiteral("trader"));
    const FailedRowsFile file = ReadFailedRows(CsvPath());
    EXPECT_EQ(file.Positions(QStringLiteral("product")), (std::vector<int64_t>{4}));
    EXPECT_EQ(file.Positions(QStringLiteral("trader")), (std::vector<int64_t>{3}));
    ASSERT_EQ(file.rows.size(), 2u);
    EXPECT_EQ(Str(file.rows[0].Value(QStringLiteral("unit")).text), "개");
    EXPECT_EQ(Str(file.rows[0].Value(QStringLiteral("price")).text), "1");
    EXPECT_TRUE(file.rows[0].Value(QStringLiteral("u_name")).text.isEmpty());
    EXPECT_EQ(Str(file.rows[1].Value(QStringLiteral("u_name")).text), "김");
    EXPECT_TRUE(file.rows[1].Value(QStringLiteral("unit")).text.isEmpty());
    // Both tables' failure lines name the file.
    EXPECT_EQ(form.text.count(Note()), 2) << Str(form.text);
    ExpectSumHolds(QStringLiteral("product"), file);
    ExpectSumHolds(QStringLiteral("trader"), file);
}

TEST_F(FailedRowsCopyTest, AFailingDeleteListsEverySourceRowWithItsError) {
    ExecSql(DestFile(),
            "CREATE TRIGGER keep BEFORE DELETE ON trader "
            "BEGIN SELECT RAISE(ABORT, 'rows are kept'); END;");
    Copy(QStringLiteral("trader"));
    const auto boxes = platform.MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    const QString error =
        boxes[0].text.left(boxes[0].text.indexOf(QStringLiteral(" in procedure")));
    const QString reason =
        QStringLiteral("대상 테이블의 기존 자료를 지우지 못했습니다: %1").arg(error);
    EXPECT_EQ(Str(form.text),
              Str(QStringLiteral("trader 복사 안 함: %1. 대상 테이블에 아무 행도 넣지 "
                                 "않았습니다.\r\ntrader 데이터복사 중 오류: 2건 중 0건 복사, 2건 "
                                 "실패")
                      .arg(reason) +
                  Note() + QStringLiteral("\r\n")));
    const FailedRowsFile file = ReadFailedRows(CsvPath());
    EXPECT_EQ(file.Positions(QStringLiteral("trader")), (std::vector<int64_t>{1, 2}));
    const int32_t number = error.mid(6, error.indexOf(QLatin1Char(' '), 6) - 6).toInt();
    EXPECT_GT(number, 0);
    for (const FailedRow& row : file.rows) {
        EXPECT_EQ(row.number, number);
        EXPECT_EQ(Str(row.description), Str(reason));
    }
    ExpectValuesAtPositions(QStringLiteral("trader"), file);
    ASSERT_EQ(journal.statements.size(), 1u);
    EXPECT_EQ(Str(journal.statements[0].sql), "delete from trader");
    EXPECT_EQ(journal.statements[0].rows, -1);
    ASSERT_EQ(journal.tables.size(), 1u);
    EXPECT_EQ(journal.tables[0].sourceRows, 2);
    EXPECT_EQ(journal.tables[0].destBefore, 1);
    EXPECT_EQ(journal.tables[0].copied, 0);
    EXPECT_EQ(journal.tables[0].failed, 2);
    EXPECT_EQ(journal.tables[0].destAfter, 1);
}

TEST_F(FailedRowsCopyTest, ARefusalWithoutAnErrorListsEveryRowWithNumberZero) {
    // A source file larger than the free space (sparse, so that it takes no room itself).
    const qint64 available = QStorageInfo(DestFolder()).bytesAvailable();
    ASSERT_GT(available, 0);
    ASSERT_TRUE(QFile::resize(SourceFile(), available + (qint64{1} << 30)));
    Copy(QStringLiteral("trader"));
    EXPECT_TRUE(form.text.endsWith(QStringLiteral("2건 중 0건 복사, 2건 실패") + Note() +
                                   QStringLiteral("\r\n")))
        << Str(form.text);
    const FailedRowsFile file = ReadFailedRows(CsvPath());
    EXPECT_EQ(file.Positions(QStringLiteral("trader")), (std::vector<int64_t>{1, 2}));
    for (const FailedRow& row : file.rows) {
        EXPECT_EQ(row.number, 0);
        EXPECT_TRUE(row.description.startsWith(QStringLiteral("디스크의 빈 공간이 부족합니다")))
            << Str(row.description);
    }
    EXPECT_TRUE(journal.statements.empty());
}

TEST_F(FailedRowsCopyTest, ADeleteThatLeavesRowsListsEveryRow) {
    ExecSql(DestFile(),
            "CREATE TRIGGER keep BEFORE DELETE ON trader WHEN old.code = 'OLDT' "
            "BEGIN SELECT RAISE(IGNORE); END;");
    Copy(QStringLiteral("trader"));
    const FailedRowsFile file = ReadFailedRows(CsvPath());
    EXPECT_EQ(file.Positions(QStringLiteral("trader")), (std::vector<int64_t>{1, 2}));
    ASSERT_EQ(journal.statements.size(), 1u);
    EXPECT_EQ(journal.statements[0].rows, 0);
    ASSERT_FALSE(file.rows.empty());
    EXPECT_EQ(file.rows[0].number, 0);
    EXPECT_EQ(Str(file.rows[0].description),
              "대상 테이블의 기존 자료를 지웠지만 1건이 남아 있습니다");
}

TEST_F(FailedRowsCopyTest, WithoutAJournalTheLogIsAsBefore) {
    conversion.SetJournal(nullptr);
    ExecSql(SourceFile(), "INSERT INTO trader VALUES ('T001', '중복', NULL, 'a');");
    Copy(QStringLiteral("trader"));
    EXPECT_TRUE(
        form.text.contains(QStringLiteral("3건 중 2건 복사, 1건 실패 (첫 오류: Error 3022 (")))
        << Str(form.text);
    EXPECT_TRUE(form.text.endsWith(QStringLiteral("))\r\n"))) << Str(form.text);
    EXPECT_FALSE(form.text.contains(QStringLiteral("실패한 행")));
    EXPECT_FALSE(QFileInfo::exists(CsvPath()));
}

}  // namespace

namespace {

TEST_F(FailedRowsCopyTest, AListOfManyRowsKeepsTheWindowPaintingWithoutMovingTheBar) {
    ExecSql(SourceFile(),
            "WITH RECURSIVE n(i) AS (SELECT 3 UNION ALL SELECT i + 1 FROM n WHERE i < 600) "
            "INSERT INTO trader SELECT printf('T%03d', i), '거래처', NULL, '김' FROM n;");
    ExecSql(DestFile(),
            "CREATE TRIGGER keep BEFORE DELETE ON trader "
            "BEGIN SELECT RAISE(ABORT, 'rows are kept'); END;");
    Copy(QStringLiteral("trader"));
    EXPECT_EQ(journal.RowsListed(), 600);
    // The reset to 0 when the copy began, then the same value again every 256 rows listed.
    EXPECT_EQ(form.valueWrites, 1 + 2);
    EXPECT_EQ(form.value, 0.0f);
}

}  // namespace
