// The ODBC driver, driven through the engine as the rest of the tool drives it. SQLite files are
// sent through the SQLite ODBC driver, the only ODBC driver that runs here; the Access driver's
// own behaviour (its SQLSTATEs and messages) is covered through the classification of its
// diagnostics (odbc_diagnostics_test.cpp).

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QStringList>
#include <functional>
#include <string>

#include "data/Drivers.h"
#include "data/Engine.h"
#include "data/OdbcDriver.h"
#include "data/SqlText.h"
#include "support/Raised.h"
#include "support/SqliteFixture.h"
#include "support/Wine.h"

namespace {

using dao::Value;
namespace odbc = dao::detail::odbc;

// SQLite files through ODBC.
dao::EngineOptions ThroughOdbc() {
    dao::EngineOptions options;
    options.sqliteThroughOdbc = true;
    options.odbcSqlitePath = OdbcDriverPath;
    return options;
}

dao::DBEngine& Engine() {
    static dao::DBEngine engine(ThroughOdbc());
    return engine;
}

QStringList g_messages;
QtMessageHandler g_previousHandler = nullptr;

void RecordMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    g_messages << message;
    if (g_previousHandler != nullptr) {
        g_previousHandler(type, context, message);
    }
}

// Another process's connection, through SQLite's C API.
class OtherConnection {
public:
    explicit OtherConnection(const QString& path) {
        const QByteArray name = path.toUtf8();
        EXPECT_EQ(sqlite3_open_v2(name.constData(), &db_, SQLITE_OPEN_READWRITE, nullptr),
                  SQLITE_OK);
    }
    ~OtherConnection() { sqlite3_close(db_); }
    OtherConnection(const OtherConnection&) = delete;
    OtherConnection& operator=(const OtherConnection&) = delete;

    void Exec(const char* sql) {
        char* err = nullptr;
        EXPECT_EQ(sqlite3_exec(db_, sql, nullptr, nullptr, &err), SQLITE_OK) << (err ? err : "");
        sqlite3_free(err);
    }

private:
    sqlite3* db_ = nullptr;
};

class OdbcDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_messages.clear();
        g_previousHandler = qInstallMessageHandler(RecordMessage);
        file = tmp.File(QStringLiteral("dbbasic.mdb"));
        ExecSql(
            file,
            "CREATE TABLE product(code TEXT PRIMARY KEY, name TEXT NOT NULL, qty INTEGER, "
            "  price REAL, photo BLOB, unit TEXT, stamp DATETIME, CHECK (qty IS NULL OR qty >= 0));"
            "CREATE TABLE pclass(Code TEXT PRIMARY KEY, ClassName TEXT, Used BOOLEAN);"
            "INSERT INTO product VALUES ('A1', '볼펜', 10, 1.5, x'00ff10', '', "
            "  '2024-01-02 03:04:05');"
            "INSERT INTO product VALUES ('A2', '공책', NULL, NULL, NULL, NULL, NULL);"
            "INSERT INTO product VALUES ('A3', 'Big', 5000000000, -0.25, x'', '개', NULL);");
    }

    void TearDown() override {
        qInstallMessageHandler(g_previousHandler);
        EXPECT_EQ(Engine().OpenDatabaseCount(), 0);
        EXPECT_TRUE(QSqlDatabase::connectionNames().isEmpty())
            << QSqlDatabase::connectionNames().join(QLatin1Char(' ')).toStdString();
        for (const QString& m : g_messages) {
            EXPECT_FALSE(m.contains(QLatin1String("still in use"))) << m.toStdString();
            EXPECT_FALSE(m.contains(QLatin1String("duplicate connection"))) << m.toStdString();
        }
    }

    std::shared_ptr<dao::Database> Open() { return Engine().OpenDatabase(file, 0); }

    TempFolder tmp;
    QString file;
};

// ---- Access files

TEST_F(OdbcDriverTest, AccessFileWithoutAnAccessDriverFailsWith3170AndSaysWhatToDo) {
    const QString mdb = tmp.File(QStringLiteral("jet.mdb"));
    QFile f(mdb);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    QByteArray head("\x00\x01\x00\x00", 4);
    head += "Standard Jet DB";
    head += QByteArray(2048 - head.size(), '\0');
    f.write(head);
    f.close();

    const dao::Error e = Raised([&] { Engine().OpenDatabase(mdb, 0); });
#ifdef _WIN32
    if (e.Number() == dao::errUnrecognisedFormat) {
        GTEST_SKIP() << "an Access driver is installed here (and refuses the fake file)";
    }
#endif
    EXPECT_EQ(e.Number(), dao::errInstallableIsam);
    const QString text = e.Description();
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(mdb))) << text.toStdString();
    EXPECT_TRUE(text.contains(QLatin1String("Access"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("ODBC 드라이버"))) << text.toStdString();
#ifndef _WIN32
    EXPECT_TRUE(text.contains(QString::fromUtf8("Windows에서 실행"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromUtf8("변환"))) << text.toStdString();
#endif
    // The file is left as it was.
    EXPECT_EQ(FileBytes(mdb), head);
}

// ---- Reading

TEST_F(OdbcDriverTest, SnapshotReadsNullsKoreanIntegersRealsAndBlobs) {
    auto db = Open();
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenSnapshot);
    dao::Fields fields = rs->GetFields();
    ASSERT_EQ(fields.Count(), 7);
    EXPECT_EQ(fields.Item(int16_t{0}).Name(), QStringLiteral("code"));
    EXPECT_EQ(fields.Item(int16_t{6}).Name(), QStringLiteral("stamp"));

    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(fields.Item(QStringLiteral("code")).GetValue(), Value::Text(std::string("A1")));
    EXPECT_EQ(fields.Item(QStringLiteral("name")).GetValue(), Value::Text(QStringLiteral("볼펜")));
    EXPECT_EQ(fields.Item(QStringLiteral("qty")).GetValue(), Value(int64_t{10}));
    EXPECT_EQ(fields.Item(QStringLiteral("price")).GetValue(), Value(1.5));
    EXPECT_EQ(fields.Item(QStringLiteral("photo")).GetValue(),
              Value::Blob(std::string("\x00\xff\x10", 3)));
    // Empty text is not null.
    EXPECT_EQ(fields.Item(QStringLiteral("unit")).GetValue(), Value::Text(std::string()));
    EXPECT_EQ(fields.Item(QStringLiteral("stamp")).GetValue(),
              Value::Text(std::string("2024-01-02 03:04:05")));

    rs->MoveNext();
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(fields.Item(QStringLiteral("name")).GetValue(), Value::Text(QStringLiteral("공책")));
    for (const char* column : {"qty", "price", "photo", "unit", "stamp"}) {
        EXPECT_TRUE(fields.Item(QString::fromLatin1(column)).GetValue().isNull()) << column;
    }

    rs->MoveNext();
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(fields.Item(QStringLiteral("qty")).GetValue(), Value(int64_t{5000000000}));
    EXPECT_EQ(fields.Item(QStringLiteral("price")).GetValue(), Value(-0.25));
    EXPECT_EQ(fields.Item(QStringLiteral("unit")).GetValue(), Value::Text(QStringLiteral("개")));

    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(Raised([&] { rs->MoveNext(); }).Number(), dao::errNoCurrentRecord);
    EXPECT_EQ(Raised([&] { fields.Item(QStringLiteral("code")).GetValue(); }).Number(),
              dao::errNoCurrentRecord);
    rs->Close();
    db->Close();
}

TEST_F(OdbcDriverTest, FieldNamesAreMatchedWithoutRegardToLetterCase) {
    auto db = Open();
    auto rs = db->OpenRecordset(QStringLiteral("select * from PRODUCT"), dao::dbOpenSnapshot);
    dao::Fields fields = rs->GetFields();
    EXPECT_EQ(fields.Item(QStringLiteral("NAME")).Index(), 1);
    EXPECT_EQ(fields.Item(QStringLiteral("Name")).Index(), 1);
    EXPECT_EQ(fields.Item(QStringLiteral("pHoTo")).Index(), 4);
    const dao::Error e = Raised([&] { fields.Item(QStringLiteral("nosuch")); });
    EXPECT_EQ(e.Number(), dao::errItemNotFound);
    EXPECT_EQ(Raised([&] { fields.Item(int16_t{7}); }).Number(), dao::errItemNotFound);

    // Statements name tables and columns in any case too.
    db->Execute(QStringLiteral("UPDATE Product SET UNIT = 'ea' where Code = 'A2'"));
    EXPECT_EQ(QueryValue(file, "SELECT unit FROM product WHERE code = 'A2'"), "ea");
    db->Close();
}

TEST_F(OdbcDriverTest, ColumnNamesOutsideAsciiAreFound) {
    ExecSql(file,
            "CREATE TABLE f (Code TEXT, \"Ölpreis\" REAL, \"상품명\" TEXT);"
            "INSERT INTO f VALUES ('c1', 2.5, '우유');");
    auto db = Open();
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM f"), dao::dbOpenSnapshot);
    dao::Fields fields = rs->GetFields();
    EXPECT_EQ(fields.Item(int16_t{2}).Name().toStdString(), "상품명");
    EXPECT_EQ(fields.Item(QString::fromUtf8("상품명")).GetValue(),
              Value::Text(QStringLiteral("우유")));
    // SQLite folds ASCII letters only, and so does the engine for its files.
    EXPECT_EQ(fields.Item(QString::fromUtf8("ÖLPREIS")).GetValue(), Value(2.5));
    EXPECT_EQ(Raised([&] { fields.Item(QString::fromUtf8("ölpreis")); }).Number(),
              dao::errItemNotFound);
    db->Close();
}

TEST_F(OdbcDriverTest, RecordCountIsTheFullCountAfterMoveLast) {
    ExecSql(file,
            "CREATE TABLE big(id INTEGER PRIMARY KEY, label TEXT);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500) "
            "INSERT INTO big SELECT i, 'row ' || i FROM n;");
    auto db = Open();
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM big"), dao::dbOpenSnapshot);
    EXPECT_EQ(rs->RecordCount(), 1);
    rs->MoveLast();
    EXPECT_EQ(rs->RecordCount(), 2500);
    EXPECT_FALSE(rs->Eof());
    // The last row is there when it is read.
    EXPECT_EQ(rs->GetFields().Item(QStringLiteral("id")).GetValue(), Value(int64_t{2500}));
    rs->MoveFirst();
    EXPECT_EQ(rs->GetFields().Item(QStringLiteral("id")).GetValue(), Value(int64_t{1}));

    // The table copy's order: MoveLast, MoveFirst, then every row once.
    auto copy = db->OpenRecordset(QStringLiteral("SELECT * FROM big"), dao::dbOpenSnapshot);
    copy->MoveLast();
    copy->MoveFirst();
    EXPECT_EQ(copy->RecordCount(), 2500);
    int64_t expected = 1;
    while (!copy->Eof()) {
        ASSERT_EQ(copy->GetFields().Item(int16_t{0}).GetValue(), Value(expected));
        copy->MoveNext();
        ++expected;
    }
    EXPECT_EQ(expected, 2501);
    EXPECT_EQ(copy->RecordCount(), 2500);

    // A source that is not one whole table is counted too.
    auto filtered = db->OpenRecordset(QStringLiteral("SELECT id FROM big WHERE id > 2000"),
                                      dao::dbOpenSnapshot);
    filtered->MoveLast();
    EXPECT_EQ(filtered->RecordCount(), 500);
    EXPECT_EQ(filtered->GetFields().Item(int16_t{0}).GetValue(), Value(int64_t{2500}));
    db->Close();
}

TEST_F(OdbcDriverTest, AnEmptyTableIsAtEofAtOnce) {
    ExecSql(file, "CREATE TABLE empty(id INTEGER PRIMARY KEY);");
    auto db = Open();
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM empty"), dao::dbOpenSnapshot);
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(rs->RecordCount(), 0);
    EXPECT_EQ(Raised([&] { rs->MoveLast(); }).Number(), dao::errNoCurrentRecord);
    EXPECT_EQ(Raised([&] { rs->MoveFirst(); }).Number(), dao::errNoCurrentRecord);
    db->Close();
}

// ---- Writing

TEST_F(OdbcDriverTest, DynasetStoresWhatIsWrittenNullIncluded) {
    ExecSql(file, "DELETE FROM product;");
    auto db = Open();
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenDynaset);
    EXPECT_TRUE(rs->Eof());
    dao::Fields fields = rs->GetFields();

    EXPECT_EQ(rs->EditMode(), dao::dbEditNone);
    rs->AddNew();
    EXPECT_EQ(rs->EditMode(), dao::dbEditAdd);
    fields.Item(QStringLiteral("CODE")).SetValue(Value::Text(std::string("K1")));
    fields.Item(QStringLiteral("name")).SetValue(Value::Text(QStringLiteral("한글 상품명 ①")));
    fields.Item(QStringLiteral("qty")).SetValue(Value(int64_t{7000000000}));
    fields.Item(QStringLiteral("price")).SetValue(Value(2.75));
    fields.Item(QStringLiteral("photo")).SetValue(Value::Blob(std::string("\x00\x01\x02", 3)));
    fields.Item(QStringLiteral("unit")).SetValue(Value::Null());
    fields.Item(QStringLiteral("stamp")).SetValue(Value::Text(std::string("2023-12-31 23:59:58")));
    // The pending row reads back what was written.
    EXPECT_EQ(fields.Item(QStringLiteral("price")).GetValue(), Value(2.75));
    rs->Update();
    EXPECT_EQ(rs->EditMode(), dao::dbEditNone);

    rs->AddNew();
    fields.Item(QStringLiteral("code")).SetValue(Value::Text(std::string("K2")));
    fields.Item(QStringLiteral("name")).SetValue(Value::Text(std::string()));
    fields.Item(QStringLiteral("unit")).SetValue(Value::Text(std::string()));
    fields.Item(QStringLiteral("photo")).SetValue(Value::Blob(std::string()));
    rs->Update();
    rs->Close();
    db->Close();

    const auto rows = QueryRows(file,
                                "SELECT code, name, qty, typeof(qty), price, hex(photo), "
                                "unit IS NULL, stamp, typeof(photo) FROM product ORDER BY code");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "K1");
    EXPECT_EQ(rows[0][1], "한글 상품명 ①");
    EXPECT_EQ(rows[0][2], "7000000000");
    EXPECT_EQ(rows[0][3], "integer");
    EXPECT_EQ(rows[0][4], "2.75");
    EXPECT_EQ(rows[0][5], "000102");
    EXPECT_EQ(rows[0][6], "1");
    ASSERT_TRUE(rows[0][7].has_value());
    EXPECT_EQ(rows[0][7]->substr(0, 19), "2023-12-31 23:59:58");
    // Empty text and an empty blob stay empty, not null; unwritten columns are null.
    EXPECT_EQ(rows[1][1], "");
    EXPECT_EQ(rows[1][6], "0");
    EXPECT_EQ(rows[1][8], "blob");
    EXPECT_EQ(rows[1][2], std::nullopt);
}

TEST_F(OdbcDriverTest, ACopiedRowReadsBackEqual) {
    ExecSql(file,
            "CREATE TABLE dest(code TEXT PRIMARY KEY, name TEXT NOT NULL, qty INTEGER, "
            "  price REAL, photo BLOB, unit TEXT, stamp DATETIME);");
    auto db = Open();
    auto src = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenSnapshot);
    auto dst = db->OpenRecordset(QStringLiteral("SELECT * FROM dest"), dao::dbOpenDynaset);
    std::vector<std::vector<Value>> copied;
    while (!src->Eof()) {
        dst->AddNew();
        std::vector<Value> row;
        for (int16_t i = 0; i < src->GetFields().Count(); ++i) {
            const dao::Field from = src->GetFields().Item(i);
            const dao::Field to = dst->GetFields().Item(from.Name());
            row.push_back(from.GetValue());
            to.SetValue(row.back());
        }
        dst->Update();
        copied.push_back(row);
        src->MoveNext();
    }
    src->Close();
    dst->Close();
    auto check = db->OpenRecordset(QStringLiteral("SELECT * FROM dest"), dao::dbOpenSnapshot);
    for (const auto& row : copied) {
        ASSERT_FALSE(check->Eof());
        for (int16_t i = 0; i < static_cast<int16_t>(row.size()); ++i) {
            EXPECT_EQ(check->GetFields().Item(i).GetValue(), row[static_cast<size_t>(i)])
                << "column " << i;
        }
        check->MoveNext();
    }
    EXPECT_TRUE(check->Eof());
    db->Close();
}

TEST_F(OdbcDriverTest, UpdateOfADuplicateFailsWith3022AndTheRecordsetStaysUsable) {
    auto db = Open();
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenDynaset);
    dao::Fields fields = rs->GetFields();
    rs->AddNew();
    fields.Item(QStringLiteral("code")).SetValue(Value::Text(std::string("B1")));
    fields.Item(QStringLiteral("name")).SetValue(Value::Text(std::string("first")));
    rs->Update();

    rs->AddNew();
    fields.Item(QStringLiteral("code")).SetValue(Value::Text(std::string("A1")));
    fields.Item(QStringLiteral("name")).SetValue(Value::Text(std::string("dup")));
    const dao::Error dup = Raised([&] { rs->Update(); });
    EXPECT_EQ(dup.Number(), dao::errDuplicateKey);
    EXPECT_TRUE(dup.Description().contains(QLatin1String("product.code")))
        << dup.Description().toStdString();
    // The failed row is still pending; the caller cancels it.
    EXPECT_EQ(rs->EditMode(), dao::dbEditAdd);
    rs->CancelUpdate();
    EXPECT_EQ(rs->EditMode(), dao::dbEditNone);

    rs->AddNew();
    fields.Item(QStringLiteral("code")).SetValue(Value::Text(std::string("B2")));
    fields.Item(QStringLiteral("name")).SetValue(Value::Null());
    EXPECT_EQ(Raised([&] { rs->Update(); }).Number(), dao::errRequired);
    rs->CancelUpdate();

    rs->AddNew();
    fields.Item(QStringLiteral("code")).SetValue(Value::Text(std::string("B3")));
    fields.Item(QStringLiteral("name")).SetValue(Value::Text(std::string("bad qty")));
    fields.Item(QStringLiteral("qty")).SetValue(Value(-1));
    EXPECT_EQ(Raised([&] { rs->Update(); }).Number(), dao::errValidationRule);
    rs->CancelUpdate();

    rs->AddNew();
    fields.Item(QStringLiteral("code")).SetValue(Value::Text(std::string("B4")));
    fields.Item(QStringLiteral("name")).SetValue(Value::Text(std::string("after")));
    rs->Update();
    rs->Close();
    db->Close();
    // The rows saved before and after the failures are kept.
    EXPECT_EQ(QueryValue(file,
                         "SELECT group_concat(code) FROM (SELECT code FROM product "
                         "WHERE code LIKE 'B%' ORDER BY code)"),
              "B1,B4");
    EXPECT_EQ(QueryValue(file, "SELECT name FROM product WHERE code = 'A1'"), "볼펜");
}

TEST_F(OdbcDriverTest, UpdateAndCancelUpdateWithNoPendingRowFailWith3020) {
    auto db = Open();
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenDynaset);
    EXPECT_EQ(Raised([&] { rs->Update(); }).Number(), dao::errUpdateWithoutAddNew);
    EXPECT_EQ(Raised([&] { rs->CancelUpdate(); }).Number(), dao::errUpdateWithoutAddNew);
    EXPECT_EQ(
        Raised([&] { rs->GetFields().Item(QStringLiteral("name")).SetValue(Value(1)); }).Number(),
        dao::errUpdateWithoutAddNew);
    // A dynaset still reads its rows.
    EXPECT_EQ(rs->GetFields().Item(QStringLiteral("code")).GetValue(),
              Value::Text(std::string("A1")));

    auto snap = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenSnapshot);
    EXPECT_EQ(Raised([&] { snap->AddNew(); }).Number(), dao::errReadOnly);
    EXPECT_EQ(Raised([&] { snap->GetFields().Item(int16_t{1}).SetValue(Value(1)); }).Number(),
              dao::errReadOnly);
    EXPECT_EQ(Raised([&] { snap->Update(); }).Number(), dao::errReadOnly);
    EXPECT_EQ(snap->EditMode(), dao::dbEditNone);
    db->Close();
}

TEST_F(OdbcDriverTest, SavedRowsAreCommittedInGroupsAndAtClose) {
    ExecSql(file, "CREATE TABLE many(id INTEGER PRIMARY KEY, label TEXT);");
    auto db = Open();
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM many"), dao::dbOpenDynaset);
    for (int i = 1; i <= 2500; ++i) {
        rs->AddNew();
        rs->GetFields().Item(QStringLiteral("id")).SetValue(Value(i));
        rs->GetFields().Item(QStringLiteral("label")).SetValue(Value::Text(std::string("x")));
        rs->Update();
    }
    // Other readers see the groups already committed.
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM many"), "2000");
    rs->Close();
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM many"), "2500");
    db->Close();
}

TEST_F(OdbcDriverTest, ASnapshotReadsOnWhileRowsAreSavedOnTheSameDatabase) {
    ExecSql(file,
            "CREATE TABLE src(id INTEGER PRIMARY KEY, label TEXT);"
            "CREATE TABLE dst(id INTEGER PRIMARY KEY, label TEXT);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2300) "
            "INSERT INTO src SELECT i, '행 ' || i FROM n;");
    auto db = Open();
    auto src = db->OpenRecordset(QStringLiteral("SELECT * FROM src"), dao::dbOpenSnapshot);
    auto dst = db->OpenRecordset(QStringLiteral("SELECT * FROM dst"), dao::dbOpenDynaset);
    src->MoveLast();
    src->MoveFirst();
    int copied = 0;
    while (!src->Eof()) {
        dst->AddNew();
        dst->GetFields()
            .Item(QStringLiteral("ID"))
            .SetValue(src->GetFields().Item(int16_t{0}).GetValue());
        dst->GetFields()
            .Item(QStringLiteral("Label"))
            .SetValue(src->GetFields().Item(int16_t{1}).GetValue());
        dst->Update();
        ++copied;
        src->MoveNext();
    }
    EXPECT_EQ(copied, 2300);
    // Execute commits what is pending before it runs.
    db->Execute(QStringLiteral("UPDATE dst SET label = label || '!' WHERE id = 2300"));
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM dst"), "2300");
    EXPECT_EQ(QueryValue(file, "SELECT label FROM dst WHERE id = 2300"), "행 2300!");
    src->Close();
    dst->Close();
    db->Close();
}

TEST_F(OdbcDriverTest, AFailedCommitIsReported) {
    ExecSql(file, "CREATE TABLE many(id INTEGER PRIMARY KEY);");
    auto db = Open();
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM many"), dao::dbOpenDynaset);
    for (int i = 1; i <= 3; ++i) {
        rs->AddNew();
        rs->GetFields().Item(int16_t{0}).SetValue(Value(i));
        rs->Update();
    }
    {
        // A reader in the middle of a transaction keeps the commit from getting its lock.
        OtherConnection other(file);
        other.Exec("BEGIN; SELECT count(*) FROM product;");
        const dao::Error e = Raised([&] { rs->Close(); });
        EXPECT_EQ(e.Number(), dao::errRecordLocked);
        EXPECT_TRUE(e.Description().contains(QString::fromUtf8("행 3개")))
            << e.Description().toStdString();
        EXPECT_EQ(e.RowsLost(), 3);  // as the SQLite driver reports it, for the copy's count
        other.Exec("COMMIT;");
    }
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM many"), "0");
    // The database is still usable, and closes normally.
    db->Execute(QStringLiteral("INSERT INTO many VALUES (9)"));
    db->Close();
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM many"), "1");
}

// ---- Execute

TEST_F(OdbcDriverTest, ExecuteAppliesAtOnceAndLeavesOutRowsThatBreakAConstraint) {
    auto db = Open();
    const QString pclass = QStringLiteral(
        "Insert Into pclass (Code, ClassName,Used) values ('00001', '대분류명', true)");
    db->Execute(pclass);
    EXPECT_EQ(QueryValue(file, "SELECT ClassName || '/' || Used FROM pclass"), "대분류명/1");
    db->Execute(pclass);  // a second run: the duplicate is left out, silently
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM pclass"), "1");

    ExecSql(file,
            "CREATE TABLE codes(code TEXT PRIMARY KEY);"
            "INSERT INTO codes VALUES ('A2'), ('C1'), ('C2');");
    db->Execute(QStringLiteral("INSERT INTO product (code, name) SELECT code, 'new' FROM codes"));
    EXPECT_EQ(QueryValue(file,
                         "SELECT group_concat(code || ':' || name) FROM "
                         "(SELECT * FROM product ORDER BY code)"),
              "A1:볼펜,A2:공책,A3:Big,C1:new,C2:new");

    // Every row but one would get the same unique code: one is changed, the rest left out.
    db->Execute(QStringLiteral("UPDATE product SET code = 'Z' WHERE code LIKE 'C%'"));
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM product WHERE code = 'Z'"), "1");
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM product"), "5");

    db->Execute(QStringLiteral("delete from product where code = 'Z'"));
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM product"), "4");

    // OR IGNORE does not cover a STRICT column's type: those rows are left out one by one.
    ExecSql(file,
            "CREATE TABLE s (id INTEGER PRIMARY KEY, n INTEGER) STRICT;"
            "INSERT INTO s VALUES (1, 1), (2, 2), (3, 3);");
    db->Execute(QStringLiteral("UPDATE s SET n = CASE id WHEN 2 THEN 'two' ELSE n * 10 END"));
    db->Execute(QStringLiteral("INSERT INTO s VALUES (4, 4), (5, 'five'), (6, 6)"));
    db->Execute(QStringLiteral("INSERT INTO s VALUES (7, 'seven')"));
    EXPECT_EQ(QueryValue(file,
                         "SELECT group_concat(id || ':' || n) FROM (SELECT * FROM s "
                         "ORDER BY id)"),
              "1:10,2:2,3:30,4:4,6:6");
    db->Close();
}

TEST_F(OdbcDriverTest, ExecuteFailsForAMissingTableOrColumnOrBadSyntax) {
    auto db = Open();
    const dao::Error table =
        Raised([&] { db->Execute(QStringLiteral("UPDATE prodct SET unit = ''")); });
    EXPECT_EQ(table.Number(), dao::errObjectNotFound);
    EXPECT_TRUE(table.Description().contains(QLatin1String("'prodct'")))
        << table.Description().toStdString();

    const dao::Error column =
        Raised([&] { db->Execute(QStringLiteral("UPDATE product SET colour = 'red'")); });
    EXPECT_EQ(column.Number(), dao::errTooFewParameters);
    EXPECT_TRUE(column.Description().contains(QLatin1String("'colour'")))
        << column.Description().toStdString();

    EXPECT_EQ(Raised([&] {
                  db->Execute(QStringLiteral("INSERT INTO product (code, colour) VALUES ('x', 1)"));
              }).Number(),
              dao::errTooFewParameters);
    EXPECT_EQ(Raised([&] { db->Execute(QStringLiteral("UPDATE product SET = 1")); }).Number(),
              dao::errSyntax);
    EXPECT_EQ(Raised([&] {
                  db->OpenRecordset(QStringLiteral("SELECT * FROM nothere"), dao::dbOpenSnapshot);
              }).Number(),
              dao::errObjectNotFound);
    // Nothing was changed, and the database goes on working.
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM product WHERE unit = ''"), "1");
    db->Execute(QStringLiteral("UPDATE product SET unit = ' ' where unit = ''"));
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM product WHERE unit = ' '"), "1");
    db->Close();
}

// A statement that one bad row fails as a whole is replayed row by row, as the Access driver needs.
TEST_F(OdbcDriverTest, ARefusedStatementIsReplayedLeavingOutOnlyTheFailingRows) {
    auto db = Open();
    const QString pclass = QStringLiteral(
        "Insert Into pclass (Code, ClassName,Used) values ('00001', '대분류명', true)");
    db->Execute(pclass);
    db->Execute(pclass);
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM pclass"), "1");

    ExecSql(file,
            "CREATE TABLE codes(code TEXT PRIMARY KEY, label TEXT);"
            "INSERT INTO codes VALUES ('A2', 'x'), ('C1', NULL), ('C2', 'y'), ('C3', 'z');");
    // A2 is a duplicate and C1 has no name: both left out, the others inserted.
    db->Execute(QStringLiteral("INSERT INTO product (code, name) SELECT code, label FROM codes"));
    EXPECT_EQ(QueryValue(file,
                         "SELECT group_concat(code) FROM (SELECT code FROM product "
                         "ORDER BY code)"),
              "A1,A2,A3,C2,C3");
    EXPECT_EQ(QueryValue(file, "SELECT name FROM product WHERE code = 'A2'"), "공책");

    // Several VALUES rows, one of them a duplicate.
    db->Execute(QStringLiteral(
        "INSERT INTO pclass (Code, ClassName) VALUES ('00002', 'b'), ('00001', 'dup'), "
        "('00003', 'c')"));
    EXPECT_EQ(QueryValue(file,
                         "SELECT group_concat(Code || ClassName) FROM "
                         "(SELECT * FROM pclass ORDER BY Code)"),
              "00001대분류명,00002b,00003c");

    // An UPDATE that gives every row the same unique code: the first keeps it, the rest fail.
    db->Execute(QStringLiteral("UPDATE product SET code = 'Z' WHERE code LIKE 'C%'"));
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM product WHERE code = 'Z'"), "1");
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM product"), "5");
    // An UPDATE refused by a CHECK for some rows only.
    db->Execute(QStringLiteral("UPDATE product SET qty = qty - 20 WHERE qty IS NOT NULL"));
    EXPECT_EQ(QueryValue(file,
                         "SELECT group_concat(code || '=' || qty) FROM "
                         "(SELECT * FROM product WHERE qty IS NOT NULL ORDER BY code)"),
              "A1=10,A3=4999999980");

    // A table without a primary key: its rows are told apart by SQLite's rowid.
    ExecSql(file,
            "CREATE TABLE nokey (code TEXT UNIQUE, v INTEGER);"
            "INSERT INTO nokey VALUES ('a', 1), ('b', 2), ('c', 3);");
    db->Execute(QStringLiteral("UPDATE nokey SET code = 'z' WHERE v >= 2"));
    EXPECT_EQ(QueryValue(file,
                         "SELECT group_concat(code) FROM (SELECT code FROM nokey "
                         "ORDER BY code)"),
              "a,c,z");

    // A statement that cannot run still fails.
    EXPECT_EQ(Raised([&] { db->Execute(QStringLiteral("UPDATE nothere SET x = 1")); }).Number(),
              dao::errObjectNotFound);
    db->Close();
}

// ---- Connections

TEST_F(OdbcDriverTest, TheConnectionIsReleasedByClose) {
    auto db = Open();
    EXPECT_EQ(QSqlDatabase::connectionNames().size(), 1);
    auto snap = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenSnapshot);
    auto dyn = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenDynaset);
    dyn->AddNew();
    dyn->GetFields().Item(QStringLiteral("code")).SetValue(Value::Text(std::string("N1")));
    dyn->GetFields().Item(QStringLiteral("name")).SetValue(Value::Text(std::string("n")));
    dyn->Update();
    // Closing the database closes its recordsets.
    db->Close();
    EXPECT_TRUE(QSqlDatabase::connectionNames().isEmpty());
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM product WHERE code = 'N1'"), "1");
    EXPECT_EQ(Raised([&] { snap->MoveNext(); }).Number(), dao::errObjectInvalid);
    EXPECT_EQ(Raised([&] { dyn->AddNew(); }).Number(), dao::errObjectInvalid);
    EXPECT_EQ(Raised([&] { db->Execute(QStringLiteral("DELETE FROM product")); }).Number(),
              dao::errObjectInvalid);
    snap->Close();
    dyn->Close();
    db->Close();
}

TEST_F(OdbcDriverTest, TheConnectionIsReleasedWhenTheHandlesAreDroppedWithoutClose) {
    {
        dao::DatabaseHandle db(Open());
        dao::RecordsetHandle rs(
            db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenDynaset));
        rs->AddNew();
        rs->GetFields().Item(QStringLiteral("code")).SetValue(Value::Text(std::string("D1")));
        rs->GetFields().Item(QStringLiteral("name")).SetValue(Value::Text(std::string("d")));
        rs->Update();
        // The database handle goes first; its recordset keeps the connection until it goes.
        db.Reset();
        EXPECT_EQ(QSqlDatabase::connectionNames().size(), 1);
        EXPECT_EQ(rs->EditMode(), dao::dbEditNone);
    }
    EXPECT_TRUE(QSqlDatabase::connectionNames().isEmpty());
    // What was saved is committed.
    EXPECT_EQ(QueryValue(file, "SELECT name FROM product WHERE code = 'D1'"), "d");

    {
        auto db = Open();
        auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenSnapshot);
        rs->MoveLast();
    }
    EXPECT_TRUE(QSqlDatabase::connectionNames().isEmpty());
}

TEST_F(OdbcDriverTest, TheConnectionIsReleasedAfterAFailedOpen) {
    // The SQLite ODBC driver connects without reading: a damaged file fails after the connection
    // is made, and the connection goes again.
    const QString damaged = tmp.File(QStringLiteral("damaged.db"));
    ExecSql(damaged,
            "CREATE TABLE t(x TEXT);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 500) "
            "INSERT INTO t SELECT hex(randomblob(100)) FROM n;");
    QFile f(damaged);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.seek(100);
    f.write(QByteArray(4000, '\xa5'));
    f.close();
    const dao::Error e = Raised([&] { Engine().OpenDatabase(damaged, 0); });
    EXPECT_EQ(e.Number(), dao::errUnrecognisedFormat) << e.what();
    EXPECT_TRUE(e.Description().contains(QDir::toNativeSeparators(damaged))) << e.what();
    EXPECT_TRUE(QSqlDatabase::connectionNames().isEmpty());

    // A folder where a file should be, past the engine's own checks.
    const QString folder = tmp.File(QStringLiteral("folder.db"));
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_THROW(dao::detail::OpenOdbcDatabase(folder, dao::detail::OdbcTarget::Sqlite,
                                               dao::detail::OpenOptions(ThroughOdbc())),
                 dao::Error);
    EXPECT_TRUE(QSqlDatabase::connectionNames().isEmpty());

    // A file that is not there: nothing is created.
    const QString missing = tmp.File(QStringLiteral("missing.db"));
    EXPECT_EQ(Raised([&] {
                  dao::detail::OpenOdbcDatabase(missing, dao::detail::OdbcTarget::Sqlite,
                                                dao::detail::OpenOptions(ThroughOdbc()));
              }).Number(),
              dao::errCannotOpenFile);
    EXPECT_FALSE(QFile::exists(missing));

    // And a recordset that fails to open leaves the database usable.
    auto db = Open();
    EXPECT_THROW(db->OpenRecordset(QStringLiteral("SELECT * FROM nothere"), dao::dbOpenDynaset),
                 dao::Error);
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenDynaset);
    rs->Close();
    db->Close();
}

TEST_F(OdbcDriverTest, AReadOnlyFileIsRefusedAtOpen) {
    if (QFileInfo(file).isWritable()) {
        QFile::setPermissions(file, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    if (QFileInfo(file).isWritable()) {
        QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
        GTEST_SKIP() << "permissions do not make a file read-only for this user";
    }
    const dao::Error e = Raised([&] { Open(); });
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(e.Number(), dao::errCannotOpenFile);
    EXPECT_TRUE(e.Description().contains(QString::fromUtf8("읽기 전용"))) << e.what();
}

TEST_F(OdbcDriverTest, PathsWithKoreanAndSeparatorsOpen) {
    QDir(tmp.Path()).mkpath(QStringLiteral("자료; {폴더}"));
    const QString odd = tmp.File(QStringLiteral("자료; {폴더}/dbbasic.mdb"));
    ExecSql(odd, "CREATE TABLE t(x TEXT); INSERT INTO t VALUES ('값');");
    auto db = Engine().OpenDatabase(odd, 0);
    EXPECT_EQ(db->Name().toStdString(), odd.toStdString());
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM t"), dao::dbOpenSnapshot);
    EXPECT_EQ(rs->GetFields().Item(int16_t{0}).GetValue(), Value::Text(QStringLiteral("값")));
    db->Close();
}

// ---- Locks

TEST_F(OdbcDriverTest, AnExclusivelyLockedFileGives3261OnOpenRecordsetAnd3260OnWrites) {
    auto db = Open();
    {
        OtherConnection other(file);
        other.Exec("BEGIN EXCLUSIVE;");
        const dao::Error open = Raised([&] {
            db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenSnapshot);
        });
        EXPECT_EQ(open.Number(), dao::errTableLocked);
        EXPECT_TRUE(open.Description().contains(QLatin1String("'product'")))
            << open.Description().toStdString();
        EXPECT_EQ(Raised([&] { db->Execute(QStringLiteral("DELETE FROM product")); }).Number(),
                  dao::errRecordLocked);
        other.Exec("ROLLBACK;");
    }
    // Once the lock is gone, everything works again.
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM product"), dao::dbOpenDynaset);
    {
        OtherConnection other(file);
        other.Exec("BEGIN EXCLUSIVE;");
        rs->AddNew();
        rs->GetFields().Item(QStringLiteral("code")).SetValue(Value::Text(std::string("L1")));
        rs->GetFields().Item(QStringLiteral("name")).SetValue(Value::Text(std::string("l")));
        EXPECT_EQ(Raised([&] { rs->Update(); }).Number(), dao::errRecordLocked);
        EXPECT_EQ(rs->EditMode(), dao::dbEditAdd);
        other.Exec("ROLLBACK;");
    }
    rs->Update();  // the pending row is saved once the lock is gone
    db->Close();
    EXPECT_EQ(QueryValue(file, "SELECT name FROM product WHERE code = 'L1'"), "l");
}

TEST(OdbcParsingTest, TableOfSelectAll) {
    const auto table = [](const char* sql) {
        return dao::detail::sql::TableOfSelectAll(QString::fromUtf8(sql)).toStdString();
    };
    EXPECT_EQ(table("SELECT * FROM product"), "product");
    EXPECT_EQ(table("  select  *  from  [Trader] ; "), "Trader");
    EXPECT_EQ(table("SELECT * FROM \"a b\""), "a b");
    EXPECT_EQ(table("SELECT * FROM `x`"), "x");
    EXPECT_EQ(table("SELECT * FROM 거래처"), "거래처");
    EXPECT_EQ(table("SELECT a FROM product"), "");
    EXPECT_EQ(table("SELECT * FROM a, b"), "");
    EXPECT_EQ(table("SELECT * FROM a WHERE x = 1"), "");
}

TEST(OdbcParsingTest, WithOrIgnore) {
    const auto rewritten = [](const char* sql) {
        return dao::detail::sql::WithOrIgnore(QString::fromUtf8(sql)).toStdString();
    };
    EXPECT_EQ(rewritten("Insert Into pclass (a) values (1)"),
              "Insert OR IGNORE Into pclass (a) values (1)");
    EXPECT_EQ(rewritten("  update product set a = 1"), "  update OR IGNORE product set a = 1");
    EXPECT_EQ(rewritten("-- note\nUPDATE orders SET a = 1"),
              "-- note\nUPDATE OR IGNORE orders SET a = 1");
    EXPECT_EQ(rewritten("UPDATE OR REPLACE t SET a = 1"), "UPDATE OR REPLACE t SET a = 1");
    EXPECT_EQ(rewritten("INSERT OR REPLACE INTO t VALUES (1)"),
              "INSERT OR REPLACE INTO t VALUES (1)");
    EXPECT_EQ(rewritten("delete from product"), "delete from product");
}

}  // namespace
