#include "support/CsvReader.h"

#include <gtest/gtest.h>

#include <QFile>

std::optional<CsvFile> ParseCsv(const QByteArray& bytes, QString* why) {
    const auto fail = [&](const QString& reason) -> std::optional<CsvFile> {
        if (why != nullptr) {
            *why = reason;
        }
        return std::nullopt;
    };
    CsvFile file;
    QByteArray data = bytes;
    if (data.startsWith("\xEF\xBB\xBF")) {
        file.byteOrderMark = true;
        data.remove(0, 3);
    }
    const QString text = QString::fromUtf8(data);
    CsvRecord record;
    CsvField field;
    bool inQuotes = false;
    bool afterQuote = false;  // a quoted field has ended; only a separator may follow
    bool fieldStarted = false;
    const auto endField = [&] {
        record.push_back(field);
        field = {};
        afterQuote = false;
        fieldStarted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (inQuotes) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                    field.text += c;
                    ++i;
                } else {
                    inQuotes = false;
                    afterQuote = true;
                }
            } else {
                field.text += c;
            }
            continue;
        }
        if (c == QLatin1Char(',')) {
            endField();
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n')) {
                ++i;
            } else {
                file.crlfOnly = false;
            }
            endField();
            file.records.push_back(record);
            record.clear();
        } else if (c == QLatin1Char('"')) {
            if (fieldStarted || afterQuote) {
                return fail(QStringLiteral("a quote inside a bare field at %1").arg(i));
            }
            inQuotes = true;
            field.quoted = true;
            fieldStarted = true;
        } else {
            if (afterQuote) {
                return fail(QStringLiteral("text after a closing quote at %1").arg(i));
            }
            field.text += c;
            fieldStarted = true;
        }
    }
    if (inQuotes) {
        return fail(QStringLiteral("a quote left open"));
    }
    if (fieldStarted || afterQuote || !record.empty()) {
        endField();
        file.records.push_back(record);
    }
    return file;
}

CsvFile ReadCsv(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    QString why;
    const std::optional<CsvFile> parsed = ParseCsv(file.readAll(), &why);
    if (!parsed) {
        ADD_FAILURE() << path.toStdString() << ": " << why.toStdString();
        return {};
    }
    return *parsed;
}
