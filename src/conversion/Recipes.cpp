#include "conversion/Recipes.h"

#include <algorithm>

#include "conversion/Controls.h"

namespace {

const QString kProduct = QStringLiteral("product");
const QString kClass = QStringLiteral("pclass");
const QString kTrader = QStringLiteral("trader");

RecipeStep OnSource(const QString& statement, const QString& tableName,
                    const QStringList& columns) {
    return {StepDatabase::Source, statement, tableName, columns};
}

RecipeStep Copy(const QString& tableName) {
    return {StepDatabase::Both, QString(), tableName, {}};
}

RecipeStep OnDest(const QString& statement, const QString& tableName, const QStringList& columns) {
    return {StepDatabase::Dest, statement, tableName, columns};
}

// A row that a second run finds in place: its key left out is what the recipe means.
RecipeStep OnDestOnce(const QString& statement, const QString& tableName,
                      const QStringList& columns) {
    RecipeStep step = OnDest(statement, tableName, columns);
    step.rowMayExist = true;
    return step;
}

// Empty units become a single space in the source, so that the copy carries the space across.
Recipe ProductRecipe() {
    return {0,
            {
                OnSource(QStringLiteral("UPDATE product SET unit = ' ' where unit = ''"), kProduct,
                         {QStringLiteral("unit")}),
                Copy(kProduct),
                OnDestOnce(
                    QStringLiteral("Insert Into pclass (Code, ClassName,Used) values "
                                   "('00001', '대분류명', true)"),
                    kClass,
                    {QStringLiteral("Code"), QStringLiteral("ClassName"), QStringLiteral("Used")}),
                OnDest(QStringLiteral("update product set classcode = '00001'"), kProduct,
                       {QStringLiteral("classcode")}),
                OnDest(QStringLiteral("UPDATE product SET ptax = 1"), kProduct,
                       {QStringLiteral("ptax")}),
                OnDest(QStringLiteral("UPDATE product SET reserve1 = ''"), kProduct,
                       {QStringLiteral("reserve1")}),
                OnDest(QStringLiteral("UPDATE product SET reserve2 = ''"), kProduct,
                       {QStringLiteral("reserve2")}),
                OnDest(QStringLiteral("UPDATE product SET reserve3 = ''"), kProduct,
                       {QStringLiteral("reserve3")}),
                OnDest(QStringLiteral("UPDATE Product SET BManage = True"), kProduct,
                       {QStringLiteral("BManage")}),
            }};
}

Recipe TraderRecipe() {
    return {kTradersCheck,
            {
                Copy(kTrader),
                OnDest(QStringLiteral("UPDATE Trader Set section = 1"), kTrader,
                       {QStringLiteral("section")}),
                OnDest(QStringLiteral("UPDATE Trader Set HPhone = '' where hphone is null"),
                       kTrader, {QStringLiteral("HPhone")}),
                OnDest(QStringLiteral("Update Trader Set MultyCostNo = 0"), kTrader,
                       {QStringLiteral("MultyCostNo")}),
                OnDest(QStringLiteral("UPDATE Trader SET SaleDC = 0"), kTrader,
                       {QStringLiteral("SaleDC")}),
                OnDest(QStringLiteral("UPDATE Trader SET TradeStop = false"), kTrader,
                       {QStringLiteral("TradeStop")}),
                OnDest(QStringLiteral("UPDATE Trader SET U_Name2 = U_Name"), kTrader,
                       {QStringLiteral("U_Name"), QStringLiteral("U_Name2")}),
            }};
}

TableNeeds& NeedsFor(std::vector<TableNeeds>& tables, const QString& tableName) {
    const auto found = std::find_if(tables.begin(), tables.end(),
                                    [&](const TableNeeds& t) { return t.tableName == tableName; });
    if (found != tables.end()) {
        return *found;
    }
    tables.push_back({tableName, false, {}, {}});
    return tables.back();
}

}  // namespace

const std::vector<Recipe>& AllRecipes() {
    static const std::vector<Recipe> recipes{ProductRecipe(), TraderRecipe()};
    return recipes;
}

std::vector<TableNeeds> NeedsOf(const std::vector<const Recipe*>& recipes) {
    std::vector<TableNeeds> tables;
    for (const Recipe* recipe : recipes) {
        for (const RecipeStep& step : recipe->steps) {
            TableNeeds& table = NeedsFor(tables, step.tableName);
            switch (step.database) {
                case StepDatabase::Source:
                    table.inSource << step.columns;
                    break;
                case StepDatabase::Both:
                    table.copied = true;
                    // What the source statements set before the copy arrives in the
                    // destination with it.
                    table.inDest << table.inSource;
                    break;
                case StepDatabase::Dest:
                    table.inDest << step.columns;
                    break;
            }
        }
    }
    return tables;
}
