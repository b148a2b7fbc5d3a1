// BSTR allocation and text conversions.
#include <cstdlib>
#include <cstring>
#include <limits>

#include "com/runtime.h"

namespace {

// Layout: [uint32 byte length][UTF-16 units][two zero bytes]. The BSTR points at the units.
// The block is 8-byte aligned, so the units start 4 bytes into it.
constexpr UINT kMaxBytes = std::numeric_limits<UINT>::max() - 16;

BSTR AllocBytes(const void* data, UINT bytes) {
    if (bytes > kMaxBytes) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(std::size_t{4} + bytes + 2));
    if (!block) return nullptr;
    std::memcpy(block, &bytes, 4);
    if (data)
        std::memcpy(block + 4, data, bytes);
    else
        std::memset(block + 4, 0, bytes);
    block[4 + bytes] = 0;
    block[5 + bytes] = 0;
    return reinterpret_cast<BSTR>(block + 4);
}

unsigned char* BlockOf(BSTR b) {
    return reinterpret_cast<unsigned char*>(b) - 4;
}

std::size_t Length(const OLECHAR* s) {
    std::size_t n = 0;
    while (s[n]) ++n;
    return n;
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    std::size_t n = Length(psz);
    if (n > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return AllocBytes(psz, static_cast<UINT>(n * sizeof(OLECHAR)));
}

BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch) {
    if (cch > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return AllocBytes(pch, static_cast<UINT>(cch * sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(const char* psz, UINT len) {
    return AllocBytes(psz, len);
}

int SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT cch) {
    if (!pbstr) return FALSE;
    BSTR fresh = SysAllocStringLen(psz, cch);
    if (!fresh) return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

int SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (!pbstr) return FALSE;
    if (!psz) {
        SysFreeString(*pbstr);
        *pbstr = nullptr;
        return TRUE;
    }
    std::size_t n = Length(psz);
    if (n > kMaxBytes / sizeof(OLECHAR)) return FALSE;
    return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(n));
}

UINT SysStringByteLen(BSTR bstr) {
    if (!bstr) return 0;
    UINT bytes;
    std::memcpy(&bytes, BlockOf(bstr), 4);
    return bytes;
}

UINT SysStringLen(BSTR bstr) {
    return SysStringByteLen(bstr) / sizeof(OLECHAR);
}

void SysFreeString(BSTR bstr) {
    if (bstr) std::free(BlockOf(bstr));
}

void* CoTaskMemAlloc(std::size_t cb) {
    return std::malloc(cb ? cb : 1);
}
void* CoTaskMemRealloc(void* pv, std::size_t cb) {
    return std::realloc(pv, cb ? cb : 1);
}
void CoTaskMemFree(void* pv) {
    std::free(pv);
}

}  // extern "C"

namespace orvex::com {

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        auto b = static_cast<unsigned char>(text[i]);
        char32_t c;
        int extra;
        if (b < 0x80) {
            c = b;
            extra = 0;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            extra = 2;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            extra = 3;
        } else {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        bool ok = i + extra < text.size();
        for (int k = 1; ok && k <= extra; ++k) {
            auto cb = static_cast<unsigned char>(text[i + k]);
            if ((cb & 0xC0) != 0x80)
                ok = false;
            else
                c = (c << 6) | (cb & 0x3F);
        }
        // Reject overlong forms, surrogates and values past U+10FFFF.
        static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (ok && (c < kMin[extra] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)) ok = false;
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        i += extra + 1;
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

}  // namespace orvex::com
