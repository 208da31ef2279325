#pragma once

// failed-rows.csv as the tests read it back: each row's table, position, error and its values
// by column name.

#include <QString>
#include <QStringList>
#include <algorithm>
#include <map>
#include <vector>

#include "support/CsvReader.h"

struct FailedRow {
    QString table;
    int64_t position = 0;
    int32_t number = 0;
    QString description;
    std::map<QString, CsvField> values;  // by column name in lower case

    // The value of a column; an empty unquoted field (null) when the row has none.
    CsvField Value(const QString& column) const {
        const auto found = values.find(column.toLower());
        return found == values.end() ? CsvField{} : found->second;
    }
};

struct FailedRowsFile {
    QStringList header;
    std::vector<FailedRow> rows;

    std::vector<FailedRow> Of(const QString& table) const {
        std::vector<FailedRow> of;
        for (const FailedRow& row : rows) {
            if (row.table == table) {
                of.push_back(row);
            }
        }
        return of;
    }
    // The positions listed for a table, in increasing order (rows that failed at their save are
    // listed as they fail; those taken back or never reached follow after the copy).
    std::vector<int64_t> Positions(const QString& table) const {
        std::vector<int64_t> positions;
        for (const FailedRow& row : Of(table)) {
            positions.push_back(row.position);
        }
        std::sort(positions.begin(), positions.end());
        return positions;
    }
};

// Reads the file; fails the test when it is not the CSV the run writes (BOM, CRLF, RFC 4180, the
// four fixed columns first, every record as wide as the header).
FailedRowsFile ReadFailedRows(const QString& path);
