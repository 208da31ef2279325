#include "conversion/FailedRowsCsv.h"

#include <QByteArray>
#include <QDir>
#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>
#include <utility>

#include "conversion/Platform.h"
#include "conversion/RunFolder.h"

namespace {

const QStringList kFixedColumns = {QStringLiteral("테이블"), QStringLiteral("위치"),
                                   QStringLiteral("오류 번호"), QStringLiteral("오류 설명")};

QString Hex(const std::string& bytes) {
    return QStringLiteral("0x") +
           QString::fromLatin1(
               QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()))
                   .toHex()
                   .toUpper());
}

// SQLite tells names apart by every letter but the ASCII ones ("É" and "é" are two
// columns), and Jet never holds two names that differ in case only: folding ASCII alone keeps
// every column of either.
bool SameName(const QString& a, const QString& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        QChar x = a[i];
        QChar y = b[i];
        if (x != y) {
            const auto fold = [](QChar c) {
                return c >= QLatin1Char('A') && c <= QLatin1Char('Z')
                           ? QChar(c.unicode() + ('a' - 'A'))
                           : c;
            };
            if (fold(x) != fold(y)) {
                return false;
            }
        }
    }
    return true;
}

// A spreadsheet runs a field that starts with one of these as a formula, unless it reads as a
// number ("-5", "+1.5e3").
bool RunsAsFormula(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"));
    if (text.isEmpty()) {
        return false;
    }
    switch (text[0].unicode()) {
        case '=':
        case '+':
        case '-':
        case '@':
        case '\t':
        case '\r':
            return !number.match(text).hasMatch();
        default:
            return false;
    }
}

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
        if (SameName(columns_[i], name)) {
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
        case dao::Value::Type::Text: {
            // Bytes that are no UTF-8 would turn into U+FFFD and be lost; as hex they can be
            // recovered.
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            const QString text = utf8(
                QByteArrayView(value.bytes().data(), static_cast<qsizetype>(value.bytes().size())));
            if (utf8.hasError()) {
                return Hex(value.bytes());
            }
            // The common guard for CSV files opened in a spreadsheet: a leading quote makes the
            // cell text.
            return RunsAsFormula(text) ? QLatin1Char('\'') + text : text;
        }
        case dao::Value::Type::Blob:
            return Hex(value.bytes());
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
    MakePrivate(path_);
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
            problem_ = QDir::toNativeSeparators(path_) + QStringLiteral(" (") +
                       file_.errorString() + QLatin1Char(')');
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
        problem_ = QDir::toNativeSeparators(path_) + QStringLiteral(" (") + file_.errorString() +
                   QLatin1Char(')');
        return false;
    }
    written_ = true;
    ++rows_;
    return true;
}
