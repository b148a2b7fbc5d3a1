// Large registry files from small inputs (the rest repeated up to a size the first byte picks):
// a line shape that costs more than its length trips the time limit. Rewrites are stable.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_format.h"

using namespace orvex::platform::regfile;

// A per-input time limit unless the command line gives one: linear reading of half a
// megabyte takes well under a second, even instrumented.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    for (int i = 1; i < *argc; ++i) {
        if (std::strncmp((*argv)[i], "-timeout=", 9) == 0) return 0;
    }
    static std::vector<char*> args;
    static char limit[] = "-timeout=20";
    args.assign(*argv, *argv + *argc);
    args.insert(args.begin() + 1, limit);
    args.push_back(nullptr);
    *argc += 1;
    *argv = args.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    const std::size_t target = (1 + data[0] % 8) * (64 << 10);
    const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Fuzz]\n";
    text.reserve(target + body.size());
    while (text.size() < target) text += body;

    const std::string once = Serialize(Parse(text));
    if (Serialize(Parse(once)) != once) std::abort();
    return 0;
}
