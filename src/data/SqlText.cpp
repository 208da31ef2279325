// Reading SQL text: the top-level items of a statement and the statement shapes the engine takes
// apart.

#include "data/SqlText.h"

namespace dao::detail::sql {

namespace {

bool IsWordChar(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' ||
           u == '$' || u >= 0x80;
}

bool IsBlank(QChar c) {
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f';
}

bool IsQuote(QChar c) {
    const char16_t u = c.unicode();
    return u == '\'' || u == '"' || u == '`' || u == '[';
}

// The end of a comment starting at i, or i when none starts there.
qsizetype SkipComment(const QString& s, qsizetype i) {
    const qsizetype n = s.size();
    if (i + 1 < n && s[i] == u'-' && s[i + 1] == u'-') {
        const qsizetype eol = s.indexOf(u'\n', i + 2);
        return eol < 0 ? n : eol + 1;
    }
    if (i + 1 < n && s[i] == u'/' && s[i + 1] == u'*') {
        const qsizetype close = s.indexOf(QLatin1String("*/"), i + 2);
        return close < 0 ? n : close + 2;
    }
    return i;
}

// The end of a string literal or quoted name starting at i ('...', "...", `...`, [...]).
qsizetype SkipQuoted(const QString& s, qsizetype i) {
    const QChar close = s[i] == u'[' ? QChar(u']') : s[i];
    const qsizetype n = s.size();
    for (qsizetype j = i + 1; j < n; ++j) {
        if (s[j] != close) {
            continue;
        }
        if (close != u']' && j + 1 < n && s[j + 1] == close) {
            ++j;  // a doubled quote stands for itself
            continue;
        }
        return j + 1;
    }
    return n;
}

// The end of the parenthesised group starting at i.
qsizetype SkipGroup(const QString& s, qsizetype i) {
    const qsizetype n = s.size();
    int depth = 0;
    qsizetype j = i;
    while (j < n) {
        if (IsQuote(s[j])) {
            j = SkipQuoted(s, j);
            continue;
        }
        if (const qsizetype after = SkipComment(s, j); after != j) {
            j = after;
            continue;
        }
        if (s[j] == u'(') {
            ++depth;
        } else if (s[j] == u')' && --depth == 0) {
            return j + 1;
        }
        ++j;
    }
    return n;
}

// The item that starts at i, which is neither blank nor a comment.
Item ItemAt(const QString& s, qsizetype i) {
    if (IsWordChar(s[i])) {
        qsizetype j = i + 1;
        while (j < s.size() && IsWordChar(s[j])) {
            ++j;
        }
        return {Item::Kind::Word, i, j};
    }
    if (IsQuote(s[i])) {
        return {Item::Kind::Quoted, i, SkipQuoted(s, i)};
    }
    if (s[i] == u'(') {
        return {Item::Kind::Group, i, SkipGroup(s, i)};
    }
    return {Item::Kind::Symbol, i, i + 1};
}

// Splits the inside of a group at its top-level commas, each part trimmed.
QStringList SplitList(const QString& group) {
    const Reader inner(group.mid(1, group.size() - 2));
    QStringList parts;
    size_t first = 0;
    for (size_t i = 0; i <= inner.Count(); ++i) {
        if (i == inner.Count() || inner.IsSymbol(i, ',')) {
            parts << (i > first ? inner.Span(first, i - 1) : QString());
            first = i + 1;
        }
    }
    return parts;
}

bool IsName(const Reader& r, size_t i) {
    return i < r.Count() && (r[i].kind == Item::Kind::Word ||
                             (r[i].kind == Item::Kind::Quoted && r.Text()[r[i].begin] != u'\''));
}

// The end (one past) of a table name starting at item i ("t", "[t]", "main.t"); i when none.
size_t NameEnd(const Reader& r, size_t i) {
    if (!IsName(r, i)) {
        return i;
    }
    size_t end = i + 1;
    while (r.IsSymbol(end, '.') && IsName(r, end + 1)) {
        end += 2;
    }
    return end;
}

// Whether item i is a group whose inside starts with SELECT: "(SELECT ...)".
bool IsSelectGroup(const Reader& r, size_t i) {
    if (i >= r.Count() || r[i].kind != Item::Kind::Group) {
        return false;
    }
    const Reader inner(r.Span(i, i).mid(1));
    return inner.IsWord(0, QLatin1String("SELECT"));
}

// The items after "INSERT [OR x]" or "UPDATE [OR x]".
size_t AfterOrClause(const Reader& r) {
    return r.IsWord(1, QLatin1String("OR")) ? 3 : 1;
}

// Reads "VALUES (...)[, (...)]..." from item i to the end.
bool ReadValueRows(const Reader& r, size_t i, QStringList& rows) {
    for (size_t k = i;; k += 2) {
        if (k >= r.Count() || r[k].kind != Item::Kind::Group) {
            return false;
        }
        rows << r.Span(k, k);
        if (k + 1 == r.Count()) {
            return true;
        }
        if (!r.IsSymbol(k + 1, ',')) {
            return false;
        }
    }
}

// An UPDATE or DELETE whose table is items [table, tableEnd) and whose WHERE is item `where`
// (Count() when it has none).
std::optional<ChangeShape> ReadCondition(const Reader& r, size_t table, size_t tableEnd,
                                         size_t where) {
    ChangeShape shape;
    shape.table = r.Span(table, tableEnd - 1);
    if (where < r.Count()) {
        if (where + 1 >= r.Count()) {
            return std::nullopt;
        }
        shape.condition = r.After(where);
    }
    shape.head = r.Span(0, where - 1);
    return shape;
}

}  // namespace

Reader::Reader(QString text) : text_(std::move(text)) {
    const qsizetype n = text_.size();
    qsizetype i = 0;
    while (i < n) {
        if (IsBlank(text_[i])) {
            ++i;
            continue;
        }
        if (const qsizetype after = SkipComment(text_, i); after != i) {
            i = after;
            continue;
        }
        items_.push_back(ItemAt(text_, i));
        i = items_.back().end;
    }
    while (!items_.empty() && IsSymbol(items_.size() - 1, ';')) {
        items_.pop_back();
    }
}

bool Reader::IsWord(size_t i, QLatin1String word) const {
    return i < items_.size() && items_[i].kind == Item::Kind::Word &&
           QStringView(text_)
                   .mid(items_[i].begin, items_[i].end - items_[i].begin)
                   .compare(word, Qt::CaseInsensitive) == 0;
}

bool Reader::IsSymbol(size_t i, char symbol) const {
    return i < items_.size() && items_[i].kind == Item::Kind::Symbol &&
           text_[items_[i].begin] == QLatin1Char(symbol);
}

size_t Reader::Find(QLatin1String word, size_t from) const {
    for (size_t i = from; i < items_.size(); ++i) {
        if (IsWord(i, word)) {
            return i;
        }
    }
    return items_.size();
}

QString Reader::Span(size_t first, size_t last) const {
    return text_.mid(items_[first].begin, items_[last].end - items_[first].begin);
}

QString Reader::After(size_t i) const {
    return text_.mid(items_[i].end, items_.back().end - items_[i].end).trimmed();
}

QString WithoutTrailingSemicolons(const QString& sql) {
    const Reader r(sql);
    return r.Count() == 0 ? QString() : r.Span(0, r.Count() - 1);
}

QString Unquoted(const QString& name) {
    if (name.size() < 2) {
        return name;
    }
    const QChar first = name.front();
    const QChar last = name.back();
    if (first == u'[' && last == u']') {
        return name.mid(1, name.size() - 2);
    }
    if ((first == u'"' || first == u'`') && last == first) {
        const QString quote(first);
        return name.mid(1, name.size() - 2).replace(quote + quote, quote);
    }
    return name;
}

QString DoubleQuoted(const QString& name) {
    return QLatin1Char('"') + QString(name).replace(QLatin1String("\""), QLatin1String("\"\"")) +
           QLatin1Char('"');
}

QString TableOfSelectAll(const QString& source) {
    const Reader r(source);
    if (r.Count() != 4 || !r.IsWord(0, QLatin1String("SELECT")) || !r.IsSymbol(1, '*') ||
        !r.IsWord(2, QLatin1String("FROM")) || !IsName(r, 3)) {
        return {};
    }
    const QString name = r.Span(3, 3);
    if (r[3].kind == Item::Kind::Quoted && (name.size() < 3 || Unquoted(name) == name)) {
        return {};  // empty or not closed
    }
    return Unquoted(name);
}

QString WithOrIgnore(const QString& sql) {
    const Reader r(sql);
    if (!r.IsWord(0, QLatin1String("UPDATE")) && !r.IsWord(0, QLatin1String("INSERT"))) {
        return sql;
    }
    if (r.IsWord(1, QLatin1String("OR"))) {
        return sql;
    }
    return QString(sql).insert(r[0].end, QLatin1String(" OR IGNORE"));
}

std::optional<InsertShape> ReadInsert(const QString& sql) {
    const Reader r(sql);
    size_t i = AfterOrClause(r);
    if (!r.IsWord(0, QLatin1String("INSERT")) || !r.IsWord(i, QLatin1String("INTO"))) {
        return std::nullopt;
    }
    const size_t table = i + 1;
    i = NameEnd(r, table);
    if (i == table) {
        return std::nullopt;
    }
    InsertShape shape;
    shape.table = r.Span(table, i - 1);
    if (i < r.Count() && r[i].kind == Item::Kind::Group && !IsSelectGroup(r, i)) {
        shape.columns = SplitList(r.Span(i, i));
        ++i;
    }
    if (i >= r.Count()) {
        return std::nullopt;
    }
    shape.head = r.Span(0, i - 1);
    if (r.IsWord(i, QLatin1String("VALUES"))) {
        if (!ReadValueRows(r, i + 1, shape.valueRows)) {
            return std::nullopt;
        }
        return shape;
    }
    if (r.IsWord(i, QLatin1String("SELECT")) || IsSelectGroup(r, i)) {
        shape.select = r.Span(i, r.Count() - 1);
        return shape;
    }
    return std::nullopt;
}

std::optional<ChangeShape> ReadUpdate(const QString& sql) {
    const Reader r(sql);
    if (!r.IsWord(0, QLatin1String("UPDATE"))) {
        return std::nullopt;
    }
    const size_t table = AfterOrClause(r);
    const size_t tableEnd = NameEnd(r, table);
    const size_t set = tableEnd;
    if (tableEnd == table || !r.IsWord(set, QLatin1String("SET"))) {
        return std::nullopt;
    }
    for (const char* clause : {"FROM", "ORDER", "LIMIT", "RETURNING"}) {
        if (r.Find(QLatin1String(clause), set + 1) < r.Count()) {
            return std::nullopt;
        }
    }
    const size_t where = r.Find(QLatin1String("WHERE"), set + 1);
    if (where == set + 1) {
        return std::nullopt;  // nothing to set
    }
    return ReadCondition(r, table, tableEnd, where);
}

std::optional<ChangeShape> ReadDelete(const QString& sql) {
    const Reader r(sql);
    size_t from = 1;
    if (r.IsSymbol(from, '*')) {
        ++from;
    }
    if (!r.IsWord(0, QLatin1String("DELETE")) || !r.IsWord(from, QLatin1String("FROM"))) {
        return std::nullopt;
    }
    const size_t table = from + 1;
    const size_t tableEnd = NameEnd(r, table);
    if (tableEnd == table ||
        (tableEnd < r.Count() && !r.IsWord(tableEnd, QLatin1String("WHERE")))) {
        return std::nullopt;
    }
    return ReadCondition(r, table, tableEnd, tableEnd);
}

QString TableOfStatement(const QString& sql) {
    if (const auto insert = ReadInsert(sql)) {
        return Unquoted(insert->table);
    }
    if (const auto update = ReadUpdate(sql)) {
        return Unquoted(update->table);
    }
    if (const auto erase = ReadDelete(sql)) {
        return Unquoted(erase->table);
    }
    return {};
}

}  // namespace dao::detail::sql
