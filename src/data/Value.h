#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>

namespace dao {

// A field value: null, an integer, a real, a text (UTF-8) or a blob. Dates, booleans and
// decimals are stored the way the file stores them.
class Value {
public:
    enum class Type : uint8_t { Null, Integer, Real, Text, Blob };

    Value() = default;  // null
    Value(int64_t v) : type_(Type::Integer), int_(v) {}
    Value(int v) : type_(Type::Integer), int_(v) {}
    Value(double v) : type_(Type::Real), real_(v) {}
    static Value Null() { return Value(); }
    static Value Text(std::string utf8);
    static Value Text(const QString& text);
    static Value Blob(std::string bytes);

    // Assign in place. A value that is filled again and again (one field of row after row) keeps
    // its buffer, so a text or blob needs no new allocation once the buffer is large enough.
    void SetNull();
    void SetInteger(int64_t v);
    void SetReal(double v);
    void SetText(const char* utf8, size_t size);
    void SetBlob(const char* bytes, size_t size);

    Type type() const { return type_; }
    bool isNull() const { return type_ == Type::Null; }
    int64_t toInt() const;     // integers; reals truncated; texts parsed; null 0
    double toReal() const;     // reals; integers converted; texts parsed; null 0
    QString toString() const;  // texts; numbers in plain digits; null empty
    // The UTF-8 text or the blob's bytes; empty for the other types.
    const std::string& bytes() const { return bytes_; }

    bool operator==(const Value& other) const;

private:
    Type type_ = Type::Null;
    int64_t int_ = 0;
    double real_ = 0.0;
    std::string bytes_;
};

}  // namespace dao
