#include "platform/cpu_features.h"

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace orvex::platform {
namespace {

#if defined(__x86_64__) || defined(__i386__)
std::uint64_t ReadXcr0() {
    std::uint32_t eax = 0, edx = 0;
    // xgetbv by opcode: no -mxsave needed for this one unit.
    __asm__ volatile(".byte 0x0f, 0x01, 0xd0" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<std::uint64_t>(edx) << 32) | eax;
}

CpuFeatures Probe() {
    CpuFeatures f;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) return f;
    const unsigned max_leaf = eax;
    __cpuid(1, eax, ebx, ecx, edx);
    f.sse2 = (edx & (1u << 26)) != 0;
    f.ssse3 = (ecx & (1u << 9)) != 0;
    f.sse41 = (ecx & (1u << 19)) != 0;
    const bool osxsave = (ecx & (1u << 27)) != 0;
    const bool cpu_avx = (ecx & (1u << 28)) != 0;
    const bool cpu_fma = (ecx & (1u << 12)) != 0;
    const std::uint64_t xcr0 = osxsave ? ReadXcr0() : 0;
    // The wide registers are usable only when the OS saves them on a context switch.
    const bool os_ymm = (xcr0 & 0x6) == 0x6;
    const bool os_zmm = (xcr0 & 0xe6) == 0xe6;
    f.avx = cpu_avx && os_ymm;
    f.fma = cpu_fma && f.avx;
    if (max_leaf >= 7) {
        __cpuid_count(7, 0, eax, ebx, ecx, edx);
        f.avx2 = f.avx && (ebx & (1u << 5)) != 0;
        f.bmi2 = (ebx & (1u << 8)) != 0;
        f.avx512f = os_zmm && (ebx & (1u << 16)) != 0;
        f.avx512bw = f.avx512f && (ebx & (1u << 30)) != 0;
        f.avx512vl = f.avx512f && (ebx & (1u << 31)) != 0;
    }
    return f;
}
#else
CpuFeatures Probe() {
    return {};
}
#endif

}  // namespace

const CpuFeatures& GetCpuFeatures() {
    static const CpuFeatures features = Probe();
    return features;
}

}  // namespace orvex::platform
