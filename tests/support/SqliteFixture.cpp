#include "support/SqliteFixture.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QFile>

void ExecSql(const QString& path, const std::string& sql) {
    sqlite3* db = nullptr;
    const QByteArray name = path.toUtf8();
    ASSERT_EQ(
        sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr),
        SQLITE_OK);
    char* err = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    const std::string message = err ? err : "";
    sqlite3_free(err);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message << "\n" << sql;
}

std::vector<Row> QueryRows(const QString& path, const std::string& sql) {
    std::vector<Row> rows;
    sqlite3* db = nullptr;
    const QByteArray name = path.toUtf8();
    if (sqlite3_open_v2(name.constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << name.constData();
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db) << "\n" << sql;
        sqlite3_close(db);
        return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        Row row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            if (sqlite3_column_type(stmt, i) == SQLITE_NULL) {
                row.emplace_back(std::nullopt);
            } else {
                const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
                row.emplace_back(std::string(text, sqlite3_column_bytes(stmt, i)));
            }
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

std::string QueryValue(const QString& path, const std::string& sql) {
    const std::vector<Row> rows = QueryRows(path, sql);
    if (rows.empty() || rows.front().empty()) {
        ADD_FAILURE() << "no value: " << sql;
        return {};
    }
    return rows.front().front().value_or("");
}

QByteArray FileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    return f.readAll();
}

TempFolder::TempFolder() {
    EXPECT_TRUE(dir_.isValid());
}
