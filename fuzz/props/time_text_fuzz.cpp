// Times and dates from arbitrary text; the time of day must be valid and read back.
#include <cstdlib>

#include "../fuzz_text.h"
#include "props/value_text.h"

using namespace orvex::props;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = FuzzText(data, size);
    const SystemTime time = ParseTime(text, size % 2 == 0);
    if (time.hour > 23 || time.minute > 59 || time.second > 59 || time.millisecond > 999)
        std::abort();
    const SystemTime again = ParseTime(PrintTime(time, true), false);
    if (again.hour != time.hour || again.minute != time.minute || again.second != time.second ||
        again.millisecond != time.millisecond)
        std::abort();
    PrintTime(time);
    return 0;
}
