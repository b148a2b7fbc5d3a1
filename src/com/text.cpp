// Text conversions at the edge of the COM world, and the GUID text form the module writes
// (registry keys, messages).
#include "platform/text.h"
#include "com/runtime.h"

namespace orvex::com {

std::string ToUtf8(std::u16string_view text) {
    return platform::ToUtf8(text);
}
std::u16string ToUtf16(std::string_view text) {
    return platform::FromUtf8(text);
}

std::u16string GuidToString(REFGUID guid) {
    OLECHAR buf[39];
    StringFromGUID2(guid, buf, 39);
    return std::u16string(reinterpret_cast<const char16_t*>(buf), 38);
}

}  // namespace orvex::com
