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
            return Value(int64_t{v.toBool() ? 1 : 0});
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

Value FromColumn(const QVariant& v, QMetaType columnType, bool exact) {
    if (!exact && v.typeId() == QMetaType::QString) {
        bool ok = false;
        switch (columnType.id()) {
            case QMetaType::Double:
            case QMetaType::Float:
                if (const double d = v.toString().toDouble(&ok); ok) {
                    return Value(d);
                }
                break;
            case QMetaType::LongLong:
            case QMetaType::Int:
                if (const qlonglong i = v.toString().toLongLong(&ok); ok) {
                    return Value(static_cast<int64_t>(i));
                }
                break;
            default:
                break;
        }
    }
    return FromVariant(v);
}

QTime ParseTime(const QString& text);

// The date and time fields of a text, in UTC: it has no daylight-saving gap, so the fields stay as
// written (a local time in a gap would be moved), and QODBC binds them as they are.
QDateTime ParseDateTime(const QString& text) {
    const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
    if (!date.isValid()) {
        return {};
    }
    QString rest = text.mid(10).trimmed();
    if (rest.startsWith(QLatin1Char('T'))) {
        rest.remove(0, 1);
    }
    const QTime time = rest.isEmpty() ? QTime(0, 0) : ParseTime(rest);
    return time.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
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
            // A Yes/No column takes a boolean (SQL_BIT).
            if (columnType.id() == QMetaType::Bool) {
                return QVariant(i != 0);
            }
            // 32-bit parameters suit every driver; the Jet driver knows no 64-bit integers
            // (SQL_C_SBIGINT), so a larger value goes as its decimal text, which the driver
            // converts to the column's type exactly or refuses.
            // https://learn.microsoft.com/en-us/sql/odbc/microsoft/microsoft-access-data-types
            if (i >= std::numeric_limits<int>::min() && i <= std::numeric_limits<int>::max()) {
                return QVariant(static_cast<int>(i));
            }
            if (columnType.id() == QMetaType::LongLong || columnType.id() == QMetaType::ULongLong) {
                return QVariant(static_cast<qlonglong>(i));
            }
            return QVariant(QString::number(i));
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

QString ColumnName(QString name) {
    if (const qsizetype nul = name.indexOf(QChar(u'\0')); nul >= 0) {
        name.truncate(nul);
    }
    return name;
}

Error ObjectClosedError() {
    return Error(errObjectInvalid, ErrorKind::ObjectClosed);
}

Error NothingPendingError() {
    return Error(errUpdateWithoutAddNew, ErrorKind::NothingPending);
}

}  // namespace dao::detail::odbc
