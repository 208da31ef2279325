// Whole runs through the window on the demo databases, as a user makes them: tick the boxes,
// click Start, type the password, confirm. Checks what both files hold afterwards and the log.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <string>

#include "conversion/Recipes.h"
#include "conversion/RunFolder.h"
#include "demo/DemoData.h"
#include "support/FileContents.h"
#include "support/ScriptedPlatform.h"
#include "support/SqliteFixture.h"
#include "ui/Form1.h"

namespace {

const QString kRule = QString(40, QLatin1Char('-'));
const QString kStart = QStringLiteral("\r\n작업 시작\r\n\r\n");
const QString kEnd =
    kRule + QStringLiteral("\r\n자료 교체 완료\r\n") + kRule + QStringLiteral("\r\n");

// The source's column names of a table, comma-separated, for comparing the copied columns.
std::string ColumnList(const QString& path, const std::string& table) {
    std::string list;
    for (const Row& row : QueryRows(path, "PRAGMA table_info(" + table + ")")) {
        list += (list.empty() ? "" : ", ") + row.at(1).value_or("");
    }
    return list;
}

class FullRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        source = tmp.File(QStringLiteral("Dorvik/dbbasic.mdb"));
        dest = tmp.File(QStringLiteral("SolvanePlus/dbbasic.mdb"));
        WriteSourceDatabase(source, kDemoSourceSize, kDemoSeed);
        WriteDestDatabase(dest, kDemoDestSize, kDemoSeed);
        platform.SetSetting(SourceSettingsApp(), SettingsSection(), SettingsKey(),
                            QFileInfo(source).path());
        platform.SetSetting(DestSettingsApp(), SettingsSection(), SettingsKey(),
                            QFileInfo(dest).path());
        platform.runsFolder = tmp.File(QStringLiteral("runs"));
        window.Form_Load();
        ASSERT_TRUE(QFile::copy(source, tmp.File(QStringLiteral("source-before.mdb"))));
        ASSERT_TRUE(QFile::copy(dest, tmp.File(QStringLiteral("dest-before.mdb"))));
        sourceBytes = FileBytes(source);
        destTradersBefore = QueryRows(dest, "SELECT * FROM Trader ORDER BY code");
        destProductsBefore = QueryRows(dest, "SELECT * FROM Product ORDER BY code");
        // What the source's products should read after the unit fix, and nothing else.
        std::string fixedColumns;
        for (const Row& row : QueryRows(source, "PRAGMA table_info(product)")) {
            const std::string name = row.at(1).value_or("");
            fixedColumns += (fixedColumns.empty() ? "" : ", ") +
                            (name == "unit" ? "CASE unit WHEN '' THEN ' ' ELSE unit END" : name);
        }
        sourceProductsFixed =
            QueryRows(source, "SELECT " + fixedColumns + " FROM product ORDER BY code");
        emptyUnits = std::stoi(QueryValue(source, "SELECT count(*) FROM product WHERE unit = ''"));
        ASSERT_GT(emptyUnits, 0);
    }

    void Run(bool products, bool traders) {
        window.Check1(0)->setChecked(products);
        window.Check1(1)->setChecked(traders);
        platform.calls.clear();
        platform.inputAnswers = {QStringLiteral("kolum482")};
        platform.msgBoxAnswers = {vbYes};
        window.Command1()->click();
        const auto boxes = platform.MessageBoxes();
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes.back().text, QStringLiteral("자료 교체가 완료 되었습니다."));
    }

    // The newest run folder.
    QString RunFolder() const {
        const QStringList runs = ListRunFolders(platform.runsFolder);
        return runs.isEmpty() ? QString() : runs.front();
    }

    // The log's opening lines of the last run, with its backup line.
    QString Started() const {
        return kStart + QStringLiteral("백업: ") + QDir::toNativeSeparators(RunFolder()) +
               QStringLiteral("\r\n");
    }

    void ExpectProductsConverted() {
        const std::string columns = ColumnList(source, "product");
        EXPECT_EQ(QueryRows(dest, "SELECT " + columns + " FROM Product ORDER BY code"),
                  QueryRows(source, "SELECT " + columns + " FROM product ORDER BY code"));
        EXPECT_EQ(QueryValue(dest,
                             "SELECT count(*) FROM Product WHERE classcode = '00001' AND "
                             "ptax = 1 AND reserve1 = '' AND reserve2 = '' AND "
                             "reserve3 = '' AND BManage = 1"),
                  std::to_string(kDemoSourceSize.products));
        EXPECT_EQ(QueryValue(dest, "SELECT count(*) FROM pclass WHERE Code = '00001'"), "1");
        EXPECT_EQ(
            QueryValue(dest, "SELECT ClassName || '/' || Used FROM pclass WHERE Code = '00001'"),
            "대분류명/1");
        EXPECT_EQ(QueryValue(dest, "SELECT count(*) FROM pclass"),
                  std::to_string(kDemoClassRows + 1));
        // The source's empty units are one space now; nothing else in it changed.
        EXPECT_EQ(QueryRows(source, "SELECT * FROM product ORDER BY code"), sourceProductsFixed);
        EXPECT_EQ(QueryValue(source, "SELECT count(*) FROM product WHERE unit = ''"), "0");
        EXPECT_EQ(QueryValue(source, "SELECT count(*) FROM product WHERE unit = ' '"),
                  std::to_string(emptyUnits));
    }

    void ExpectTradersConverted() {
        const std::string columns = ColumnList(source, "trader");
        std::string nonPhone;
        for (const Row& row : QueryRows(source, "PRAGMA table_info(trader)")) {
            if (row.at(1) != "hphone") {
                nonPhone += (nonPhone.empty() ? "" : ", ") + row.at(1).value_or("");
            }
        }
        EXPECT_EQ(QueryRows(dest, "SELECT " + nonPhone + " FROM Trader ORDER BY code"),
                  QueryRows(source, "SELECT " + nonPhone + " FROM trader ORDER BY code"));
        EXPECT_EQ(QueryRows(dest, "SELECT HPhone FROM Trader ORDER BY code"),
                  QueryRows(source, "SELECT ifnull(hphone, '') FROM trader ORDER BY code"));
        EXPECT_EQ(QueryValue(dest,
                             "SELECT count(*) FROM Trader WHERE section = 1 AND "
                             "MultyCostNo = 0 AND SaleDC = 0 AND TradeStop = 0 AND "
                             "U_Name2 IS U_Name"),
                  std::to_string(kDemoSourceSize.traders));
    }

    TempFolder tmp;
    QString source;
    QString dest;
    ScriptedPlatform platform;
    Form1 window{platform};
    QByteArray sourceBytes;
    std::vector<Row> destTradersBefore;
    std::vector<Row> destProductsBefore;
    std::vector<Row> sourceProductsFixed;
    int emptyUnits = 0;
};

TEST_F(FullRunTest, ProductsOnly) {
    Run(true, false);
    EXPECT_EQ(window.Text(), Started() + QStringLiteral("product 데이터복사완료\r\n") + kEnd);
    ExpectProductsConverted();
    EXPECT_EQ(QueryRows(dest, "SELECT * FROM Trader ORDER BY code"), destTradersBefore);
    EXPECT_EQ(QueryValue(source, "SELECT count(*) FROM trader"),
              std::to_string(kDemoSourceSize.traders));
    EXPECT_EQ(window.Max(), static_cast<float>(kDemoSourceSize.products));
    EXPECT_EQ(window.Value(), window.Max());
}

TEST_F(FullRunTest, TradersOnlyLeavesTheSourceByteForByte) {
    Run(false, true);
    EXPECT_EQ(window.Text(), Started() + QStringLiteral("trader 데이터복사완료\r\n") + kEnd);
    ExpectTradersConverted();
    EXPECT_EQ(FileBytes(source), sourceBytes);
    EXPECT_EQ(QueryRows(dest, "SELECT * FROM Product ORDER BY code"), destProductsBefore);
}

TEST_F(FullRunTest, BothAndThenASecondRunOverTheFirst) {
    Run(true, true);
    const QString log = QStringLiteral("product 데이터복사완료\r\n") +
                        QStringLiteral("trader 데이터복사완료\r\n") + kEnd;
    EXPECT_EQ(window.Text(), Started() + log);
    ExpectProductsConverted();
    ExpectTradersConverted();

    // The class row is there already: the second run leaves it out silently and goes on.
    Run(true, true);
    EXPECT_EQ(window.Text(), Started() + log);
    EXPECT_EQ(ListRunFolders(platform.runsFolder).size(), 2);
    ExpectProductsConverted();
    ExpectTradersConverted();
    EXPECT_EQ(QueryValue(dest, "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(QueryValue(source, "PRAGMA integrity_check"), "ok");
}

}  // namespace

namespace {

// Every line of a UTF-8 text file.
QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
}

TEST_F(FullRunTest, ARunLeavesAVerifiedBackupOfBothFilesAndItsReport) {
    Run(true, true);
    const QString folder = RunFolder();
    ASSERT_FALSE(folder.isEmpty());
    ExpectSameContents(folder + QStringLiteral("/Dorvik/dbbasic.mdb"),
                       tmp.File(QStringLiteral("source-before.mdb")));
    ExpectSameContents(folder + QStringLiteral("/SolvanePlus/dbbasic.mdb"),
                       tmp.File(QStringLiteral("dest-before.mdb")));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/failed-rows.csv")));

    const std::optional<RunManifest> manifest = ReadManifest(folder);
    ASSERT_TRUE(manifest.has_value());
    ASSERT_EQ(manifest->files.size(), 2u);
    EXPECT_EQ(manifest->files[0].product, QStringLiteral("Dorvik"));
    EXPECT_EQ(manifest->files[0].originalPath, QFileInfo(source).absoluteFilePath());
    EXPECT_EQ(manifest->files[0].sha256, FileSha256(tmp.File(QStringLiteral("source-before.mdb"))));
    EXPECT_EQ(manifest->files[1].originalPath, QFileInfo(dest).absoluteFilePath());
    EXPECT_EQ(manifest->files[1].rowCounts.at(QStringLiteral("product")),
              static_cast<int64_t>(destProductsBefore.size()));

    EXPECT_EQ(ReadReportOutcome(folder), QStringLiteral("완료"));
    const QStringList report = FileLines(folder + QStringLiteral("/report.txt"));
    // Every statement of both recipes, letter for letter, in the order they ran.
    qsizetype at = 0;
    for (const Recipe& recipe : AllRecipes()) {
        for (const RecipeStep& step : recipe.steps) {
            if (step.statement.isEmpty()) {
                continue;
            }
            const auto it = std::find_if(report.begin() + at, report.end(), [&](const QString& l) {
                return l.endsWith(QStringLiteral(": ") + step.statement);
            });
            ASSERT_NE(it, report.end()) << step.statement.toStdString();
            at = it - report.begin();
        }
    }
    // Each table's counts agree with what the files held before and hold now.
    const auto countsLine = [&](const char* table, int64_t sourceRows, size_t destBefore) {
        return QStringLiteral(
                   "%1 복사: 원본 %2건, 대상 이전 %3건, 복사 %2건, 실패 0건, 대상 이후 "
                   "%2건, 이후=복사: 예")
            .arg(QLatin1String(table))
            .arg(sourceRows)
            .arg(destBefore);
    };
    const auto hasLine = [&](const QString& line) {
        return std::any_of(report.begin(), report.end(),
                           [&](const QString& l) { return l.endsWith(line); });
    };
    EXPECT_TRUE(hasLine(countsLine("product", kDemoSourceSize.products, destProductsBefore.size())))
        << report.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(hasLine(countsLine("trader", kDemoSourceSize.traders, destTradersBefore.size())));
    EXPECT_EQ(QueryValue(dest, "SELECT count(*) FROM Product"),
              std::to_string(kDemoSourceSize.products));

    // The files after the run, and the whole log pane at its end.
    EXPECT_TRUE(report.contains(QStringLiteral("  SHA-256: ") + FileSha256(dest)));
    EXPECT_TRUE(
        report.join(QLatin1Char('\n'))
            .contains(
                QString(window.Text()).replace(QStringLiteral("\r\n"), QStringLiteral("\n"))));
}

}  // namespace
