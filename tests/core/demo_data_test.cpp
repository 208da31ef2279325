// The demo databases and settings: they must be real SQLite files that the conversion can run on,
// the same for the same seed, and the settings must be where, and as, QSettings reads them.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "demo/DemoData.h"
#include "support/SqliteFixture.h"

namespace {

struct ColumnInfo {
    std::string name;
    bool notNull = false;
    bool hasDefault = false;
    bool primaryKey = false;
};

std::vector<ColumnInfo> Columns(const QString& path, const std::string& table) {
    std::vector<ColumnInfo> columns;
    // cid, name, type, notnull, dflt_value, pk
    for (const Row& row : QueryRows(path, "PRAGMA table_info(" + table + ")")) {
        columns.push_back({row.at(1).value_or(""), row.at(3).value_or("0") != "0",
                           row.at(4).has_value(), row.at(5).value_or("0") != "0"});
    }
    return columns;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

std::vector<std::string> LowerNames(const std::vector<ColumnInfo>& columns) {
    std::vector<std::string> names;
    for (const ColumnInfo& c : columns) {
        names.push_back(Lower(c.name));
    }
    return names;
}

const ColumnInfo* Find(const std::vector<ColumnInfo>& columns, const std::string& name) {
    for (const ColumnInfo& c : columns) {
        if (Lower(c.name) == Lower(name)) {
            return &c;
        }
    }
    return nullptr;
}

int64_t Count(const QString& path, const std::string& sql) {
    return std::stoll(QueryValue(path, sql));
}

// Runs statements on a file and returns SQLite's result code, for statements that may fail.
int Exec(const QString& path, const std::string& sql) {
    sqlite3* db = nullptr;
    const QByteArray name = QFile::encodeName(path);
    int rc = sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    sqlite3_close(db);
    return rc;
}

bool HasHangul(const std::string& utf8) {
    const QString text = QString::fromStdString(utf8);
    return std::any_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() >= 0xAC00 && c.unicode() <= 0xD7A3; });
}

bool ValidBusinessNumber(const std::string& number) {
    std::string d;
    for (char c : number) {
        if (c != '-') {
            d += c;
        }
    }
    if (d.size() != 10) {
        return false;
    }
    static constexpr int kWeights[] = {1, 3, 7, 1, 3, 7, 1, 3, 5};
    int sum = 0;
    for (int i = 0; i < 9; ++i) {
        sum += (d[static_cast<size_t>(i)] - '0') * kWeights[i];
    }
    sum += (d[8] - '0') * 5 / 10;
    return (10 - sum % 10) % 10 == d[9] - '0';
}

// The statements of the two conversions, as the tool sends them, with the copy in between done
// the way the copy does it: every source column into the destination column of that name.
void CopyTable(const QString& source, const QString& dest, const std::string& table) {
    std::string columns;
    for (const ColumnInfo& c : Columns(source, table)) {
        columns += (columns.empty() ? "" : ", ") + c.name;
    }
    const std::string sql = "ATTACH '" + QFile::encodeName(source).toStdString() +
                            "' AS src; DELETE FROM " + table + "; INSERT INTO main." + table +
                            " (" + columns + ") SELECT " + columns + " FROM src." + table + ";";
    ASSERT_EQ(Exec(dest, sql), SQLITE_OK) << sql;
}

constexpr const char* kClassInsert =
    "Insert Into pclass (Code, ClassName,Used) values ('00001', '대분류명', true)";

void RunConversion(const QString& source, const QString& dest, bool classAlreadyThere) {
    ASSERT_EQ(Exec(source, "UPDATE product SET unit = ' ' where unit = ''"), SQLITE_OK);
    CopyTable(source, dest, "product");
    // The engine leaves out rows it cannot insert; here that shows as the key's refusal.
    EXPECT_EQ(Exec(dest, kClassInsert), classAlreadyThere ? SQLITE_CONSTRAINT : SQLITE_OK);
    for (const char* sql :
         {"update product set classcode = '00001'", "UPDATE product SET ptax = 1",
          "UPDATE product SET reserve1 = ''", "UPDATE product SET reserve2 = ''",
          "UPDATE product SET reserve3 = ''", "UPDATE Product SET BManage = True"}) {
        ASSERT_EQ(Exec(dest, sql), SQLITE_OK) << sql;
    }
    CopyTable(source, dest, "trader");
    for (const char* sql :
         {"UPDATE Trader Set section = 1", "UPDATE Trader Set HPhone = '' where hphone is null",
          "Update Trader Set MultyCostNo = 0", "UPDATE Trader SET SaleDC = 0",
          "UPDATE Trader SET TradeStop = false", "UPDATE Trader SET U_Name2 = U_Name"}) {
        ASSERT_EQ(Exec(dest, sql), SQLITE_OK) << sql;
    }
}

std::vector<Row> Dump(const QString& path, const std::string& table) {
    return QueryRows(path, "SELECT * FROM " + table + " ORDER BY rowid");
}

// Points QSettings' user scope at a folder for one test and back at the test's own private
// folder afterwards.
class UserSettingsPath {
public:
    explicit UserSettingsPath(const QString& path) {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
    }
    ~UserSettingsPath() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           qEnvironmentVariable("XDG_CONFIG_HOME"));
    }
};

}  // namespace

TEST(DemoData, DefaultSizesMakeAUsefulDemo) {
    EXPECT_GE(kDemoSourceSize.products, 1000);
    EXPECT_GE(kDemoSourceSize.traders, 300);
    EXPECT_GT(kDemoDestSize.products, 0);
    EXPECT_GT(kDemoDestSize.traders, 0);
}

TEST(DemoData, SourceIsAnSqliteFileWithItsTablesAndRows) {
    TempFolder dir;
    const QString path = dir.File("Dorvik/dbbasic.mdb");
    WriteSourceDatabase(path, DemoSize{200, 80}, 7);

    EXPECT_EQ(FileBytes(path).left(16), QByteArray("SQLite format 3\0", 16));
    EXPECT_EQ(QueryValue(path, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Count(path, "SELECT count(*) FROM product"), 200);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM trader"), 80);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM company"), 1);
    EXPECT_GT(Count(path, "SELECT count(*) FROM dbinfo"), 0);
    EXPECT_EQ(CountDemoRows(path, "product"), 200);
    EXPECT_EQ(CountDemoRows(path, "trader", "hphone IS NULL"),
              Count(path, "SELECT count(*) FROM trader WHERE hphone IS NULL"));
    EXPECT_FALSE(QFileInfo::exists(path + ".part"));
}

TEST(DemoData, SourceHasEmptyUnitsAndTradersWithoutMobile) {
    TempFolder dir;
    const QString path = dir.File("dbbasic.mdb");
    WriteSourceDatabase(path, DemoSize{200, 80}, 7);

    const int64_t empty = Count(path, "SELECT count(*) FROM product WHERE unit = ''");
    EXPECT_GT(empty, 0);
    EXPECT_LT(empty, 40);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM product WHERE unit IS NULL"), 0);
    const int64_t noMobile = Count(path, "SELECT count(*) FROM trader WHERE hphone IS NULL");
    EXPECT_GT(noMobile, 0);
    EXPECT_LT(noMobile, 40);
}

TEST(DemoData, SourceHoldsKoreanMasterData) {
    TempFolder dir;
    const QString path = dir.File("dbbasic.mdb");
    WriteSourceDatabase(path, DemoSize{300, 100}, 11);

    EXPECT_GE(Columns(path, "product").size(), 28u);
    EXPECT_EQ(Count(path, "SELECT count(DISTINCT code) FROM product WHERE code <> ''"), 300);
    EXPECT_EQ(Count(path, "SELECT count(DISTINCT code) FROM trader WHERE code <> ''"), 100);

    const std::set<std::string> units = {"개", "박스", "EA", "kg", "세트", ""};
    for (const Row& row : QueryRows(path, "SELECT DISTINCT unit FROM product")) {
        EXPECT_TRUE(units.count(row.at(0).value_or("?"))) << *row.at(0);
    }
    for (const Row& row : QueryRows(path, "SELECT name, stand FROM product LIMIT 50")) {
        EXPECT_TRUE(HasHangul(row.at(0).value_or(""))) << *row.at(0);
    }
    EXPECT_EQ(Count(path,
                    "SELECT count(*) FROM product WHERE typeof(inprice) <> 'real' OR "
                    "typeof(outprice) <> 'real' OR typeof(stock) <> 'integer'"),
              0);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM product WHERE outprice <= 0 OR inprice > outprice"),
              0);
    EXPECT_GT(Count(path, "SELECT count(*) FROM product WHERE barcode IS NULL"), 0);
    EXPECT_GT(Count(path, "SELECT count(*) FROM product WHERE memo IS NOT NULL"), 0);

    for (const Row& row : QueryRows(path, "SELECT bizno FROM trader WHERE bizno IS NOT NULL")) {
        const std::string number = row.at(0).value_or("");
        EXPECT_EQ(Count(path, "SELECT '" + number +
                                  "' GLOB '[0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9][0-9][0-9][0-9]'"),
                  1)
            << number;
        EXPECT_TRUE(ValidBusinessNumber(number)) << number;
    }
    for (const Row& row : QueryRows(path, "SELECT name, boss, addr1, u_name FROM trader")) {
        EXPECT_TRUE(HasHangul(row.at(0).value_or(""))) << row.at(0).value_or("");
        EXPECT_TRUE(HasHangul(row.at(1).value_or("")));
        EXPECT_TRUE(HasHangul(row.at(2).value_or("")));
    }
    EXPECT_EQ(Count(path, "SELECT count(*) FROM trader WHERE tel NOT LIKE '0%-%-%'"), 0);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM trader WHERE hphone NOT LIKE '010-%-%'"), 0);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM trader WHERE email NOT LIKE '%_@_%._%'"), 0);
}

TEST(DemoData, DestinationHasTheColumnsTheConversionWrites) {
    TempFolder dir;
    const QString path = dir.File("SolvanePlus/dbbasic.mdb");
    WriteDestDatabase(path, DemoSize{20, 9}, 7);

    EXPECT_EQ(FileBytes(path).left(16), QByteArray("SQLite format 3\0", 16));
    EXPECT_EQ(QueryValue(path, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(Count(path, "SELECT count(*) FROM product"), 20);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM trader"), 9);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM pclass"), kDemoClassRows);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM pclass WHERE Code = '00001'"), 0);

    const std::map<std::string, std::vector<std::string>> written = {
        {"product", {"unit", "classcode", "ptax", "reserve1", "reserve2", "reserve3", "BManage"}},
        {"pclass", {"Code", "ClassName", "Used"}},
        {"trader",
         {"section", "HPhone", "MultyCostNo", "SaleDC", "TradeStop", "U_Name", "U_Name2"}},
    };
    for (const auto& [table, names] : written) {
        const std::vector<ColumnInfo> columns = Columns(path, table);
        for (const std::string& name : names) {
            EXPECT_NE(Find(columns, name), nullptr) << table << "." << name;
        }
    }
    const std::vector<ColumnInfo> classColumns = Columns(path, "pclass");
    const ColumnInfo* code = Find(classColumns, "Code");
    ASSERT_NE(code, nullptr);
    EXPECT_TRUE(code->primaryKey);
    const std::vector<ColumnInfo> traderColumns = Columns(path, "trader");
    const ColumnInfo* hphone = Find(traderColumns, "hphone");
    ASSERT_NE(hphone, nullptr);
    EXPECT_FALSE(hphone->notNull);
}

TEST(DemoData, EverySourceColumnExistsInTheDestination) {
    TempFolder dir;
    const QString source = dir.File("s.mdb");
    const QString dest = dir.File("d.mdb");
    WriteSourceDatabase(source, DemoSize{10, 10}, 3);
    WriteDestDatabase(dest, DemoSize{10, 10}, 3);

    for (const std::string table : {"product", "trader"}) {
        const std::vector<ColumnInfo> from = Columns(source, table);
        const std::vector<ColumnInfo> to = Columns(dest, table);
        ASSERT_FALSE(from.empty());
        bool caseDiffers = false;
        for (const ColumnInfo& c : from) {
            const ColumnInfo* match = Find(to, c.name);
            EXPECT_NE(match, nullptr) << table << "." << c.name;
            caseDiffers = caseDiffers || (match && match->name != c.name);
        }
        // The demo shows what the copy must cope with: its own columns in the destination,
        // another order and another letter case.
        EXPECT_GT(to.size(), from.size()) << table;
        std::vector<std::string> shared;
        for (const std::string& name : LowerNames(to)) {
            const std::vector<std::string> fromNames = LowerNames(from);
            if (std::find(fromNames.begin(), fromNames.end(), name) != fromNames.end()) {
                shared.push_back(name);
            }
        }
        EXPECT_NE(shared, LowerNames(from)) << table;
        EXPECT_TRUE(caseDiffers) << table;
    }
}

TEST(DemoData, DestinationOnlyColumnsHaveDefaultsOrTakeNull) {
    TempFolder dir;
    const QString source = dir.File("s.mdb");
    const QString dest = dir.File("d.mdb");
    WriteSourceDatabase(source, DemoSize{60, 30}, 5);
    WriteDestDatabase(dest, DemoSize{10, 10}, 5);

    for (const std::string table : {"product", "trader"}) {
        const std::vector<ColumnInfo> from = Columns(source, table);
        for (const ColumnInfo& c : Columns(dest, table)) {
            if (!Find(from, c.name)) {
                EXPECT_TRUE(!c.notNull || c.hasDefault) << table << "." << c.name;
            }
        }
        // And the rows themselves go in with only the source's columns.
        CopyTable(source, dest, table);
    }
    EXPECT_EQ(Count(dest, "SELECT count(*) FROM product"), 60);
    EXPECT_EQ(Count(dest, "SELECT count(*) FROM trader"), 30);
}

TEST(DemoData, ConversionStatementsRunOnTheDemoAndRunAgain) {
    TempFolder dir;
    const QString source = dir.File("s.mdb");
    const QString dest = dir.File("d.mdb");
    WriteSourceDatabase(source, DemoSize{120, 40}, 9);
    WriteDestDatabase(dest, DemoSize{15, 6}, 9);
    const int64_t nullMobiles = Count(source, "SELECT count(*) FROM trader WHERE hphone IS NULL");

    RunConversion(source, dest, false);
    RunConversion(source, dest, true);

    EXPECT_EQ(Count(source, "SELECT count(*) FROM product WHERE unit = ''"), 0);
    EXPECT_GT(Count(source, "SELECT count(*) FROM product WHERE unit = ' '"), 0);
    EXPECT_EQ(Count(dest, "SELECT count(*) FROM product"), 120);
    EXPECT_EQ(Count(dest,
                    "SELECT count(*) FROM product WHERE classcode = '00001' AND ptax = 1 "
                    "AND reserve1 = '' AND reserve2 = '' AND reserve3 = '' AND BManage = 1"),
              120);
    EXPECT_EQ(Count(dest, "SELECT count(*) FROM pclass"), kDemoClassRows + 1);
    EXPECT_EQ(QueryValue(dest, "SELECT ClassName || '/' || Used FROM pclass WHERE Code = '00001'"),
              "대분류명/1");
    EXPECT_EQ(Count(dest, "SELECT count(*) FROM trader"), 40);
    EXPECT_EQ(Count(dest,
                    "SELECT count(*) FROM trader WHERE section = 1 AND MultyCostNo = 0 AND "
                    "SaleDC = 0 AND TradeStop = 0 AND U_Name2 IS U_Name"),
              40);
    EXPECT_EQ(Count(dest, "SELECT count(*) FROM trader WHERE HPhone IS NULL"), 0);
    EXPECT_EQ(Count(dest, "SELECT count(*) FROM trader WHERE HPhone = ''"), nullMobiles);
    EXPECT_EQ(QueryValue(dest, "PRAGMA integrity_check"), "ok");
}

TEST(DemoData, SameSeedSameDataOtherSeedOtherData) {
    TempFolder dir;
    WriteSourceDatabase(dir.File("a.mdb"), DemoSize{150, 50}, 42);
    WriteSourceDatabase(dir.File("b.mdb"), DemoSize{150, 50}, 42);
    WriteSourceDatabase(dir.File("c.mdb"), DemoSize{150, 50}, 43);
    WriteDestDatabase(dir.File("d.mdb"), DemoSize{20, 8}, 42);
    WriteDestDatabase(dir.File("e.mdb"), DemoSize{20, 8}, 42);

    for (const std::string table : {"product", "trader", "company"}) {
        EXPECT_EQ(Dump(dir.File("a.mdb"), table), Dump(dir.File("b.mdb"), table)) << table;
        EXPECT_NE(Dump(dir.File("a.mdb"), table), Dump(dir.File("c.mdb"), table)) << table;
    }
    for (const std::string table : {"product", "trader", "pclass", "company"}) {
        EXPECT_EQ(Dump(dir.File("d.mdb"), table), Dump(dir.File("e.mdb"), table)) << table;
    }
    EXPECT_EQ(FileBytes(dir.File("a.mdb")), FileBytes(dir.File("b.mdb")));
}

TEST(DemoData, ReplacesAnExistingFile) {
    TempFolder dir;
    const QString path = dir.File("dbbasic.mdb");
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an old file that is not a database");
        QFile journal(path + "-journal");
        ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
        journal.write("a journal that must not be rolled back into the new file");
    }
    WriteSourceDatabase(path, DemoSize{30, 12}, 1);
    WriteSourceDatabase(path, DemoSize{25, 10}, 1);

    EXPECT_EQ(FileBytes(path).left(16), QByteArray("SQLite format 3\0", 16));
    EXPECT_FALSE(QFileInfo::exists(path + "-journal"));
    EXPECT_EQ(Count(path, "SELECT count(*) FROM product"), 25);
    EXPECT_EQ(Count(path, "SELECT count(*) FROM trader"), 10);
}

TEST(DemoData, EmptyTablesAndLongMemos) {
    TempFolder dir;
    WriteSourceDatabase(dir.File("empty.mdb"), DemoSize{0, 0}, 1);
    EXPECT_EQ(Count(dir.File("empty.mdb"), "SELECT count(*) FROM product"), 0);
    EXPECT_EQ(Count(dir.File("empty.mdb"), "SELECT count(*) FROM trader"), 0);

    WriteSourceDatabase(dir.File("long.mdb"), DemoSize{40, 5, true}, 1);
    EXPECT_EQ(Count(dir.File("long.mdb"), "SELECT count(*) FROM product WHERE length(memo) >= 100"),
              40);
    EXPECT_GT(Count(dir.File("long.mdb"), "SELECT max(length(memo)) FROM product"), 255);
}

TEST(DemoData, SettingsReadBackFromThePrivateFolder) {
    TempFolder dir;
    const QString configHome = dir.File("config");
    const QString sourceFolder = dir.File("데모/Dorvik");
    const QString destFolder = dir.File("데모/SolvanePlus");
    WriteDemoSettings(configHome, QStringLiteral("/old/source"), QStringLiteral("/old/dest"));
    WriteDemoSettings(configHome, sourceFolder, destFolder);

    EXPECT_TRUE(QFileInfo::exists(configHome + "/VB and VBA Program Settings/세금계산서.conf"));
    EXPECT_TRUE(QFileInfo::exists(configHome + "/VB and VBA Program Settings/Solvane2.conf"));
    EXPECT_EQ(DemoSettingsFile(configHome, SourceSettingsApp()),
              QDir(configHome).absoluteFilePath("VB and VBA Program Settings/세금계산서.conf"));
#ifdef Q_OS_WIN
    // There the tool reads the registry, and reading it here would touch the products' own keys.
    GTEST_SKIP() << "the demo's settings files are read by the tool on Linux only";
#endif

    {
        // Read as the tool reads them, with the user scope at the private folder.
        UserSettingsPath scope(configHome);
        QSettings source(QSettings::NativeFormat, QSettings::UserScope,
                         QStringLiteral("VB and VBA Program Settings"),
                         QStringLiteral("세금계산서"));
        QSettings dest(QSettings::NativeFormat, QSettings::UserScope,
                       QStringLiteral("VB and VBA Program Settings"), QStringLiteral("Solvane2"));
        EXPECT_EQ(source.fileName(), DemoSettingsFile(configHome, SourceSettingsApp()));
        EXPECT_EQ(source.value(QStringLiteral("환경설정/db경로")).toString(), sourceFolder);
        EXPECT_EQ(dest.value(QStringLiteral("환경설정/db경로")).toString(), destFolder);
        source.beginGroup(QStringLiteral("환경설정"));
        EXPECT_EQ(source.childKeys(), QStringList{QStringLiteral("db경로")});
        EXPECT_EQ(source.allKeys().size(), 1);
    }

    // Nothing was written where the user's own settings live.
    EXPECT_FALSE(QFileInfo::exists(qEnvironmentVariable("XDG_CONFIG_HOME") +
                                   "/VB and VBA Program Settings"));
}
