#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>

#include "conversion/OpenClose.h"
#include "data/Drivers.h"
#include "support/ScriptedPlatform.h"
#include "support/SqliteFixture.h"

namespace {

using Kind = ScriptedPlatform::Kind;
const QString kCr(QChar(13));

class OpenCloseTest : public ::testing::Test {
protected:
    void SetUp() override {
        file = tmp.File(QStringLiteral("dbbasic.mdb"));
        ExecSql(file,
                "CREATE TABLE product(code TEXT PRIMARY KEY, name TEXT);"
                "INSERT INTO product VALUES ('A1', '볼펜');");
    }

    TempFolder tmp;
    QString file;
    ScriptedPlatform platform;
};

TEST_F(OpenCloseTest, MyOpenDBOpensAGoodFileSilently) {
    dao::DatabaseHandle db;
    EXPECT_TRUE(MyOpenDB(platform, db, file, 0));
    EXPECT_FALSE(db.IsEmpty());
    EXPECT_TRUE(platform.calls.empty());
    CloseObject(db);
    EXPECT_TRUE(db.IsEmpty());
}

TEST_F(OpenCloseTest, MyOpenDBReportsAMissingFileInOneBoxWithoutBeep) {
    dao::DatabaseHandle db;
    const QString missing = tmp.File(QStringLiteral("nowhere/dbbasic.mdb"));
    EXPECT_FALSE(MyOpenDB(platform, db, missing, 0));
    EXPECT_TRUE(db.IsEmpty());
    ASSERT_EQ(platform.calls.size(), 1u);
    const auto& box = platform.calls[0];
    EXPECT_EQ(box.kind, Kind::MsgBox);
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("3024 "))) << box.text.toStdString();
    // Named the way the user's system writes paths.
    EXPECT_TRUE(box.text.contains(QDir::toNativeSeparators(missing))) << box.text.toStdString();
    EXPECT_EQ(box.flags, vbOKOnly);
    EXPECT_FALSE(box.title.has_value());
    // The engine must not have created the file it was asked to open.
    EXPECT_FALSE(QFile::exists(missing));
}

TEST_F(OpenCloseTest, MyOpenDBReturnsTheFailureItShowed) {
    dao::DatabaseHandle db;
    const QString missing = tmp.File(QStringLiteral("nowhere/dbbasic.mdb"));
    const OpenResult opened = MyOpenDB(platform, db, missing, 0);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.failure.number, dao::errFileNotFound);
    ASSERT_EQ(platform.calls.size(), 1u);
    EXPECT_EQ(platform.calls[0].text, QStringLiteral("3024 ") + opened.failure.description);

    platform.calls.clear();
    const OpenResult good = MyOpenDB(platform, db, file, 0);
    EXPECT_TRUE(good);
    EXPECT_EQ(good.failure.number, 0);
    EXPECT_TRUE(good.failure.description.isEmpty());
    CloseObject(db);
}

TEST_F(OpenCloseTest, MyOpenDBCreatesTheEngineOnceAndKeepsIt) {
    dao::DatabaseHandle a;
    dao::DatabaseHandle b;
    ASSERT_TRUE(MyOpenDB(platform, a, file, 0));
    const dao::DBEngine* engine = CurrentEngine();
    ASSERT_NE(engine, nullptr);
    const int open = engine->OpenDatabaseCount();
    ASSERT_TRUE(MyOpenDB(platform, b, file, 0));
    EXPECT_EQ(CurrentEngine(), engine);
    // The second database was opened by the same engine, not by one made in its place.
    EXPECT_EQ(engine->OpenDatabaseCount(), open + 1);
    CloseObject(b);
    CloseObject(a);
}

TEST_F(OpenCloseTest, RecordsetOnAnEmptyDatabaseHandleBeepsAndNamesTheQuery) {
    dao::DatabaseHandle none;
    dao::RecordsetHandle rs;
    EXPECT_FALSE(OpenReadRecordset(platform, none, rs, QStringLiteral("SELECT * FROM product")));
    EXPECT_TRUE(rs.IsEmpty());
    ASSERT_EQ(platform.calls.size(), 2u);
    EXPECT_EQ(platform.calls[0].kind, Kind::Beep);
    EXPECT_EQ(platform.calls[1].text, QStringLiteral("Data Base MDB가 선언되지 않았습니다.") + kCr +
                                          QStringLiteral("SELECT * FROM product"));
    EXPECT_EQ(platform.calls[1].title, QStringLiteral("MDB 오류"));
    EXPECT_EQ(platform.calls[1].flags, vbOKOnly);
}

TEST_F(OpenCloseTest, RecordsetOnAMissingTableShowsTheQueryTitle) {
    dao::DatabaseHandle db;
    ASSERT_TRUE(MyOpenDB(platform, db, file, 0));
    for (bool write : {false, true}) {
        platform.calls.clear();
        dao::RecordsetHandle rs;
        const QString sql = QStringLiteral("SELECT * FROM trader");
        const OpenResult opened = write ? OpenWriteRecordset(platform, db, rs, sql)
                                        : OpenReadRecordset(platform, db, rs, sql);
        EXPECT_FALSE(opened);
        // The caller learns what was shown.
        EXPECT_EQ(opened.failure.number, dao::errObjectNotFound);
        EXPECT_TRUE(rs.IsEmpty());
        ASSERT_EQ(platform.calls.size(), 2u);
        EXPECT_EQ(platform.calls[0].kind, Kind::Beep);
        EXPECT_EQ(platform.calls[1].text,
                  QStringLiteral("Jet Data Base Engine의 식을 확인하세요.") + kCr + sql);
        EXPECT_EQ(platform.calls[1].title, QStringLiteral("Query"));
    }
}

TEST_F(OpenCloseTest, RecordsetOnALockedTableShowsTheEnginesDescription) {
    dao::DatabaseHandle db;
    ASSERT_TRUE(MyOpenDB(platform, db, file, 0));
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file.toUtf8().constData(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

    dao::RecordsetHandle rs;
    const QString sql = QStringLiteral("SELECT * FROM product");
    EXPECT_FALSE(OpenReadRecordset(platform, db, rs, sql));
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);

    ASSERT_EQ(platform.calls.size(), 2u);
    EXPECT_EQ(platform.calls[1].title, QStringLiteral("MDB 오류"));
    EXPECT_TRUE(platform.calls[1].text.endsWith(kCr + sql));
    EXPECT_FALSE(platform.calls[1].text.startsWith(kCr));
}

TEST_F(OpenCloseTest, AnyOtherRecordsetFailureShowsTheErrorTitle) {
    dao::DatabaseHandle db;
    ASSERT_TRUE(MyOpenDB(platform, db, file, 0));
    dao::RecordsetHandle rs;
    const QString sql = QStringLiteral("SELECT * FROM product WHERE");
    EXPECT_FALSE(OpenReadRecordset(platform, db, rs, sql));
    ASSERT_EQ(platform.calls.size(), 2u);
    EXPECT_EQ(platform.calls[0].kind, Kind::Beep);
    EXPECT_EQ(platform.calls[1].title, QStringLiteral("ERROR"));
    EXPECT_TRUE(platform.calls[1].text.endsWith(kCr + sql));
}

TEST_F(OpenCloseTest, SuccessfulRecordsetOpensAreSilentAndOfTheRequestedType) {
    dao::DatabaseHandle db;
    ASSERT_TRUE(MyOpenDB(platform, db, file, 0));
    dao::RecordsetHandle snapshot;
    dao::RecordsetHandle dynaset;
    const QString sql = QStringLiteral("SELECT * FROM product");
    ASSERT_TRUE(OpenReadRecordset(platform, db, snapshot, sql));
    ASSERT_TRUE(OpenWriteRecordset(platform, db, dynaset, sql));
    EXPECT_TRUE(platform.calls.empty());

    EXPECT_THROW(snapshot->AddNew(), dao::Error);
    dynaset->AddNew();
    dynaset->GetFields().Item(QStringLiteral("CODE")).SetValue(dao::Value::Text(std::string("B2")));
    dynaset->Update();
    CloseObject(snapshot);
    CloseObject(dynaset);
    CloseObject(db);
    EXPECT_EQ(QueryValue(file, "SELECT count(*) FROM product"), "2");
}

TEST_F(OpenCloseTest, CloseObjectEmptiesTheHandleAndIgnoresAnEmptyOne) {
    dao::DatabaseHandle db;
    CloseObject(db);
    EXPECT_TRUE(db.IsEmpty());
    ASSERT_TRUE(MyOpenDB(platform, db, file, 0));
    const int live = ProcessEngine().OpenDatabaseCount();
    CloseObject(db);
    EXPECT_TRUE(db.IsEmpty());
    EXPECT_EQ(ProcessEngine().OpenDatabaseCount(), live - 1);
    CloseObject(db);
    EXPECT_TRUE(db.IsEmpty());
    EXPECT_THROW(db->Execute(QStringLiteral("DELETE FROM product")), dao::Error);
}

TEST_F(OpenCloseTest, ShowMessageBeepsFirstAndFallsBackToTheApplicationTitle) {
    ShowMessage(platform, QStringLiteral("본문"), QString());
    ShowMessage(platform, QStringLiteral("본문2"), QStringLiteral("제목"));
    ASSERT_EQ(platform.calls.size(), 4u);
    EXPECT_EQ(platform.calls[0].kind, Kind::Beep);
    EXPECT_EQ(platform.calls[1].title, platform.title);
    EXPECT_EQ(platform.calls[1].text, QStringLiteral("본문"));
    EXPECT_EQ(platform.calls[2].kind, Kind::Beep);
    EXPECT_EQ(platform.calls[3].title, QStringLiteral("제목"));
    EXPECT_EQ(platform.calls[3].flags, vbOKOnly);
}

}  // namespace
