#pragma once

// Reading SQL text, for both drivers: a statement's top-level items (words, quoted names and
// string literals, parenthesised groups, other characters) past blanks and comments, and the few
// statement shapes the engine must take apart: "SELECT * FROM <table>", INSERT, UPDATE and DELETE.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace dao::detail::sql {

struct Item {
    enum class Kind : uint8_t { Word, Quoted, Group, Symbol };
    Kind kind;
    qsizetype begin;
    qsizetype end;
};

// A statement as its top-level items, without the semicolons that end it.
class Reader {
public:
    explicit Reader(QString text);

    const QString& Text() const { return text_; }
    size_t Count() const { return items_.size(); }
    const Item& operator[](size_t i) const { return items_[i]; }

    // Whether item i is this word, in any letter case; false past the end.
    bool IsWord(size_t i, QLatin1String word) const;
    // Whether item i is this one character outside quotes and groups; false past the end.
    bool IsSymbol(size_t i, char symbol) const;
    // The index of the first item at or after `from` that is this word; Count() when none.
    size_t Find(QLatin1String word, size_t from = 0) const;
    // The text from item `first` to item `last`, both included.
    QString Span(size_t first, size_t last) const;
    // The text after the end of item i to the end of the statement, trimmed.
    QString After(size_t i) const;

private:
    QString text_;
    std::vector<Item> items_;
};

// The statement without the blanks, comments and semicolons after its last item.
QString WithoutTrailingSemicolons(const QString& sql);

// A name written bare, [bracketed], "quoted" or `quoted`, without its quotes.
QString Unquoted(const QString& name);
// A name as a quoted identifier: "name", with its double quotes doubled.
QString DoubleQuoted(const QString& name);

// The table of a "SELECT * FROM <table>" source (bare or quoted, any letter case, an optional
// trailing semicolon), without its quotes; empty for any other source.
QString TableOfSelectAll(const QString& source);

// Turns a leading INSERT or UPDATE into INSERT OR IGNORE / UPDATE OR IGNORE (SQLite's way of
// leaving out the rows that break a constraint). Leading blanks and comments and the statement's
// own spelling stay; a statement that has an OR clause already, or is of another kind, is
// returned unchanged.
QString WithOrIgnore(const QString& sql);

// "INSERT [OR ...] INTO <table> [(columns)] VALUES (...)[, (...)]..." or "... SELECT ...".
struct InsertShape {
    QString table;          // as written
    QString head;           // the statement up to its VALUES or SELECT, as written
    QStringList columns;    // as written; empty for all columns in table order
    QStringList valueRows;  // each "(...)" of a VALUES list
    QString select;         // the SELECT of INSERT ... SELECT
};
std::optional<InsertShape> ReadInsert(const QString& sql);

// "UPDATE [OR ...] <table> SET ... [WHERE ...]" and "DELETE [*] FROM <table> [WHERE ...]"; an
// UPDATE with FROM, ORDER BY, LIMIT or RETURNING is not read.
struct ChangeShape {
    QString table;      // as written
    QString head;       // the statement up to its WHERE, as written
    QString condition;  // empty for every row
};
std::optional<ChangeShape> ReadUpdate(const QString& sql);
std::optional<ChangeShape> ReadDelete(const QString& sql);

// The table an INSERT, UPDATE or DELETE writes, without quotes; empty when it cannot be told.
QString TableOfStatement(const QString& sql);

}  // namespace dao::detail::sql
