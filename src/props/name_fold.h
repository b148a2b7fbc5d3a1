// Case-insensitive names of the attribute tree. Every character is reduced to its low 8 bits
// and OR-ed with 0x20, so "Name" and "NAME" are one name; stored settings rely on exactly
// this folding, so it must not become "smarter".
#pragma once

#include <cstdint>
#include <string_view>

namespace XMLParse {

constexpr char16_t FoldChar(char16_t c) noexcept {
    return static_cast<char16_t>((c & 0xFF) | 0x20);
}

// 64-bit FNV-1a over the folded characters.
constexpr std::uint64_t NameHash(std::u16string_view name) noexcept {
    std::uint64_t h = 14695981039346656037ull;
    for (char16_t c : name) {
        h ^= FoldChar(c);
        h *= 1099511628211ull;
    }
    return h;
}

constexpr bool NamesEqual(std::u16string_view a, std::u16string_view b) noexcept {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldChar(a[i]) != FoldChar(b[i])) return false;
    return true;
}

}  // namespace XMLParse
