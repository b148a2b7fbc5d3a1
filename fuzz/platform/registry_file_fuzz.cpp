// Registry files from arbitrary bytes: a rewrite is stable (writing what was read, then
// reading and writing again, gives the same text), and every value read formats and parses
// back to itself.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry_format.h"

using namespace orvex::platform::regfile;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const Document doc = Parse(bytes);
    const std::string once = Serialize(doc);
    const Document again = Parse(once);
    if (Serialize(again) != once) std::abort();
    if (again.sections.size() != doc.sections.size()) std::abort();
    for (const Section& section : doc.sections) {
        for (const Entry& entry : section.entries) {
            if (!entry.is_value) continue;
            Value back;
            if (!ParseValue(FormatValue(entry.value), &back)) std::abort();
            if (back.name != entry.value.name || back.type != entry.value.type ||
                back.data != entry.value.data) {
                std::abort();
            }
        }
    }
    return 0;
}
