#pragma once

// What an SQLite file holds, read through SQLite's own C API: every object's schema and every
// table's rows, each value with its storage type and exact bytes. Two files compare equal when
// they hold the same schema and the same rows, in whatever order the rows were stored.

#include <QString>
#include <map>
#include <string>
#include <vector>

struct FileContents {
    std::map<std::string, std::string> schema;             // object name: type and CREATE text
    std::map<std::string, std::vector<std::string>> rows;  // table name: rendered rows, sorted
};

// Reads the file; fails the test when it cannot be read.
FileContents ReadContents(const QString& path);

// Fails the test, naming the first differing rows, unless both files hold the same.
void ExpectSameContents(const QString& actual, const QString& expected);
