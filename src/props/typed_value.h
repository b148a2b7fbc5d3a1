// One attribute value, held as text and as a typed value. Typed setters store the value and
// print the text lazily; a typed getter of another type parses the text and the value keeps
// that type from then on. Not synchronised: the owner's lock guards it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "com/types.h"
#include "props/value_text.h"

namespace orvex::props {

enum class ValueType : std::int32_t {
    kText = 0,
    kBool = 1,
    kInt32 = 2,
    kHex32 = 3,
    kInt64 = 4,
    kHex64 = 5,
    kMeasure = 6,
    kDouble = 7,
    kGuid = 8,
    kPixelFormat = 9,
    kColour = 10,
    kTime = 11,
};

class TypedValue {
public:
    TypedValue() = default;
    explicit TypedValue(std::u16string_view text) : text_(text) {}

    ValueType Type() const { return type_; }
    // The text form, printed from the typed value first when it is stale.
    const std::u16string& Text() const;
    void SetText(std::u16string_view text);

    void SetBool(bool value);
    void SetInt32(std::int32_t value);
    void SetHex32(std::uint32_t value);
    void SetInt64(std::int64_t value);
    void SetHex64(std::uint64_t value);
    void SetMeasure(const Measure& value);
    void SetDouble(double value);
    void SetGuid(const GUID& value);
    void SetPixelFormat(std::uint32_t fcc);
    void SetColour(std::uint32_t colour);
    void SetTime(const SystemTime& time);

    bool GetBool();
    std::int32_t GetInt32();
    std::uint32_t GetHex32();
    std::int64_t GetInt64();
    std::uint64_t GetHex64();
    Measure GetMeasure();
    double GetDouble();
    GUID GetGuid();
    std::uint32_t GetPixelFormat();
    // `default_colour` answers text that names no colour (an empty text still gives 0).
    std::uint32_t GetColour(std::uint32_t default_colour = 0);
    SystemTime GetTime();

private:
    union Storage {
        bool boolean;
        std::int32_t int32;
        std::uint32_t uint32;
        std::int64_t int64;
        std::uint64_t uint64;
        Measure measure;
        double real;
        GUID guid;
        SystemTime time;
    };
    static_assert(sizeof(Storage) == 16);

    void Store(ValueType type) {
        type_ = type;
        text_valid_ = false;
    }
    // True when the value changes type: the caller then parses the (printed) text.
    bool Retype(ValueType type);

    mutable std::u16string text_;
    mutable bool text_valid_ = true;
    ValueType type_ = ValueType::kText;
    Storage value_{.uint64 = 0};
};

}  // namespace orvex::props
