// A value set from text, then read as a run of types chosen by the input: every re-typing
// goes through printing and parsing.
#include "fuzz_text.h"
#include "props/typed_value.h"

using namespace orvex::props;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::size_t ops = size < 8 ? size : 8;
    TypedValue value(FuzzText(data + ops, size - ops));
    for (std::size_t i = 0; i < ops; ++i) {
        switch (data[i] % 12) {
            case 0:
                value.SetText(value.Text());
                break;
            case 1:
                value.GetBool();
                break;
            case 2:
                value.GetInt32();
                break;
            case 3:
                value.GetHex32();
                break;
            case 4:
                value.GetInt64();
                break;
            case 5:
                value.GetHex64();
                break;
            case 6:
                value.GetMeasure();
                break;
            case 7:
                value.GetDouble();
                break;
            case 8:
                value.GetGuid();
                break;
            case 9:
                value.GetPixelFormat();
                break;
            case 10:
                value.GetColour(0x12345678);
                break;
            case 11:
                value.GetTime();
                break;
        }
    }
    value.Text();
    return 0;
}
