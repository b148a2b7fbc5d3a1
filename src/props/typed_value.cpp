#include "props/typed_value.h"

namespace orvex::props {

const std::u16string& TypedValue::Text() const {
    if (text_valid_) return text_;
    switch (type_) {
        case ValueType::kText:
            break;
        case ValueType::kBool:
            text_ = PrintBool(value_.boolean);
            break;
        case ValueType::kInt32:
            text_ = PrintInt32(value_.int32);
            break;
        case ValueType::kHex32:
            text_ = PrintHex32(value_.uint32);
            break;
        case ValueType::kInt64:
            text_ = PrintInt64(value_.int64);
            break;
        case ValueType::kHex64:
            text_ = PrintHex64(value_.uint64);
            break;
        case ValueType::kMeasure:
            text_ = PrintMeasure(value_.measure);
            break;
        case ValueType::kDouble:
            text_ = PrintDouble(value_.real);
            break;
        case ValueType::kGuid:
            text_ = PrintGuid(value_.guid);
            break;
        case ValueType::kPixelFormat:
            text_ = PrintPixelFormat(value_.uint32);
            break;
        case ValueType::kColour:
            text_ = PrintColour(value_.uint32);
            break;
        case ValueType::kTime:
            text_ = PrintTime(value_.time);
            break;
    }
    text_valid_ = true;
    return text_;
}

void TypedValue::SetText(std::u16string_view text) {
    text_ = text;
    text_valid_ = true;
    type_ = ValueType::kText;
}

bool TypedValue::Retype(ValueType type) {
    if (type_ == type) return false;
    Text();
    type_ = type;
    return true;
}

void TypedValue::SetBool(bool value) {
    value_.boolean = value;
    Store(ValueType::kBool);
}
void TypedValue::SetInt32(std::int32_t value) {
    value_.int32 = value;
    Store(ValueType::kInt32);
}
void TypedValue::SetHex32(std::uint32_t value) {
    value_.uint32 = value;
    Store(ValueType::kHex32);
}
void TypedValue::SetInt64(std::int64_t value) {
    value_.int64 = value;
    Store(ValueType::kInt64);
}
void TypedValue::SetHex64(std::uint64_t value) {
    value_.uint64 = value;
    Store(ValueType::kHex64);
}
void TypedValue::SetMeasure(const Measure& value) {
    value_.measure = value;
    Store(ValueType::kMeasure);
}
void TypedValue::SetDouble(double value) {
    value_.real = value;
    Store(ValueType::kDouble);
}
void TypedValue::SetGuid(const GUID& value) {
    value_.guid = value;
    Store(ValueType::kGuid);
}
void TypedValue::SetPixelFormat(std::uint32_t fcc) {
    value_.uint32 = fcc;
    Store(ValueType::kPixelFormat);
}
void TypedValue::SetColour(std::uint32_t colour) {
    value_.uint32 = colour;
    Store(ValueType::kColour);
}
void TypedValue::SetTime(const SystemTime& time) {
    value_.time = time;
    Store(ValueType::kTime);
}

bool TypedValue::GetBool() {
    if (Retype(ValueType::kBool)) value_.boolean = ParseBool(text_);
    return value_.boolean;
}
std::int32_t TypedValue::GetInt32() {
    if (Retype(ValueType::kInt32)) value_.int32 = ParseInt32(text_);
    return value_.int32;
}
std::uint32_t TypedValue::GetHex32() {
    if (Retype(ValueType::kHex32)) value_.uint32 = ParseHex32(text_);
    return value_.uint32;
}
std::int64_t TypedValue::GetInt64() {
    if (Retype(ValueType::kInt64)) value_.int64 = ParseInt64(text_);
    return value_.int64;
}
std::uint64_t TypedValue::GetHex64() {
    if (Retype(ValueType::kHex64)) value_.uint64 = ParseUInt64(text_);
    return value_.uint64;
}
Measure TypedValue::GetMeasure() {
    if (Retype(ValueType::kMeasure)) value_.measure = ParseMeasure(text_);
    return value_.measure;
}
double TypedValue::GetDouble() {
    if (Retype(ValueType::kDouble)) value_.real = ParseDouble(text_);
    return value_.real;
}
GUID TypedValue::GetGuid() {
    if (Retype(ValueType::kGuid)) value_.guid = ParseGuid(text_);
    return value_.guid;
}
std::uint32_t TypedValue::GetPixelFormat() {
    if (Retype(ValueType::kPixelFormat)) value_.uint32 = ParsePixelFormat(text_);
    return value_.uint32;
}
std::uint32_t TypedValue::GetColour(std::uint32_t default_colour) {
    // Empty text is the zero value of every type, colours included.
    if (Retype(ValueType::kColour))
        value_.uint32 = text_.empty() ? 0 : ParseColour(text_, default_colour);
    return value_.uint32;
}
SystemTime TypedValue::GetTime() {
    if (Retype(ValueType::kTime)) value_.time = ParseTime(text_);
    return value_.time;
}

}  // namespace orvex::props
