// Loop counts of the stress tests. Under ThreadSanitizer a race shows on the first unordered
// pair of accesses, so a tenth of the loop finds what the whole one does; in the other builds
// the full count makes rare interleavings (lost wake-ups, torn updates) likely.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define ORVEX_TEST_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ORVEX_TEST_UNDER_TSAN 1
#endif
#endif

namespace orvex::test {

#ifdef ORVEX_TEST_UNDER_TSAN
inline constexpr bool kUnderThreadSanitizer = true;
#else
inline constexpr bool kUnderThreadSanitizer = false;
#endif

// `n` iterations, or a tenth of them (at least 1) under ThreadSanitizer.
constexpr int StressCount(int n) {
    return kUnderThreadSanitizer ? (n >= 10 ? n / 10 : 1) : n;
}

}  // namespace orvex::test
