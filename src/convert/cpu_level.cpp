#include "convert/cpu_level.h"

#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/cpu_features.h"

namespace orvex::convert {
namespace {

std::atomic<int> g_level{kLevelNone};  // until the first probe
std::mutex g_level_lock;

}  // namespace

int ProcessorLevelSupported() {
    const platform::CpuFeatures& f = platform::GetCpuFeatures();
    if (f.avx512f && f.avx512bw) return kLevelAvx512;
    if (f.avx2) return kLevelAvx2;
    if (f.sse41 && f.ssse3) return kLevelSse41;
    if (f.ssse3) return kLevelSsse3;
    if (f.sse2) return kLevelSse2;
    return kLevelPortable;
}

int ProcessorLevelFromName(std::string_view name) {
    constexpr std::string_view kNames[kLevelCount] = {"c",     "sse2", "ssse3",
                                                      "sse41", "avx2", "avx512"};
    for (int i = 0; i < kLevelCount; ++i) {
        if (name == kNames[i]) return i;
    }
    return kLevelNone;
}

int ProcessorLevelInit() {
    int level = g_level.load(std::memory_order_acquire);
    if (level != kLevelNone) return level;
    std::lock_guard<std::mutex> lock(g_level_lock);
    level = g_level.load(std::memory_order_relaxed);
    if (level != kLevelNone) return level;
    level = ProcessorLevelSupported();
    if (const char* forced = std::getenv("ORVEX_CPU_LEVEL")) {
        const int wanted = ProcessorLevelFromName(forced);
        if (wanted != kLevelNone && wanted < level) level = wanted;
    }
    g_level.store(level, std::memory_order_release);
    return level;
}

int ProcessorLevel() {
    return ProcessorLevelInit();
}

}  // namespace orvex::convert
