#include "data/Value.h"

#include <cstdlib>
#include <utility>

namespace dao {

Value Value::Text(std::string utf8) {
    Value v;
    v.type_ = Type::Text;
    v.bytes_ = std::move(utf8);
    return v;
}

Value Value::Text(const QString& text) {
    return Text(text.toStdString());
}

Value Value::Blob(std::string bytes) {
    Value v;
    v.type_ = Type::Blob;
    v.bytes_ = std::move(bytes);
    return v;
}

void Value::SetNull() {
    type_ = Type::Null;
    int_ = 0;
    real_ = 0.0;
    bytes_.clear();
}

void Value::SetInteger(int64_t v) {
    SetNull();
    type_ = Type::Integer;
    int_ = v;
}

void Value::SetReal(double v) {
    SetNull();
    type_ = Type::Real;
    real_ = v;
}

void Value::SetText(const char* utf8, size_t size) {
    SetNull();
    type_ = Type::Text;
    bytes_.assign(utf8, size);
}

void Value::SetBlob(const char* bytes, size_t size) {
    SetNull();
    type_ = Type::Blob;
    bytes_.assign(bytes, size);
}

int64_t Value::toInt() const {
    switch (type_) {
        case Type::Integer:
            return int_;
        case Type::Real:
            return static_cast<int64_t>(real_);
        case Type::Text:
            return std::strtoll(bytes_.c_str(), nullptr, 10);
        default:
            return 0;
    }
}

double Value::toReal() const {
    switch (type_) {
        case Type::Integer:
            return static_cast<double>(int_);
        case Type::Real:
            return real_;
        case Type::Text:
            return std::strtod(bytes_.c_str(), nullptr);
        default:
            return 0.0;
    }
}

QString Value::toString() const {
    switch (type_) {
        case Type::Integer:
            return QString::number(int_);
        case Type::Real:
            return QString::number(real_, 'g', 17);
        case Type::Text:
        case Type::Blob:
            return QString::fromUtf8(bytes_.data(), static_cast<qsizetype>(bytes_.size()));
        default:
            return {};
    }
}

bool Value::operator==(const Value& other) const {
    if (type_ != other.type_) {
        return false;
    }
    switch (type_) {
        case Type::Null:
            return true;
        case Type::Integer:
            return int_ == other.int_;
        case Type::Real:
            return real_ == other.real_;
        default:
            return bytes_ == other.bytes_;
    }
}

}  // namespace dao
