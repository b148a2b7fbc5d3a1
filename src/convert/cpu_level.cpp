#include "convert/cpu_level.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <mutex>

#include "platform/cpu_features.h"

namespace orvex::convert {
namespace {

std::atomic<int> g_level{kLevelNone};  // until the first probe
std::atomic<bool> g_forced{false};     // set with g_level, before it
std::mutex g_level_lock;

constexpr const char* kNames[kLevelCount] = {"c", "sse2", "ssse3", "sse41", "avx2", "avx512"};

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
        if (wanted != kLevelNone) {
            level = std::min(wanted, level);
            g_forced.store(true, std::memory_order_relaxed);
        }
    }
    g_level.store(level, std::memory_order_release);
    return level;
}

int ProcessorLevel() {
    return ProcessorLevelInit();
}

bool ProcessorLevelForced() {
    ProcessorLevelInit();  // its release store orders g_forced before the level
    return g_forced.load(std::memory_order_relaxed);
}

const char* ProcessorLevelName(int level) {
    return level >= 0 && level < kLevelCount ? kNames[level] : "none";
}

}  // namespace orvex::convert
