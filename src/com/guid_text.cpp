// GUID text forms: "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
#include "com/runtime.h"

namespace {

int HexValue(OLECHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

bool ParseHex(const OLECHAR* s, int digits, std::uint32_t* out) {
    std::uint32_t v = 0;
    for (int i = 0; i < digits; ++i) {
        int h = HexValue(s[i]);
        if (h < 0) return false;
        v = (v << 4) | static_cast<std::uint32_t>(h);
    }
    *out = v;
    return true;
}

// Exactly 38 characters; stops at the first mismatch, so it never reads past a terminator.
bool ParseBraced(const OLECHAR* s, GUID* g) {
    if (s[0] != u'{') return false;
    static constexpr int kGroups[] = {8, 4, 4, 4, 12};
    const OLECHAR* p = s + 1;
    std::uint32_t v[4];
    for (int gi = 0; gi < 4; ++gi) {
        if (!ParseHex(p, kGroups[gi], &v[gi])) return false;
        p += kGroups[gi];
        if (*p != u'-') return false;
        ++p;
    }
    std::uint8_t tail[6];
    for (int i = 0; i < 6; ++i) {
        std::uint32_t b;
        if (!ParseHex(p + 2 * i, 2, &b)) return false;
        tail[i] = static_cast<std::uint8_t>(b);
    }
    p += 12;
    if (p[0] != u'}' || p[1] != 0) return false;
    g->Data1 = v[0];
    g->Data2 = static_cast<std::uint16_t>(v[1]);
    g->Data3 = static_cast<std::uint16_t>(v[2]);
    g->Data4[0] = static_cast<std::uint8_t>(v[3] >> 8);
    g->Data4[1] = static_cast<std::uint8_t>(v[3]);
    for (int i = 0; i < 6; ++i) g->Data4[2 + i] = tail[i];
    return true;
}

}  // namespace

extern "C" {

HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
    if (!pclsid) return E_INVALIDARG;
    *pclsid = GUID_NULL;
    if (!lpsz) return S_OK;  // a null string is the null class identifier
    GUID g;
    if (!ParseBraced(lpsz, &g)) return CO_E_CLASSSTRING;
    *pclsid = g;
    return S_OK;
}

HRESULT IIDFromString(LPCOLESTR lpsz, IID* piid) {
    if (!piid) return E_INVALIDARG;
    *piid = GUID_NULL;
    if (!lpsz) return S_OK;
    GUID g;
    if (!ParseBraced(lpsz, &g)) return E_INVALIDARG;
    *piid = g;
    return S_OK;
}

int StringFromGUID2(REFGUID g, LPOLESTR lpsz, int cchMax) {
    constexpr int kChars = 39;
    if (!lpsz || cchMax < kChars) return 0;
    static constexpr char kHex[] = "0123456789ABCDEF";
    int pos = 0;
    auto put = [&](OLECHAR c) { lpsz[pos++] = c; };
    auto hex = [&](std::uint32_t v, int digits) {
        for (int i = digits - 1; i >= 0; --i) put(static_cast<OLECHAR>(kHex[(v >> (4 * i)) & 0xF]));
    };
    put(u'{');
    hex(g.Data1, 8);
    put(u'-');
    hex(g.Data2, 4);
    put(u'-');
    hex(g.Data3, 4);
    put(u'-');
    hex(g.Data4[0], 2);
    hex(g.Data4[1], 2);
    put(u'-');
    for (int i = 2; i < 8; ++i) hex(g.Data4[i], 2);
    put(u'}');
    put(0);
    return kChars;
}

}  // extern "C"
