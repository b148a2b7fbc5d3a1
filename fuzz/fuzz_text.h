// Fuzz input as UTF-16 text: pairs of bytes, so that every code unit (NUL, lone surrogates,
// U+FFEE...) can appear.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

inline std::u16string FuzzText(const std::uint8_t* data, std::size_t size) {
    std::u16string text(size / 2, u'\0');
    if (!text.empty()) std::memcpy(text.data(), data, text.size() * 2);
    return text;
}
