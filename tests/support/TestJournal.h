#pragma once

// A run's journal for tests: failed rows go to a real failed-rows.csv (through the writer the
// run uses), statements and table counts are kept in memory.

#include <QString>
#include <memory>
#include <vector>

#include "conversion/FailedRowsCsv.h"
#include "conversion/RunJournal.h"

class TestJournal : public RunJournal {
public:
    struct Statement {
        QString product;
        QString sql;
        int64_t rows = 0;
    };

    // The CSV's path and the tables it expects, as a run gives them.
    TestJournal(const QString& csvPath, const std::vector<FailedRowsTable>& tables)
        : csv_(csvPath, tables) {}

    void StatementExecuted(const QString& product, const QString& sql, int64_t rows,
                           std::chrono::milliseconds) override {
        statements.push_back({product, sql, rows});
    }
    void RowFailed(const QString& tableName, int64_t position, const ErrorInfo& error,
                   const QStringList& columns, const std::vector<dao::Value>& values) override {
        csv_.Add(tableName, position, error, columns, values);
    }
    void TableCopied(const TableCopyCounts& counts) override { tables.push_back(counts); }
    QString FailedRowsPath() const override { return csv_.Path(); }

    int64_t RowsListed() const { return csv_.Rows(); }

    std::vector<Statement> statements;
    std::vector<TableCopyCounts> tables;

private:
    FailedRowsCsv csv_;
};
