// The SQLite driver's values: columns read into the engine's values and values bound to
// parameters, and the declared types of STRICT tables, which refuse a value when it is written.

#include <cmath>

#include "data/SqliteDriver.h"

namespace dao::detail::sqlite {

int StepToEnd(sqlite3_stmt* stmt) {
    int rc = SQLITE_ROW;
    while (rc == SQLITE_ROW) {
        rc = sqlite3_step(stmt);
    }
    return rc;
}

bool IsTypeRefusal(int code) {
    return code == SQLITE_CONSTRAINT_DATATYPE || PrimaryCode(code) == SQLITE_MISMATCH;
}

// Reads a column into `out`, whose text buffer is reused. The column's value object is fetched
// once and read through the value interface: each column call would enter and leave the
// connection again, and a copy reads every column of every row.
void ReadColumn(sqlite3_stmt* stmt, int column, Value& out) {
    sqlite3_value* value = sqlite3_column_value(stmt, column);
    switch (sqlite3_value_type(value)) {
        case SQLITE_INTEGER:
            out.SetInteger(static_cast<int64_t>(sqlite3_value_int64(value)));
            return;
        case SQLITE_FLOAT:
            out.SetReal(sqlite3_value_double(value));
            return;
        case SQLITE_TEXT: {
            const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(value));
            if (text == nullptr) {
                out.SetText("", 0);  // out of memory while converting
                return;
            }
            out.SetText(text, static_cast<size_t>(sqlite3_value_bytes(value)));
            return;
        }
        case SQLITE_BLOB: {
            const auto* data = static_cast<const char*>(sqlite3_value_blob(value));
            const auto size = static_cast<size_t>(sqlite3_value_bytes(value));
            out.SetBlob(size == 0 ? "" : data, size);
            return;
        }
        default:
            out.SetNull();
            return;
    }
}

// Binds without copying: the value outlives the statement's step.
int BindValue(sqlite3_stmt* stmt, int parameter, const Value& v) {
    switch (v.type()) {
        case Value::Type::Integer:
            return sqlite3_bind_int64(stmt, parameter, v.toInt());
        case Value::Type::Real:
            return sqlite3_bind_double(stmt, parameter, v.toReal());
        case Value::Type::Text:
            return sqlite3_bind_text64(stmt, parameter, v.bytes().data(), v.bytes().size(),
                                       SQLITE_STATIC, SQLITE_UTF8);
        case Value::Type::Blob:
            return sqlite3_bind_blob64(stmt, parameter, v.bytes().data(), v.bytes().size(),
                                       SQLITE_STATIC);
        case Value::Type::Null:
            break;
    }
    return sqlite3_bind_null(stmt, parameter);
}

// ---- Column types of STRICT tables
//
// A STRICT table refuses a value that its column's declared type cannot hold. The classic engine
// refuses such a value when it is assigned to the field, not when the row is saved, and a copy
// relies on that to give the row up at once; so the declared types are read once when a dynaset
// opens, and each write is checked against them.

// The declared type of each column when the table is STRICT; empty for any other table, and
// whenever the types cannot be read (the save still decides then).
std::vector<StrictType> StrictColumnTypes(sqlite3* db, const QString& table, sqlite3_stmt* select,
                                          int16_t fieldCount) {
#if SQLITE_VERSION_NUMBER >= 3037000
    Statement query;
    static const char kSql[] =
        "SELECT \"strict\" FROM pragma_table_list WHERE schema = 'main' AND name = ?1 "
        "COLLATE NOCASE";
    if (sqlite3_prepare_v2(db, kSql, -1, query.out(), nullptr) != SQLITE_OK) {
        return {};
    }
    const QByteArray name = table.toUtf8();
    sqlite3_bind_text(query.get(), 1, name.constData(), static_cast<int>(name.size()),
                      SQLITE_TRANSIENT);
    if (sqlite3_step(query.get()) != SQLITE_ROW || sqlite3_column_int(query.get(), 0) == 0) {
        return {};
    }
    std::vector<StrictType> types(static_cast<size_t>(fieldCount), StrictType::Any);
    for (int16_t i = 0; i < fieldCount; ++i) {
        const char* declared = sqlite3_column_decltype(select, i);
        if (declared == nullptr) {
            continue;
        }
        StrictType& type = types[static_cast<size_t>(i)];
        if (qstricmp(declared, "INT") == 0 || qstricmp(declared, "INTEGER") == 0) {
            type = StrictType::Integer;
        } else if (qstricmp(declared, "REAL") == 0) {
            type = StrictType::Real;
        } else if (qstricmp(declared, "TEXT") == 0) {
            type = StrictType::Text;
        } else if (qstricmp(declared, "BLOB") == 0) {
            type = StrictType::Blob;
        }
    }
    return types;
#else
    Q_UNUSED(db);
    Q_UNUSED(table);
    Q_UNUSED(select);
    Q_UNUSED(fieldCount);
    return {};
#endif
}

// Whether a text reads as a number in full, as SQLite reads it when a numeric column converts a
// text: blanks around it, a sign, digits with at most one point, an exponent.
bool ReadsAsNumber(const std::string& text) {
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    size_t i = 0;
    size_t n = text.size();
    while (i < n && blank(text[i])) {
        ++i;
    }
    while (n > i && blank(text[n - 1])) {
        --n;
    }
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    bool digits = false;
    while (i < n && digit(text[i])) {
        ++i;
        digits = true;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (i < n && digit(text[i])) {
            ++i;
            digits = true;
        }
    }
    if (!digits) {
        return false;
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) {
            ++i;
        }
        if (i == n || !digit(text[i])) {
            return false;
        }
        while (i < n && digit(text[i])) {
            ++i;
        }
    }
    return i == n;
}

// Whether a STRICT column of this type refuses the value for certain. A number in a text that an
// INTEGER column may or may not take whole is left to the save.
bool StrictRefuses(StrictType column, const Value& v) {
    switch (v.type()) {
        case Value::Type::Null:
            return false;
        case Value::Type::Integer:
            return column == StrictType::Blob;
        case Value::Type::Real: {
            if (column == StrictType::Blob) {
                return true;
            }
            if (column != StrictType::Integer) {
                return false;
            }
            // Kept only when it converts to a 64-bit integer without loss; SQLite stores a NaN
            // as null.
            const double r = v.toReal();
            return !std::isnan(r) && !(r > -9.2e18 && r < 9.2e18 &&
                                       r == static_cast<double>(static_cast<int64_t>(r)));
        }
        case Value::Type::Text:
            return column == StrictType::Blob ||
                   ((column == StrictType::Integer || column == StrictType::Real) &&
                    !ReadsAsNumber(v.bytes()));
        case Value::Type::Blob:
            return column != StrictType::Blob && column != StrictType::Any;
    }
    return false;
}

const char* StrictTypeName(StrictType type) {
    switch (type) {
        case StrictType::Integer:
            return "INTEGER";
        case StrictType::Real:
            return "REAL";
        case StrictType::Text:
            return "TEXT";
        case StrictType::Blob:
            return "BLOB";
        case StrictType::Any:
            break;
    }
    return "ANY";
}

const char* ValueTypeName(const Value& v) {
    switch (v.type()) {
        case Value::Type::Integer:
            return "INTEGER";
        case Value::Type::Real:
            return "REAL";
        case Value::Type::Text:
            return "TEXT";
        case Value::Type::Blob:
            return "BLOB";
        case Value::Type::Null:
            break;
    }
    return "NULL";
}

}  // namespace dao::detail::sqlite
