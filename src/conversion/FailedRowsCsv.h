#pragma once

// failed-rows.csv: the source rows that the table copies did not save, one line each, so that
// the user can see which rows they were and why, and enter them again by hand.
//
// The file opens in a Korean Excel without garbling: UTF-8 with a byte-order mark, RFC 4180
// (a field holding a comma, a quote, CR or LF is quoted, quotes doubled; lines end in CRLF).
// Columns: 테이블, 위치 (the row's 1-based position in the order the copy read the source),
// 오류 번호, 오류 설명, then the source columns of every table, so that the rows of both tables
// fit under one header; a row fills its own table's columns and leaves the others empty.
//
// Values are written as the source holds them:
//   NULL          an empty field
//   empty text    a quoted empty field ("")
//   integer       plain digits
//   real          the shortest text that reads back to the same double
//   text          as it is
//   blob          "0x" followed by its bytes in upper-case hex ("0x" for an empty blob)
//
// The file is created with its first row only: a run where nothing failed leaves none. Each row
// is flushed as it is written, so that a run that is killed keeps what it had listed.

#include <QFile>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

#include "conversion/OpenClose.h"
#include "data/Engine.h"

// A table the run will copy, with its source columns in the source's order.
struct FailedRowsTable {
    QString tableName;
    QStringList columns;
};

class FailedRowsCsv {
public:
    // Nothing is written until the first row. The header holds the columns of `tables` in their
    // order, each name once (names compared without letter case).
    FailedRowsCsv(QString path, const std::vector<FailedRowsTable>& tables);
    FailedRowsCsv(const FailedRowsCsv&) = delete;
    FailedRowsCsv& operator=(const FailedRowsCsv&) = delete;

    // Writes one failed row: `values[i]` is the value of `columns[i]`; missing values leave
    // their fields empty. Columns the header lacks widen it while the file is not yet written;
    // after that they are left out. False when the file cannot be created or written.
    bool Add(const QString& tableName, int64_t position, const ErrorInfo& error,
             const QStringList& columns, const std::vector<dao::Value>& values);

    // The file, once it holds a row; empty before.
    QString Path() const { return written_ ? path_ : QString(); }
    // The rows written so far.
    int64_t Rows() const { return rows_; }
    // Once a row could not be written: the file's path and why, in Korean; empty before.
    const QString& Problem() const { return problem_; }

    // One value as a field's text, before quoting.
    static QString ValueText(const dao::Value& value);
    // A field as RFC 4180 writes it: quoted when it holds a comma, a quote, CR or LF.
    static QString Quoted(const QString& field);

private:
    void AddColumn(const QString& name);
    int ColumnIndex(const QString& name) const;
    bool Create();

    QString path_;
    QStringList columns_;
    QFile file_;
    bool written_ = false;
    bool failed_ = false;
    QString problem_;
    int64_t rows_ = 0;
};
