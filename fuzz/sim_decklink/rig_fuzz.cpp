// Rig text from a file the user wrote: any bytes must parse or fail cleanly.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/decklink/rig.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvex::sim::decklink;
    Rig rig;
    std::string error;
    if (ParseRig(std::string_view(reinterpret_cast<const char*>(data), size), &rig, &error)) {
        for (const CardSpec& card : rig.cards)
            if (card.model.empty()) __builtin_trap();  // a parsed card always has a model
    } else if (error.empty()) {
        __builtin_trap();  // a refusal always says why
    }
    return 0;
}
