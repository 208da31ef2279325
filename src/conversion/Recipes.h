#pragma once

// The product and trader recipes as data: each is a fixed list of steps, and each step says which
// database it runs on, what it sends, and which table and columns it touches. The run executes
// the steps in order; the pre-run check reads the same steps to learn what must exist.

#include <QString>
#include <QStringList>
#include <vector>

// Where a recipe step runs.
enum class StepDatabase {
    Source,  // a statement on the source database
    Both,    // the table copy from the source into the destination
    Dest,    // a statement on the destination database
};

struct RecipeStep {
    StepDatabase database;
    QString statement;    // sent to the engine exactly as written; empty for the table copy
    QString tableName;    // the table it touches, in lower case
    QStringList columns;  // the columns it names, as the statement spells them
    // The row it inserts may be there already (from an earlier run): a row left out for its key
    // is then no failure.
    bool rowMayExist = false;
};

struct Recipe {
    int checkIndex;  // the `Check1` box that selects the recipe
    std::vector<RecipeStep> steps;
};

// Products first, then traders: the order the run follows.
const std::vector<Recipe>& AllRecipes();

// What one table must hold before a run that includes it may change anything.
struct TableNeeds {
    QString tableName;
    bool copied = false;   // copied: it must exist in the source too, and every source column
                           // must exist in the destination
    QStringList inSource;  // columns that source statements name
    QStringList inDest;    // columns that destination statements name, and the ones the copy
                           // carries over after source statements set them
    bool checkSource() const { return copied || !inSource.isEmpty(); }
    bool checkDest() const { return copied || !inDest.isEmpty(); }
};

// The tables the given recipes touch, in the order the recipes first touch them.
std::vector<TableNeeds> NeedsOf(const std::vector<const Recipe*>& recipes);
