// Numbers, booleans, measures, GUIDs and pixel formats from arbitrary text; printed values
// must read back.
#include <cstdlib>

#include "../fuzz_text.h"
#include "props/value_text.h"

using namespace orvex::props;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = FuzzText(data, size);
    const bool flag = ParseBool(text);
    if (ParseBool(PrintBool(flag)) != flag) std::abort();
    const std::int32_t i32 = ParseInt32(text);
    if (ParseInt32(PrintInt32(i32)) != i32) std::abort();
    const std::uint32_t h32 = ParseHex32(text);
    if (ParseHex32(PrintHex32(h32)) != h32) std::abort();
    const std::int64_t i64 = ParseInt64(text);
    if (ParseInt64(PrintInt64(i64)) != i64) std::abort();
    const std::uint64_t h64 = ParseUInt64(text);
    if (ParseUInt64(PrintHex64(h64)) != h64) std::abort();
    const GUID guid = ParseGuid(text);
    if (!(ParseGuid(PrintGuid(guid)) == guid)) std::abort();
    PrintDouble(ParseDouble(text));
    PrintDouble(ParseDouble(text), static_cast<int>(size % 120) - 10);
    PrintMeasure(ParseMeasure(text));
    PrintPixelFormat(ParsePixelFormat(text));
    return 0;
}
