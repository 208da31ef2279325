#include "support/FileContents.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QFile>
#include <algorithm>
#include <cstdio>
#include <set>

namespace {

// The storage type and the exact bytes: a text and a blob with the same bytes differ, and so do
// 1 and 1.0.
std::string Render(sqlite3_stmt* stmt, int column) {
    switch (sqlite3_column_type(stmt, column)) {
        case SQLITE_INTEGER:
            return "I" + std::to_string(sqlite3_column_int64(stmt, column));
        case SQLITE_FLOAT: {
            char text[40];
            std::snprintf(text, sizeof text, "R%.17g", sqlite3_column_double(stmt, column));
            return text;
        }
        case SQLITE_TEXT: {
            const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
            const int size = sqlite3_column_bytes(stmt, column);
            return "T" + std::to_string(size) + ":" + std::string(data, static_cast<size_t>(size));
        }
        case SQLITE_BLOB: {
            const auto* data = static_cast<const char*>(sqlite3_column_blob(stmt, column));
            const int size = sqlite3_column_bytes(stmt, column);
            return "B" + std::to_string(size) + ":" +
                   (size == 0 ? std::string() : std::string(data, static_cast<size_t>(size)));
        }
        default:
            return "N";
    }
}

std::string Quoted(const std::string& name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') {
            quoted += c;
        }
    }
    return quoted + "\"";
}

// The start of a rendered row, short enough for a failure message.
std::string Shown(const std::string& row) {
    constexpr size_t kShown = 300;
    return row.size() <= kShown ? row : row.substr(0, kShown) + "...";
}

}  // namespace

FileContents ReadContents(const QString& path) {
    FileContents contents;
    sqlite3* db = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << name.constData();
        sqlite3_close(db);
        return contents;
    }
    std::vector<std::string> tables;
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT type, name, coalesce(sql, '') FROM sqlite_master", -1,
                                &stmt, nullptr);
    while (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        rc = SQLITE_OK;
        const std::string type = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        const std::string object = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1));
        contents.schema[object] =
            type + ": " + reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2));
        if (type == "table") {
            tables.push_back(object);
        }
    }
    if (rc != SQLITE_DONE) {
        ADD_FAILURE() << "cannot read the schema of " << name.constData() << ": "
                      << sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);

    for (const std::string& table : tables) {
        std::vector<std::string>& rows = contents.rows[table];
        stmt = nullptr;
        const std::string sql = "SELECT * FROM " + Quoted(table);
        rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr);
        while (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            std::string row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                row += Render(stmt, i) + "|";
            }
            rows.push_back(std::move(row));
            rc = SQLITE_OK;
        }
        if (rc != SQLITE_DONE) {
            ADD_FAILURE() << "cannot read " << table << " of " << name.constData() << ": "
                          << sqlite3_errmsg(db);
        }
        sqlite3_finalize(stmt);
        std::sort(rows.begin(), rows.end());
    }
    sqlite3_close(db);
    return contents;
}

void ExpectSameContents(const QString& actual, const QString& expected) {
    const FileContents a = ReadContents(actual);
    const FileContents e = ReadContents(expected);
    EXPECT_EQ(a.schema, e.schema) << actual.toStdString();
    std::set<std::string> tables;
    for (const auto& [table, rows] : a.rows) {
        tables.insert(table);
    }
    for (const auto& [table, rows] : e.rows) {
        tables.insert(table);
    }
    static const std::vector<std::string> kNone;
    for (const std::string& table : tables) {
        const auto ia = a.rows.find(table);
        const auto ie = e.rows.find(table);
        const std::vector<std::string>& ra = ia == a.rows.end() ? kNone : ia->second;
        const std::vector<std::string>& re = ie == e.rows.end() ? kNone : ie->second;
        if (ra == re) {
            continue;
        }
        const auto [da, de] = std::mismatch(ra.begin(), ra.end(), re.begin(), re.end());
        ADD_FAILURE() << actual.toStdString() << ": table " << table << " has " << ra.size()
                      << " rows, expected " << re.size()
                      << "\n  first differing row:    " << (da == ra.end() ? "(none)" : Shown(*da))
                      << "\n  where expected is:      " << (de == re.end() ? "(none)" : Shown(*de));
    }
}
