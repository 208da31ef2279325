#include "conversion/FailedRowsCsv.h"

#include <QByteArray>
#include <QLocale>
#include <utility>

#include "conversion/Platform.h"

namespace {

const QStringList kFixedColumns = {QStringLiteral("테이블"), QStringLiteral("위치"),
                                   QStringLiteral("오류 번호"), QStringLiteral("오류 설명")};

}  // namespace

FailedRowsCsv::FailedRowsCsv(QString path, const std::vector<FailedRowsTable>& tables)
    : path_(std::move(path)) {
    for (const FailedRowsTable& table : tables) {
        for (const QString& name : table.columns) {
            AddColumn(name);
        }
    }
}

void FailedRowsCsv::AddColumn(const QString& name) {
    if (ColumnIndex(name) < 0) {
        columns_ << name;
    }
}

int FailedRowsCsv::ColumnIndex(const QString& name) const {
    for (qsizetype i = 0; i < columns_.size(); ++i) {
        if (columns_[i].compare(name, Qt::CaseInsensitive) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

QString FailedRowsCsv::ValueText(const dao::Value& value) {
    switch (value.type()) {
        case dao::Value::Type::Null:
            return {};
        case dao::Value::Type::Integer:
            return QString::number(value.toInt());
        case dao::Value::Type::Real:
            return QString::number(value.toReal(), 'g', QLocale::FloatingPointShortest);
        case dao::Value::Type::Text:
            return QString::fromUtf8(value.bytes().data(),
                                     static_cast<qsizetype>(value.bytes().size()));
        case dao::Value::Type::Blob:
            return QStringLiteral("0x") +
                   QString::fromLatin1(
                       QByteArray::fromRawData(value.bytes().data(),
                                               static_cast<qsizetype>(value.bytes().size()))
                           .toHex()
                           .toUpper());
    }
    return {};
}

QString FailedRowsCsv::Quoted(const QString& field) {
    const bool quote = field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"')) ||
                       field.contains(QLatin1Char('\r')) || field.contains(QLatin1Char('\n'));
    if (!quote) {
        return field;
    }
    QString doubled = field;
    doubled.replace(QStringLiteral("\""), QStringLiteral("\"\""));
    return QLatin1Char('"') + doubled + QLatin1Char('"');
}

bool FailedRowsCsv::Create() {
    file_.setFileName(path_);
    if (!file_.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return false;
    }
    QStringList header;
    for (const QString& name : kFixedColumns + columns_) {
        header << Quoted(name);
    }
    QByteArray bytes("\xEF\xBB\xBF");
    bytes += (header.join(QLatin1Char(',')) + kCrLf).toUtf8();
    return file_.write(bytes) == bytes.size();
}

bool FailedRowsCsv::Add(const QString& tableName, int64_t position, const ErrorInfo& error,
                        const QStringList& columns, const std::vector<dao::Value>& values) {
    if (failed_) {
        return false;
    }
    if (!file_.isOpen()) {
        for (const QString& name : columns) {
            AddColumn(name);
        }
        if (!Create()) {
            failed_ = true;
            file_.close();
            return false;
        }
    }
    // Null and the other table's columns both leave a field empty; an empty text is quoted, so
    // that a reader can tell it from null.
    QStringList fields(columns_.size());
    for (qsizetype i = 0; i < columns.size() && i < static_cast<qsizetype>(values.size()); ++i) {
        const int at = ColumnIndex(columns[i]);
        if (at < 0) {
            continue;
        }
        const dao::Value& value = values[static_cast<size_t>(i)];
        const QString text = ValueText(value);
        fields[at] = text.isEmpty() && value.type() == dao::Value::Type::Text
                         ? QStringLiteral("\"\"")
                         : Quoted(text);
    }
    QStringList line = {Quoted(tableName), QString::number(position), QString::number(error.number),
                        Quoted(error.description)};
    line += fields;
    const QByteArray bytes = (line.join(QLatin1Char(',')) + kCrLf).toUtf8();
    // Flushed at once: a run that is killed keeps every row it had listed.
    if (file_.write(bytes) != bytes.size() || !file_.flush()) {
        failed_ = true;
        return false;
    }
    written_ = true;
    ++rows_;
    return true;
}
