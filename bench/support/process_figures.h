// Figures of the whole benchmark process: its processor time, and a count of every heap
// allocation (glibc lets a program replace malloc). Include this header in exactly one source
// file of a benchmark program; the program chooses what to count by setting the hook.
#pragma once

#include <sys/resource.h>

#include <atomic>
#include <cstddef>

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);

namespace orvex::bench {

// Called on every allocation of every thread while set; it must not allocate.
inline std::atomic<void (*)()> g_allocation_hook{nullptr};

inline void AllocationSeen() {
    if (auto hook = g_allocation_hook.load(std::memory_order_relaxed)) hook();
}

// User and system processor time of the process, in seconds.
inline double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace orvex::bench

extern "C" void* malloc(size_t n) {
    orvex::bench::AllocationSeen();
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t m) {
    orvex::bench::AllocationSeen();
    return __libc_calloc(n, m);
}
extern "C" void* realloc(void* p, size_t n) {
    orvex::bench::AllocationSeen();
    return __libc_realloc(p, n);
}
