// BSTR allocation and task memory.
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
