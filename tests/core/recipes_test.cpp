#include "conversion/Recipes.h"

#include <gtest/gtest.h>

namespace {

QStringList Statements(const Recipe& recipe) {
    QStringList statements;
    for (const RecipeStep& step : recipe.steps) {
        statements << (step.database == StepDatabase::Both
                           ? QStringLiteral("CopyData ") + step.tableName
                           : step.statement);
    }
    return statements;
}

TEST(RecipesTest, RunProductsThenTradersStatementByStatement) {
    const std::vector<Recipe>& recipes = AllRecipes();
    ASSERT_EQ(recipes.size(), 2u);
    EXPECT_EQ(recipes[0].checkIndex, 0);
    EXPECT_EQ(recipes[1].checkIndex, 1);
    EXPECT_EQ(Statements(recipes[0]),
              (QStringList{
                  QStringLiteral("UPDATE product SET unit = ' ' where unit = ''"),
                  QStringLiteral("CopyData product"),
                  QStringLiteral("Insert Into pclass (Code, ClassName,Used) values ('00001', "
                                 "'대분류명', true)"),
                  QStringLiteral("update product set classcode = '00001'"),
                  QStringLiteral("UPDATE product SET ptax = 1"),
                  QStringLiteral("UPDATE product SET reserve1 = ''"),
                  QStringLiteral("UPDATE product SET reserve2 = ''"),
                  QStringLiteral("UPDATE product SET reserve3 = ''"),
                  QStringLiteral("UPDATE Product SET BManage = True"),
              }));
    EXPECT_EQ(Statements(recipes[1]),
              (QStringList{
                  QStringLiteral("CopyData trader"),
                  QStringLiteral("UPDATE Trader Set section = 1"),
                  QStringLiteral("UPDATE Trader Set HPhone = '' where hphone is null"),
                  QStringLiteral("Update Trader Set MultyCostNo = 0"),
                  QStringLiteral("UPDATE Trader SET SaleDC = 0"),
                  QStringLiteral("UPDATE Trader SET TradeStop = false"),
                  QStringLiteral("UPDATE Trader SET U_Name2 = U_Name"),
              }));
    // Only the first product step runs on the source.
    EXPECT_EQ(recipes[0].steps[0].database, StepDatabase::Source);
    for (size_t i = 2; i < recipes[0].steps.size(); ++i) {
        EXPECT_EQ(recipes[0].steps[i].database, StepDatabase::Dest) << i;
    }
}

TEST(RecipesTest, ThePreRunCheckNeedsWhatTheStatementsTouch) {
    const std::vector<Recipe>& recipes = AllRecipes();
    const std::vector<TableNeeds> needs = NeedsOf({&recipes[0], &recipes[1]});
    ASSERT_EQ(needs.size(), 3u);

    EXPECT_EQ(needs[0].tableName, QStringLiteral("product"));
    EXPECT_TRUE(needs[0].copied);
    EXPECT_EQ(needs[0].inSource, QStringList{QStringLiteral("unit")});
    // The unit set in the source arrives with the copy.
    EXPECT_EQ(needs[0].inDest, (QStringList{QStringLiteral("unit"), QStringLiteral("classcode"),
                                            QStringLiteral("ptax"), QStringLiteral("reserve1"),
                                            QStringLiteral("reserve2"), QStringLiteral("reserve3"),
                                            QStringLiteral("BManage")}));

    EXPECT_EQ(needs[1].tableName, QStringLiteral("pclass"));
    EXPECT_FALSE(needs[1].copied);
    EXPECT_FALSE(needs[1].checkSource());
    EXPECT_EQ(needs[1].inDest, (QStringList{QStringLiteral("Code"), QStringLiteral("ClassName"),
                                            QStringLiteral("Used")}));

    EXPECT_EQ(needs[2].tableName, QStringLiteral("trader"));
    EXPECT_TRUE(needs[2].copied);
    EXPECT_TRUE(needs[2].inSource.isEmpty());
    EXPECT_EQ(needs[2].inDest, (QStringList{QStringLiteral("section"), QStringLiteral("HPhone"),
                                            QStringLiteral("MultyCostNo"), QStringLiteral("SaleDC"),
                                            QStringLiteral("TradeStop"), QStringLiteral("U_Name"),
                                            QStringLiteral("U_Name2")}));
}

TEST(RecipesTest, TradersAloneNeedOnlyTheTraderTable) {
    const std::vector<TableNeeds> needs = NeedsOf({&AllRecipes()[1]});
    ASSERT_EQ(needs.size(), 1u);
    EXPECT_EQ(needs[0].tableName, QStringLiteral("trader"));
}

}  // namespace

namespace {

// Only the class row may be found in place from an earlier run.
TEST(RecipesTest, OnlyTheClassRowMayAlreadyExist) {
    int mayExist = 0;
    for (const Recipe& recipe : AllRecipes()) {
        for (const RecipeStep& step : recipe.steps) {
            if (step.rowMayExist) {
                ++mayExist;
                EXPECT_TRUE(step.statement.startsWith(QStringLiteral("Insert Into pclass ")));
            }
        }
    }
    EXPECT_EQ(mayExist, 1);
}

}  // namespace
