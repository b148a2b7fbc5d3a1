// The main of a benchmark whose cases play for a set time: --seconds=N (default 60, at least
// 0.5) sets it; every other argument goes to the benchmark library.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orvex::bench {

// Takes `option` (e.g. "--seconds=") into *value, at least `least`; every other argument goes
// to the benchmark library.
inline int RunBenchmarksWith(int argc, char** argv, const char* option, double least,
                             double* value) {
    const std::size_t length = std::strlen(option);
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], option, length) == 0)
            *value = std::max(least, std::atof(argv[i] + length));
        else
            rest.push_back(argv[i]);
    }
    int count = static_cast<int>(rest.size());
    ::benchmark::Initialize(&count, rest.data());
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}

inline int RunTimedBenchmarks(int argc, char** argv, double* seconds) {
    return RunBenchmarksWith(argc, argv, "--seconds=", 0.5, seconds);
}

}  // namespace orvex::bench
