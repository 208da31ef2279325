#include "support/FailedRows.h"

#include <gtest/gtest.h>

FailedRowsFile ReadFailedRows(const QString& path) {
    FailedRowsFile result;
    const CsvFile csv = ReadCsv(path);
    EXPECT_TRUE(csv.byteOrderMark) << path.toStdString();
    EXPECT_TRUE(csv.crlfOnly) << path.toStdString();
    if (csv.records.empty()) {
        ADD_FAILURE() << "no header in " << path.toStdString();
        return result;
    }
    for (const CsvField& field : csv.records.front()) {
        result.header << field.text;
    }
    const QStringList fixed = {QStringLiteral("테이블"), QStringLiteral("위치"),
                               QStringLiteral("오류 번호"), QStringLiteral("오류 설명")};
    EXPECT_EQ(result.header.mid(0, 4), fixed);
    for (size_t i = 1; i < csv.records.size(); ++i) {
        const CsvRecord& record = csv.records[i];
        EXPECT_EQ(record.size(), static_cast<size_t>(result.header.size())) << "record " << i;
        if (record.size() < 4) {
            continue;
        }
        FailedRow row;
        row.table = record[0].text;
        bool ok = false;
        row.position = record[1].text.toLongLong(&ok);
        EXPECT_TRUE(ok) << record[1].text.toStdString();
        row.number = record[2].text.toInt(&ok);
        EXPECT_TRUE(ok) << record[2].text.toStdString();
        row.description = record[3].text;
        for (size_t column = 4; column < record.size() && column < size_t(result.header.size());
             ++column) {
            row.values[result.header[static_cast<qsizetype>(column)].toLower()] = record[column];
        }
        result.rows.push_back(row);
    }
    return result;
}
