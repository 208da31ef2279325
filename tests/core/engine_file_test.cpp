// The files the engine refuses or loses, over every driver of EngineDrivers.h: damaged files,
// files that are not regular files, paths too long, files moved or deleted while open; and names
// matched the way the database matches them.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "core/EngineDrivers.h"
#include "data/Drivers.h"
#include "data/Engine.h"
#include "support/Raised.h"
#include "support/SqliteFixture.h"

using dao::Value;
using enginetest::Driver;

namespace {

class EngineFiles : public ::testing::TestWithParam<Driver> {
protected:
    QString Make(const std::string& sql, const QString& name = QStringLiteral("t.db")) {
        const QString path = folder_.File(name);
        ExecSql(path, sql);
        return path;
    }
    std::shared_ptr<dao::Database> Open(const QString& path) { return engine_.OpenDatabase(path); }

    TempFolder folder_;
    dao::DBEngine engine_{enginetest::OptionsFor(GetParam())};
};

// Whether the error's description names the file, with either separator (drivers differ on
// Windows).
bool NamesFile(const dao::Error& e, const QString& path) {
    return e.Description().contains(path) ||
           e.Description().contains(QDir::toNativeSeparators(path));
}

// Windows refuses to move or delete a file that SQLite's C API holds open, so there the fault
// cannot happen to that driver (the ODBC driver under Wine is the host's, which allows it).
#ifdef Q_OS_WIN
#define SKIP_WHERE_AN_OPEN_FILE_CANNOT_MOVE()                                                 \
    if (GetParam() == Driver::SqliteCApi) {                                                   \
        GTEST_SKIP() << "Windows does not let a file that SQLite holds open move or go away"; \
    }
#else
#define SKIP_WHERE_AN_OPEN_FILE_CANNOT_MOVE()
#endif

INSTANTIATE_TEST_SUITE_P(Drivers, EngineFiles, ::testing::ValuesIn(enginetest::DriversToRun()),
                         [](const auto& info) { return enginetest::DriverName(info.param); });

// A file whose schema reads but whose index pages are zeroed: only a check of the whole file
// finds it before a statement does.
QString MakeDamaged(const QString& path) {
    ExecSql(path,
            "PRAGMA page_size = 4096; CREATE TABLE t (a INTEGER PRIMARY KEY, b TEXT);"
            "CREATE INDEX tb ON t (b);"
            "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)"
            " INSERT INTO t SELECT i, printf('%08d', i) FROM n;");
    const int root =
        std::stoi(QueryValue(path, "SELECT rootpage FROM sqlite_master WHERE name = 'tb'"));
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadWrite));
    constexpr qint64 kPageSize = 4096;
    file.seek((root - 1) * kPageSize);
    file.write(QByteArray(kPageSize, '\0'));
    return path;
}

TEST_P(EngineFiles, ADamagedFileIsRefusedAtOpen) {
    const QString path = MakeDamaged(folder_.File(QStringLiteral("damaged.db")));
    // The schema itself still reads.
    EXPECT_EQ(QueryValue(path, "SELECT count(*) FROM sqlite_master"), "2");
    const dao::Error e = Raised([&] { Open(path); });
    EXPECT_EQ(e.Number(), dao::errUnrecognisedFormat);
    EXPECT_TRUE(e.Description().contains(QString::fromUtf8("손상"))) << e.what();
    EXPECT_TRUE(NamesFile(e, path)) << e.what();
    EXPECT_EQ(engine_.OpenDatabaseCount(), 0);
}

#ifdef Q_OS_UNIX
TEST_P(EngineFiles, APipeIsRefusedBeforeItIsOpened) {
    const QString path = folder_.File(QStringLiteral("dbbasic.mdb"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const dao::Error e = Raised([&] { Open(path); });  // would wait for a writer forever
    EXPECT_EQ(e.Number(), dao::errUnrecognisedFormat);
    EXPECT_TRUE(NamesFile(e, path)) << e.what();
    // A link to a regular file is a file.
    const QString real = Make("CREATE TABLE t (a);", QStringLiteral("real.db"));
    const QString link = folder_.File(QStringLiteral("link.db"));
    ASSERT_TRUE(QFile::link(real, link));
    Open(link)->Close();
}

TEST_P(EngineFiles, APathTooLongForSqliteSaysHowLongItMayBe) {
    // Folders of 100 letters until the file's path passes SQLite's limit.
    QString folder = folder_.Path();
    while (folder.toUtf8().size() < 560) {
        folder += QLatin1Char('/') + QString(100, QLatin1Char('d'));
    }
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString made = Make("CREATE TABLE t (a);", QStringLiteral("short.db"));
    const QString path = folder + QStringLiteral("/dbbasic.mdb");
    ASSERT_TRUE(QFile::rename(made, path));
    const dao::Error e = Raised([&] { Open(path); });
    EXPECT_EQ(e.Number(), dao::errPathTooLong);
    EXPECT_TRUE(e.Description().contains(QStringLiteral("504"))) << e.what();
    EXPECT_TRUE(e.Description().contains(QString::number(path.toUtf8().size()))) << e.what();
}

TEST(EngineSqlitePath, APathAtTheLimitOpensAndIsWritten) {
    TempFolder temp;
    QString folder = temp.Path();
    while (folder.toUtf8().size() < 380) {
        folder += QLatin1Char('/') + QString(100, QLatin1Char('d'));
    }
    ASSERT_TRUE(QDir().mkpath(folder));
    const qsizetype nameLength = 504 - folder.toUtf8().size() - 1;
    const QString path = folder + QLatin1Char('/') + QString(nameLength, QLatin1Char('f'));
    ASSERT_EQ(path.toUtf8().size(), 504);
    ExecSql(path, "CREATE TABLE t (a);");
    auto db = dao::DBEngine().OpenDatabase(path);
    db->Execute("INSERT INTO t VALUES (1)");
    db->Close();
    EXPECT_EQ(QueryValue(path, "SELECT count(*) FROM t"), "1");
}
#endif

TEST_P(EngineFiles, AFileMovedWhileOpenIsReportedAtItsCommit) {
    SKIP_WHERE_AN_OPEN_FILE_CANNOT_MOVE()
    const QString path = Make("CREATE TABLE w (id INTEGER PRIMARY KEY);");
    auto db = Open(path);
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM w"), dao::dbOpenDynaset);
    rs->AddNew();
    rs->SetFieldValue(0, 1);
    rs->Update();
    ASSERT_TRUE(QFile::rename(path, path + QStringLiteral(".moved")));
    const dao::Error e = Raised([&] { rs->Close(); });
    EXPECT_EQ(e.Number(), dao::errFileMoved) << e.what();
    EXPECT_TRUE(NamesFile(e, path)) << e.what();
    EXPECT_EQ(e.RowsLost(), 1);
    EXPECT_EQ(Raised([&] { db->Close(); }).Number(), dao::errFileMoved);
}

TEST_P(EngineFiles, AFileDeletedWhileOpenFailsTheNextStatement) {
    SKIP_WHERE_AN_OPEN_FILE_CANNOT_MOVE()
    const QString path = Make("CREATE TABLE w (id INTEGER PRIMARY KEY);");
    auto db = Open(path);
    ASSERT_TRUE(QFile::remove(path));
    const dao::Error e = Raised([&] { db->Execute(QStringLiteral("INSERT INTO w VALUES (1)")); });
    EXPECT_EQ(e.Number(), dao::errFileMoved) << e.what();
    EXPECT_TRUE(NamesFile(e, path)) << e.what();
}

TEST_P(EngineFiles, AFileDeletedWhileOpenFailsTheNextSave) {
    SKIP_WHERE_AN_OPEN_FILE_CANNOT_MOVE()
    const QString path = Make("CREATE TABLE w (id INTEGER PRIMARY KEY);");
    auto db = Open(path);
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM w"), dao::dbOpenDynaset);
    ASSERT_TRUE(QFile::remove(path));
    rs->AddNew();
    rs->SetFieldValue(0, 1);
    const dao::Error e = Raised([&] { rs->Update(); });
    EXPECT_EQ(e.Number(), dao::errFileMoved) << e.what();
    EXPECT_TRUE(NamesFile(e, path)) << e.what();
}

TEST_P(EngineFiles, AFileReplacedWhileOpenIsReportedAtClose) {
    SKIP_WHERE_AN_OPEN_FILE_CANNOT_MOVE()
    const QString path = Make("CREATE TABLE w (id INTEGER PRIMARY KEY);");
    const QString other = Make("CREATE TABLE w (id INTEGER PRIMARY KEY);", QStringLiteral("o.db"));
    auto db = Open(path);
    ASSERT_TRUE(QFile::remove(path));
    ASSERT_TRUE(QFile::rename(other, path));
    EXPECT_EQ(Raised([&] { db->Close(); }).Number(), dao::errFileMoved);
}

TEST_P(EngineFiles, ColumnNamesIgnoreTheCaseOfAsciiLettersOnly) {
    const QString path = Make(
        "CREATE TABLE f (\"Ä\" TEXT, \"ä\" TEXT, Code TEXT);"
        "INSERT INTO f VALUES ('upper', 'lower', 'c');");
    auto db = Open(path);
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM f"), dao::dbOpenSnapshot);
    dao::Fields fields = rs->GetFields();
    EXPECT_EQ(fields.Item(QString::fromUtf8("Ä")).GetValue(), Value::Text(QStringLiteral("upper")));
    EXPECT_EQ(fields.Item(QString::fromUtf8("ä")).GetValue(), Value::Text(QStringLiteral("lower")));
    EXPECT_EQ(fields.Item(QStringLiteral("CODE")).Index(), 2);
    rs->Close();
    db->Close();
}

}  // namespace

namespace {

// ---- Backing up an open database

TEST_P(EngineFiles, BackupToCopiesTheSavedRowsAndLeavesTheDatabaseInUse) {
    const QString path =
        Make("CREATE TABLE t (id INTEGER PRIMARY KEY, name TEXT); INSERT INTO t VALUES (1, '가');");
    const QString copy = folder_.File(QStringLiteral("copy.mdb"));
    {
        QFile stale(copy);  // whatever was there is replaced
        ASSERT_TRUE(stale.open(QIODevice::WriteOnly));
        stale.write("not a database");
    }
    auto db = Open(path);
    auto rs = db->OpenRecordset(QStringLiteral("SELECT * FROM t"), dao::dbOpenDynaset);
    rs->AddNew();
    rs->GetFields().Item(QStringLiteral("id")).SetValue(Value(2));
    rs->GetFields().Item(QStringLiteral("name")).SetValue(Value::Text(QStringLiteral("나")));
    rs->Update();  // saved, not yet committed: the backup commits it first
    db->BackupTo(copy);
    EXPECT_FALSE(QFile::exists(copy + QStringLiteral(".partial")));
    EXPECT_EQ(QueryValue(copy, "SELECT group_concat(id || name, ',') FROM t"), "1가,2나");
    EXPECT_EQ(QueryValue(copy, "PRAGMA quick_check"), "ok");

    // The original goes on: a row saved after the backup is in it, and not in the copy.
    rs->AddNew();
    rs->GetFields().Item(QStringLiteral("id")).SetValue(Value(3));
    rs->Update();
    rs->Close();
    db->Close();
    EXPECT_EQ(QueryValue(path, "SELECT count(*) FROM t"), "3");
    EXPECT_EQ(QueryValue(copy, "SELECT count(*) FROM t"), "2");
}

TEST_P(EngineFiles, BackupToAFolderThatIsNotThereFailsAndLeavesNothing) {
    const QString path = Make("CREATE TABLE t (id INTEGER);");
    const QString copy = folder_.File(QStringLiteral("없는폴더/copy.mdb"));
    auto db = Open(path);
    const dao::Error e = Raised([&] { db->BackupTo(copy); });
    EXPECT_EQ(e.Number(), dao::errCannotOpenFile) << e.what();
    EXPECT_TRUE(NamesFile(e, copy)) << e.what();
    EXPECT_FALSE(QFileInfo::exists(copy));
    // The database is still open and usable.
    db->Execute(QStringLiteral("INSERT INTO t VALUES (1)"));
    EXPECT_EQ(db->RecordsAffected(), 1);
    db->Close();
}

}  // namespace
