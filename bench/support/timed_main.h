// The main of a benchmark whose cases play for a set time: --seconds=N (default 60, at least
// 0.5) sets it; every other argument goes to the benchmark library.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orvex::bench {

inline int RunTimedBenchmarks(int argc, char** argv, double* seconds) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            *seconds = std::max(0.5, std::atof(argv[i] + 10));
        else
            rest.push_back(argv[i]);
    }
    int count = static_cast<int>(rest.size());
    ::benchmark::Initialize(&count, rest.data());
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}

}  // namespace orvex::bench
