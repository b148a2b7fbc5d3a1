// A value set from text, then read as a run of types chosen by the input: every re-typing
// goes through printing and parsing.
#include "../fuzz_text.h"
#include "props/typed_value.h"

using namespace orvex::props;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using Read = void (*)(TypedValue&);
    static constexpr Read kReads[] = {[](TypedValue& v) { v.SetText(v.Text()); },
                                      [](TypedValue& v) { v.GetBool(); },
                                      [](TypedValue& v) { v.GetInt32(); },
                                      [](TypedValue& v) { v.GetHex32(); },
                                      [](TypedValue& v) { v.GetInt64(); },
                                      [](TypedValue& v) { v.GetHex64(); },
                                      [](TypedValue& v) { v.GetMeasure(); },
                                      [](TypedValue& v) { v.GetDouble(); },
                                      [](TypedValue& v) { v.GetGuid(); },
                                      [](TypedValue& v) { v.GetPixelFormat(); },
                                      [](TypedValue& v) { v.GetColour(0x12345678); },
                                      [](TypedValue& v) { v.GetTime(); }};
    const std::size_t ops = size < 8 ? size : 8;
    TypedValue value(FuzzText(data + ops, size - ops));
    for (std::size_t i = 0; i < ops; ++i) kReads[data[i] % std::size(kReads)](value);
    value.Text();
    return 0;
}
