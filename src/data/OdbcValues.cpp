// The ODBC driver's values: what the driver gives, in the engine's terms, and what is bound for a
// column of a given type.

#include <QDateTime>
#include <QSqlQuery>
#include <limits>

#include "data/OdbcDriver.h"

namespace dao::detail::odbc {

QString DateTimeText(const QDateTime& dt) {
    return dt.toString(dt.time().msec() != 0 ? QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")
                                             : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A value as the driver gives it, in the engine's terms. Dates and times become ODBC's canonical
// text, which every driver converts back when it is written to a date column.
Value FromVariant(const QVariant& v) {
    switch (v.typeId()) {
        case QMetaType::Bool:
            return Value(v.toBool() ? 1 : 0);
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Long:
        case QMetaType::ULong:
        case QMetaType::LongLong:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
            return Value(static_cast<int64_t>(v.toLongLong()));
        case QMetaType::ULongLong: {
            const qulonglong u = v.toULongLong();
            if (u <= static_cast<qulonglong>(std::numeric_limits<int64_t>::max())) {
                return Value(static_cast<int64_t>(u));
            }
            return Value(static_cast<double>(u));
        }
        case QMetaType::Double:
        case QMetaType::Float:
            return Value(v.toDouble());
        case QMetaType::QString:
            return Value::Text(v.toString());
        case QMetaType::QByteArray: {
            const QByteArray bytes = v.toByteArray();
            return Value::Blob(std::string(bytes.constData(), static_cast<size_t>(bytes.size())));
        }
        case QMetaType::QDate:
            return Value::Text(v.toDate().toString(QStringLiteral("yyyy-MM-dd")));
        case QMetaType::QTime: {
            const QTime t = v.toTime();
            return Value::Text(t.toString(t.msec() != 0 ? QStringLiteral("HH:mm:ss.zzz")
                                                        : QStringLiteral("HH:mm:ss")));
        }
        case QMetaType::QDateTime:
            return Value::Text(DateTimeText(v.toDateTime()));
        default:
            break;
    }
    if (!v.isValid()) {
        return Value();
    }
    return Value::Text(v.toString());
}

QDateTime ParseDateTime(const QString& text) {
    for (const char* format :
         {"yyyy-MM-dd HH:mm:ss.zzz", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-dd HH:mm", "yyyy-MM-dd"}) {
        const QDateTime dt = QDateTime::fromString(text, QString::fromLatin1(format));
        if (dt.isValid()) {
            return dt;
        }
    }
    return QDateTime::fromString(text, Qt::ISODateWithMs);
}

QTime ParseTime(const QString& text) {
    for (const char* format : {"HH:mm:ss.zzz", "HH:mm:ss", "HH:mm"}) {
        const QTime t = QTime::fromString(text, QString::fromLatin1(format));
        if (t.isValid()) {
            return t;
        }
    }
    return {};
}

// A value to bind for a column of the given type. Null is an invalid QVariant: the INSERT writes
// a literal NULL for it rather than binding a typed null, which drivers treat differently. Text
// bound to a date or time column is passed as a date or time when it reads as one, so that the
// driver need not guess the format from its locale.
QVariant ToVariant(const Value& v, QMetaType columnType) {
    switch (v.type()) {
        case Value::Type::Null:
            return {};
        case Value::Type::Integer: {
            const int64_t i = v.toInt();
            // 32-bit parameters suit every driver; the Jet driver knows no 64-bit integers.
            if (i >= std::numeric_limits<int>::min() && i <= std::numeric_limits<int>::max()) {
                return QVariant(static_cast<int>(i));
            }
            return QVariant(static_cast<qlonglong>(i));
        }
        case Value::Type::Real:
            return QVariant(v.toReal());
        case Value::Type::Text: {
            const QString text =
                QString::fromUtf8(v.bytes().data(), static_cast<qsizetype>(v.bytes().size()));
            switch (columnType.id()) {
                case QMetaType::QDateTime:
                    if (const QDateTime dt = ParseDateTime(text); dt.isValid()) {
                        return QVariant(dt);
                    }
                    break;
                case QMetaType::QDate:
                    if (const QDate d = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
                        d.isValid()) {
                        return QVariant(d);
                    }
                    break;
                case QMetaType::QTime:
                    if (const QTime t = ParseTime(text); t.isValid()) {
                        return QVariant(t);
                    }
                    break;
                default:
                    break;
            }
            return QVariant(text);
        }
        case Value::Type::Blob:
            return QVariant(QByteArray(v.bytes().data(), static_cast<qsizetype>(v.bytes().size())));
    }
    return {};
}

// The current row of a query; null columns as invalid QVariants.
QVariantList RowOf(const QSqlQuery& query, int columns) {
    QVariantList row;
    row.reserve(columns);
    for (int i = 0; i < columns; ++i) {
        row << (query.isNull(i) ? QVariant() : query.value(i));
    }
    return row;
}

Error ObjectClosedError() {
    return Error(errObjectInvalid, ErrorKind::ObjectClosed);
}

Error NothingPendingError() {
    return Error(errUpdateWithoutAddNew, ErrorKind::NothingPending);
}

}  // namespace dao::detail::odbc
