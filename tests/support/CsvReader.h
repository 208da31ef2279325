#pragma once

// An RFC 4180 reader for the CSV files the tests check: quoted fields with doubled quotes,
// commas and line breaks inside quotes, CRLF line ends. Tests only.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// One field: its text, and whether it was quoted (an empty quoted field is an empty text, an
// empty bare one a null).
struct CsvField {
    QString text;
    bool quoted = false;
    bool operator==(const QString& other) const { return text == other; }
};
using CsvRecord = std::vector<CsvField>;

struct CsvFile {
    bool byteOrderMark = false;
    bool crlfOnly = true;  // every line break outside quotes was CRLF
    std::vector<CsvRecord> records;
};

// Parses UTF-8 bytes; nullopt, with `why`, when they are not well-formed RFC 4180.
std::optional<CsvFile> ParseCsv(const QByteArray& bytes, QString* why = nullptr);

// Reads and parses a file; fails the test when it cannot.
CsvFile ReadCsv(const QString& path);
