// Helpers shared by the card's source files.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "com/types.h"

namespace orvex::sim::decklink {

constexpr HRESULT kRemoved = E_FAIL;  // what every call of a removed card answers (the
                                      // vendor's code for a vanished card is not documented)
constexpr std::int64_t kTicks = 10'000'000;
constexpr std::int64_t kMaxFrameBytes = 1ll << 31;

// floor(a * b / c) without overflow, for c > 0.
inline std::int64_t MulDiv(std::int64_t a, std::int64_t b, std::int64_t c) {
    __int128 p = static_cast<__int128>(a) * b;
    __int128 q = p / c;
    if ((p % c != 0) && (p < 0)) --q;
    return static_cast<std::int64_t>(q);
}

template <class T>
bool Contains(const std::vector<T>& v, T x) {
    return std::find(v.begin(), v.end(), x) != v.end();
}

}  // namespace orvex::sim::decklink
