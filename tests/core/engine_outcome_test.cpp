// What the engine reports about the rows a statement or a save left out, over every driver of
// EngineDrivers.h on real SQLite files: the counts of Execute, rows the destination ignores, and
// the try of a pending row.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>

#include "core/EngineDrivers.h"
#include "data/Engine.h"
#include "support/Raised.h"
#include "support/SqliteFixture.h"

using dao::Value;
using enginetest::Driver;

namespace {

class EngineOutcome : public ::testing::TestWithParam<Driver> {
protected:
    QString Make(const std::string& sql) {
        const QString path = folder_.File(QStringLiteral("t.db"));
        ExecSql(path, sql);
        return path;
    }
    std::shared_ptr<dao::Database> Open(const QString& path) const {
        dao::EngineOptions options = enginetest::OptionsFor(GetParam());
        options.busyTimeout = std::chrono::milliseconds(200);
        dao::DBEngine engine(std::move(options));
        return engine.OpenDatabase(path);
    }
    static std::shared_ptr<dao::Recordset> Dynaset(dao::Database& db, const char* table) {
        return db.OpenRecordset(QStringLiteral("SELECT * FROM %1").arg(table), dao::dbOpenDynaset);
    }
    static void Pend(dao::Recordset& rs, std::initializer_list<std::pair<const char*, Value>> row) {
        rs.AddNew();
        for (const auto& [name, value] : row) {
            rs.GetFields().Item(QString::fromUtf8(name)).SetValue(value);
        }
    }
    // Expects the last Execute to have changed `affected` rows and left out `leftOut`, the first
    // of them with error number `firstNumber`.
    static void ExpectOutcome(const dao::Database& db, int64_t affected, int64_t leftOut,
                              int32_t firstNumber = 0) {
        const dao::ExecuteOutcome& outcome = db.LastExecute();
        EXPECT_EQ(outcome.affected, affected);
        EXPECT_EQ(db.RecordsAffected(), affected);
        EXPECT_EQ(outcome.leftOut, leftOut);
        EXPECT_EQ(outcome.firstLeftOut.has_value(), leftOut > 0);
        if (outcome.firstLeftOut) {
            EXPECT_EQ(outcome.firstLeftOut->Number(), firstNumber) << outcome.firstLeftOut->what();
        }
    }

    TempFolder folder_;
};

INSTANTIATE_TEST_SUITE_P(Drivers, EngineOutcome, ::testing::ValuesIn(enginetest::DriversToRun()),
                         [](const auto& info) { return enginetest::DriverName(info.param); });

const char* const kRefusing = R"(
CREATE TABLE k (id INTEGER PRIMARY KEY, code TEXT UNIQUE, name TEXT NOT NULL,
                qty INTEGER CHECK (qty >= 0));
INSERT INTO k VALUES (1, 'a', 'x', 1), (2, 'b', 'y', 2), (3, 'c', 'z', 3);
)";

TEST_P(EngineOutcome, ExecuteCountsTheRowsItChangedAndThoseItLeftOut) {
    const QString path = Make(kRefusing);
    auto db = Open(path);
    db->Execute("UPDATE k SET name = name || '!'");
    ExpectOutcome(*db, 3, 0);
    db->Execute("UPDATE k SET qty = qty - 2");  // row 1 would turn negative
    ExpectOutcome(*db, 2, 1, dao::errValidationRule);
    db->Execute("INSERT INTO k VALUES (4, 'a', 'duplicate', 1)");
    ExpectOutcome(*db, 0, 1, dao::errDuplicateKey);
    db->Execute("INSERT INTO k VALUES (5, 'e', 'e', 1), (6, 'f', NULL, 1), (7, 'g', 'g', 1)");
    ExpectOutcome(*db, 2, 1, dao::errRequired);
    db->Execute("INSERT INTO k SELECT id + 10, code, name, qty FROM k WHERE id >= 5");
    ExpectOutcome(*db, 0, 2, dao::errDuplicateKey);
    db->Execute("DELETE FROM k WHERE id >= 5");
    ExpectOutcome(*db, 2, 0);
    db->Execute("UPDATE k SET qty = 0 WHERE id = 99");
    ExpectOutcome(*db, 0, 0);
    EXPECT_EQ(QueryValue(path, "SELECT group_concat(id || code || qty) FROM k"), "1a1,2b0,3c1");
}

TEST_P(EngineOutcome, ExecuteCountsRowsThatATriggerIgnores) {
    const QString path = Make(std::string(kRefusing) + R"(
CREATE TRIGGER keep_b BEFORE UPDATE ON k WHEN OLD.code = 'b' BEGIN SELECT RAISE(IGNORE); END;
CREATE TRIGGER no_z BEFORE INSERT ON k WHEN NEW.code = 'z' BEGIN SELECT RAISE(IGNORE); END;
CREATE TRIGGER keep_c BEFORE DELETE ON k WHEN OLD.code = 'c' BEGIN SELECT RAISE(IGNORE); END;
)");
    auto db = Open(path);
    db->Execute("UPDATE k SET name = 'n'");
    ExpectOutcome(*db, 2, 1, dao::errRowIgnored);
    db->Execute("Insert Into k (id, code, name, qty) values (9, 'z', 'ignored', 1)");
    ExpectOutcome(*db, 0, 1, dao::errRowIgnored);
    db->Execute("DELETE FROM k");
    ExpectOutcome(*db, 2, 1, dao::errRowIgnored);
    EXPECT_EQ(QueryValue(path, "SELECT group_concat(code) FROM k"), "c");
    EXPECT_TRUE(db->LastExecute().firstLeftOut->Description().contains("'k'"))
        << db->LastExecute().firstLeftOut->what();
}

TEST_P(EngineOutcome, RowsOfATableWithoutRowidAreReplayedByTheirKey) {
    const QString path = Make(
        "CREATE TABLE w (code TEXT PRIMARY KEY, u TEXT UNIQUE, n INTEGER) WITHOUT ROWID;"
        "INSERT INTO w VALUES ('a', 'x', 1), ('b', 'y', 2), ('c', 'z', 3);");
    auto db = Open(path);
    db->Execute("UPDATE w SET u = 'q'");
    ExpectOutcome(*db, 1, 2, dao::errDuplicateKey);
    EXPECT_EQ(QueryValue(path, "SELECT group_concat(u) FROM (SELECT u FROM w ORDER BY code)"),
              "q,y,z");
}

TEST_P(EngineOutcome, AFormThatIsNotReplayedLeavesOutItsRefusedRowsAllTheSame) {
    const QString path = Make(kRefusing);
    auto db = Open(path);
    // UPDATE ... FROM is not taken apart: its refused rows are left out by SQLite's OR IGNORE.
    db->Execute("UPDATE k SET code = 'a' || s.x FROM (SELECT '' AS x) AS s WHERE k.id >= 2");
    ExpectOutcome(*db, 0, 1, dao::errDuplicateKey);
    db->Execute("UPDATE k SET code = s.x || code FROM (SELECT 'n' AS x) AS s WHERE k.id >= 2");
    ExpectOutcome(*db, 2, 0);
    EXPECT_EQ(QueryValue(path, "SELECT group_concat(code) FROM k"), "a,nb,nc");
}

TEST_P(EngineOutcome, AStatementThatCannotRunRaisesAndReportsNothing) {
    auto db = Open(Make(kRefusing));
    db->Execute("UPDATE k SET name = 'n'");
    EXPECT_EQ(Raised([&] { db->Execute("UPDATE nosuch SET a = 1"); }).Number(),
              dao::errObjectNotFound);
    ExpectOutcome(*db, 0, 0);
}

TEST_P(EngineOutcome, ASaveThatTheDestinationIgnoresFails) {
    const QString path = Make(std::string(kRefusing) +
                              "CREATE TRIGGER no_z BEFORE INSERT ON k WHEN NEW.code = 'z'"
                              " BEGIN SELECT RAISE(IGNORE); END;");
    auto db = Open(path);
    auto rs = Dynaset(*db, "k");
    Pend(*rs, {{"id", 8},
               {"code", Value::Text(std::string("z"))},
               {"name", Value::Text(std::string("n"))}});
    const dao::Error e = Raised([&] { rs->Update(); });
    EXPECT_EQ(e.Number(), dao::errRowIgnored);
    EXPECT_TRUE(e.Description().contains("'k'")) << e.what();
    EXPECT_EQ(rs->EditMode(), dao::dbEditAdd);  // still pending, as after any refused save
    rs->SetFieldValue(1, Value::Text(std::string("y")));
    rs->Update();
    rs->Close();
    EXPECT_EQ(QueryValue(path, "SELECT group_concat(code) FROM k WHERE id = 8"), "y");
}

TEST_P(EngineOutcome, TryPendingRowStoresNothingAndThrowsWhatUpdateWould) {
    const QString path = Make(kRefusing);
    auto db = Open(path);
    auto rs = Dynaset(*db, "k");
    EXPECT_EQ(Raised([&] { rs->TryPendingRow(); }).Number(), dao::errUpdateWithoutAddNew);
    Pend(*rs, {{"id", 4},
               {"code", Value::Text(std::string("d"))},
               {"name", Value::Text(std::string("n"))}});
    rs->Update();  // saved before the try: stays saved
    Pend(*rs, {{"id", 5},
               {"code", Value::Text(std::string("a"))},
               {"name", Value::Text(std::string("n"))}});
    EXPECT_EQ(Raised([&] { rs->TryPendingRow(); }).Number(), dao::errDuplicateKey);
    EXPECT_EQ(rs->EditMode(), dao::dbEditAdd);
    rs->SetFieldValue(1, Value::Text(std::string("e")));
    rs->TryPendingRow();  // would be stored: nothing thrown, nothing stored
    EXPECT_EQ(rs->EditMode(), dao::dbEditAdd);
    rs->SetFieldValue(3, -1);
    EXPECT_EQ(Raised([&] { rs->TryPendingRow(); }).Number(), dao::errValidationRule);
    rs->CancelUpdate();
    rs->Close();
    EXPECT_EQ(QueryValue(path, "SELECT group_concat(id) FROM k"), "1,2,3,4");
    EXPECT_EQ(Raised([&] { Dynaset(*db, "k")->TryPendingRow(); }).Number(),
              dao::errUpdateWithoutAddNew);
}

TEST_P(EngineOutcome, AFailedCommitReportsTheRowsItTookBack) {
    const QString path = Make(kRefusing);
    auto db = Open(path);
    auto rs = Dynaset(*db, "k");
    for (int id = 4; id <= 6; ++id) {
        Pend(*rs, {{"id", id}, {"code", Value(id)}, {"name", Value::Text(std::string("n"))}});
        rs->Update();
    }
    // Another connection in the middle of a read keeps the commit from getting its lock.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.toUtf8().constData(), &other, SQLITE_OPEN_READONLY, nullptr),
              SQLITE_OK);
    sqlite3_stmt* read = nullptr;
    sqlite3_prepare_v2(other, "SELECT * FROM k", -1, &read, nullptr);
    EXPECT_EQ(sqlite3_step(read), SQLITE_ROW);
    const dao::Error e = Raised([&] { rs->Close(); });
    sqlite3_finalize(read);
    sqlite3_close(other);
    EXPECT_EQ(e.Number(), dao::errRecordLocked) << e.what();
    EXPECT_EQ(e.RowsLost(), 3);
    EXPECT_TRUE(e.Description().contains(QString::fromUtf8("3개"))) << e.what();
    EXPECT_EQ(QueryValue(path, "SELECT count(*) FROM k"), "3");  // what the error said
    db->Close();
}

}  // namespace
