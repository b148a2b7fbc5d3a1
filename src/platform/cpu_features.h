// Processor features, probed once per process.
#pragma once

namespace orvex::platform {

struct CpuFeatures {
    bool sse2 = false;
    bool ssse3 = false;
    bool sse41 = false;
    bool avx = false;
    bool avx2 = false;  // includes the operating system's support for the wide registers
    bool fma = false;
    bool bmi2 = false;
    bool avx512f = false;
    bool avx512bw = false;
    bool avx512vl = false;
};

const CpuFeatures& GetCpuFeatures();

}  // namespace orvex::platform
