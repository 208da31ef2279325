#pragma once

#include <QString>
#include <QTemporaryDir>
#include <optional>
#include <string>
#include <vector>

// Real SQLite files for tests, made in a temporary folder through SQLite's own C API, independent
// of the engine under test.

// Runs SQL on the file, creating it when it is missing. Fails the test on an error.
void ExecSql(const QString& path, const std::string& sql);

// One row of a query's result, each column as SQLite renders it as text; nullopt for null.
using Row = std::vector<std::optional<std::string>>;
std::vector<Row> QueryRows(const QString& path, const std::string& sql);

// The single value of a one-row, one-column query ("" for null).
std::string QueryValue(const QString& path, const std::string& sql);

// The file's bytes, for checking that a file was not written at all.
QByteArray FileBytes(const QString& path);

// A temporary folder that is removed with the object.
class TempFolder {
public:
    TempFolder();
    QString Path() const { return dir_.path(); }
    QString File(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
};
