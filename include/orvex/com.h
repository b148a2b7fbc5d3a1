// The COM types a host of the Orvex SDK needs, with the Windows layout and values: integer
// types, HRESULT and its codes, GUID, IUnknown, IClassFactory, BSTR, and the runtime functions
// a host calls (BSTR allocation, apartment initialisation, object creation, GUID text). On
// Linux these come from the SDK's own COM runtime library (libOrvexCom); on Windows they are
// the system's (ole32, oleaut32). This header stands alone and needs nothing but the C++
// standard library.
//
// On Windows the integer types are the system's own (LONG and ULONG are "long"), and OLECHAR
// is char16_t everywhere: the same UTF-16 code units as the system's WCHAR, so a BSTR of the
// system passes as is. A translation unit that includes <windows.h> before this header gets
// the system's declarations of the shared names (GUID, IUnknown, BSTR as WCHAR*, the error
// codes) and only the SDK's additions from here.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(_WIN32)
#define ORVEX_STDCALL __stdcall
#define ORVEX_EXPORT extern "C" __declspec(dllexport)
#define ORVEX_COM_API
#if defined(_WINDOWS_) || defined(_WINDEF_) || defined(_OBJBASE_H_)
#define ORVEX_SYSTEM_COM_TYPES 1
#include <objbase.h>
#include <oleauto.h>
#endif
#else
#define ORVEX_STDCALL
#define ORVEX_EXPORT extern "C" __attribute__((visibility("default")))
#if defined(ORVEX_BUILDING_COM)
#define ORVEX_COM_API __attribute__((visibility("default")))
#else
#define ORVEX_COM_API
#endif
#endif

#ifndef ORVEX_SYSTEM_COM_TYPES
#define STDMETHODCALLTYPE ORVEX_STDCALL
#define STDMETHOD(name) virtual HRESULT STDMETHODCALLTYPE name
#define STDMETHOD_(type, name) virtual type STDMETHODCALLTYPE name
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE

#if defined(_WIN32)
// The system's own types (long is 32 bits there), so that the SDK's names mangle alike in
// translation units with and without <windows.h>.
using DWORD = unsigned long;
using LONG = long;
using ULONG = unsigned long;
using HRESULT = long;
using BOOL = int;
#else
// Windows widths: LONG and ULONG are 32 bits on every platform (unlike Linux "long").
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using HRESULT = std::int32_t;
using BOOL = std::int32_t;
#endif
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using UINT = std::uint32_t;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using DWORD_PTR = std::uintptr_t;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define VARIANT_TRUE (static_cast<VARIANT_BOOL>(-1))
#define VARIANT_FALSE (static_cast<VARIANT_BOOL>(0))

using OLECHAR = char16_t;
#define OLESTR(s) u##s
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;

#endif  // !ORVEX_SYSTEM_COM_TYPES

using REFERENCE_TIME = long long;

constexpr HRESULT MakeHResult(std::uint32_t v) {
    return static_cast<HRESULT>(v);
}

#ifndef ORVEX_SYSTEM_COM_TYPES
#define SUCCEEDED(hr) (static_cast<HRESULT>(hr) >= 0)
#define FAILED(hr) (static_cast<HRESULT>(hr) < 0)

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeHResult(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeHResult(0x80004002u);
constexpr HRESULT E_POINTER = MakeHResult(0x80004003u);
constexpr HRESULT E_ABORT = MakeHResult(0x80004004u);
constexpr HRESULT E_FAIL = MakeHResult(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeHResult(0x8000FFFFu);
constexpr HRESULT E_ACCESSDENIED = MakeHResult(0x80070005u);
constexpr HRESULT E_HANDLE = MakeHResult(0x80070006u);
constexpr HRESULT E_OUTOFMEMORY = MakeHResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeHResult(0x80070057u);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeHResult(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeHResult(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeHResult(0x80040154u);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeHResult(0x800401F0u);
constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8u);
constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9u);
constexpr HRESULT CO_E_CLASSSTRING = MakeHResult(0x800401F3u);
constexpr HRESULT RPC_E_CHANGED_MODE = MakeHResult(0x80010106u);

// Win32 error codes used by the module, and their HRESULT wrapping.
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_INVALID_DATA = 13;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_ALREADY_EXISTS = 183;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_BUSY = 170;
constexpr LONG ERROR_FILE_TOO_LARGE = 223;  // the file size exceeds the limit allowed
constexpr LONG ERROR_NOT_FOUND = 1168;
constexpr LONG ERROR_INVALID_INDEX = 1413;
constexpr LONG ERROR_TIMEOUT = 1460;
constexpr LONG ERROR_EMPTY = 4306;
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_LOCK_FAILED = 167;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_PROC_NOT_FOUND = 127;

constexpr HRESULT HRESULT_FROM_WIN32(LONG err) {
    return err <= 0
               ? static_cast<HRESULT>(err)
               : static_cast<HRESULT>((static_cast<std::uint32_t>(err) & 0xFFFFu) | 0x80070000u);
}

#endif  // !ORVEX_SYSTEM_COM_TYPES

namespace orvex::com::detail {
constexpr HRESULT FromWin32(LONG err) {
    return MakeHResult((static_cast<std::uint32_t>(err) & 0xFFFFu) | 0x80070000u);
}
}  // namespace orvex::com::detail

// Codes named by the module's own contracts.
constexpr HRESULT E_INVALID_INDEX = orvex::com::detail::FromWin32(1413);  // 0x80070585
constexpr HRESULT E_NOT_FOUND = orvex::com::detail::FromWin32(1168);      // 0x80070490
constexpr HRESULT E_BUSY = orvex::com::detail::FromWin32(170);            // 0x800700AA
constexpr HRESULT E_TIMEOUT = orvex::com::detail::FromWin32(1460);        // 0x800705B4
constexpr HRESULT E_FILE_NOT_FOUND = orvex::com::detail::FromWin32(2);    // 0x80070002
constexpr HRESULT E_NO_DEVICE = orvex::com::detail::FromWin32(4306);      // 0x800710D2
constexpr HRESULT E_INSUFFICIENT_BUFFER = orvex::com::detail::FromWin32(122);
constexpr HRESULT E_NO_DEVICE_OPEN = MakeHResult(0x80040227u);
constexpr HRESULT E_OUTPUT_NOT_RUNNING = MakeHResult(0x80040226u);
constexpr HRESULT E_NO_USABLE_MODE = MakeHResult(0x80040248u);

#ifndef ORVEX_SYSTEM_COM_TYPES
#if defined(_WIN32)
// The system's tag and field types, for the same mangled names as <windows.h> gives.
#define ORVEX_GUID_TAG _GUID
#else
#define ORVEX_GUID_TAG GUID
#endif
struct ORVEX_GUID_TAG {
    DWORD Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];

    friend constexpr bool operator==(const ORVEX_GUID_TAG& a, const ORVEX_GUID_TAG& b) {
        if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
        for (int i = 0; i < 8; ++i)
            if (a.Data4[i] != b.Data4[i]) return false;
        return true;
    }
};
#if defined(_WIN32)
using GUID = _GUID;
#endif
#undef ORVEX_GUID_TAG
static_assert(sizeof(GUID) == 16);
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
#endif  // !ORVEX_SYSTEM_COM_TYPES

// Compile-time parse of "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"; a malformed text fails the
// build because the parse runs in a constant expression.
namespace orvex::com::detail {
constexpr std::uint32_t HexDigit(char c) {
    return c >= '0' && c <= '9'   ? static_cast<std::uint32_t>(c - '0')
           : c >= 'a' && c <= 'f' ? static_cast<std::uint32_t>(c - 'a' + 10)
           : c >= 'A' && c <= 'F' ? static_cast<std::uint32_t>(c - 'A' + 10)
                                  : throw "bad hex digit in GUID literal";
}
constexpr std::uint32_t HexAt(const char* s, int pos, int digits) {
    std::uint32_t v = 0;
    for (int i = 0; i < digits; ++i) v = (v << 4) | HexDigit(s[pos + i]);
    return v;
}
}  // namespace orvex::com::detail

template <std::size_t N>
constexpr GUID MakeGuid(const char (&s)[N]) {
    static_assert(N == 37, "GUID literal must be 36 characters");
    using orvex::com::detail::HexAt;
    if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') throw "bad GUID literal";
    GUID g{HexAt(s, 0, 8),
           static_cast<std::uint16_t>(HexAt(s, 9, 4)),
           static_cast<std::uint16_t>(HexAt(s, 14, 4)),
           {}};
    g.Data4[0] = static_cast<std::uint8_t>(HexAt(s, 19, 2));
    g.Data4[1] = static_cast<std::uint8_t>(HexAt(s, 21, 2));
    for (int i = 0; i < 6; ++i) g.Data4[2 + i] = static_cast<std::uint8_t>(HexAt(s, 24 + 2 * i, 2));
    return g;
}

// Interface identifiers are attached to interface types by specialising this trait, so that
// templates (CComPtr, QueryInterface helpers, interface maps) can find them.
template <class T>
struct InterfaceIdOf;

template <class T>
constexpr const IID& IidOf() {
    return InterfaceIdOf<T>::value;
}

#define ORVEX_DECLARE_IID(Interface, text)                   \
    inline constexpr IID IID_##Interface = MakeGuid(text);   \
    template <>                                              \
    struct InterfaceIdOf<Interface> {                        \
        static constexpr const IID& value = IID_##Interface; \
    }

#ifdef ORVEX_SYSTEM_COM_TYPES
template <>
struct InterfaceIdOf<IUnknown> {
    static constexpr const IID& value = IID_IUnknown;
};
template <>
struct InterfaceIdOf<IClassFactory> {
    static constexpr const IID& value = IID_IClassFactory;
};
#else
struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) = 0;
    STDMETHOD_(ULONG, AddRef)() = 0;
    STDMETHOD_(ULONG, Release)() = 0;

    template <class Q>
    HRESULT QueryInterface(Q** pp) {
        return QueryInterface(IidOf<Q>(), reinterpret_cast<void**>(pp));
    }

protected:
    ~IUnknown() = default;
};
ORVEX_DECLARE_IID(IUnknown, "00000000-0000-0000-c000-000000000046");

struct IClassFactory : IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    STDMETHOD(LockServer)(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};
ORVEX_DECLARE_IID(IClassFactory, "00000001-0000-0000-c000-000000000046");

// Class context flags of CoCreateInstance.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_ALL =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

extern "C" {
// BSTR: a 4-byte byte-length prefix, UTF-16 code units, a terminating zero.
ORVEX_COM_API BSTR SysAllocString(const OLECHAR* psz);
ORVEX_COM_API BSTR SysAllocStringLen(const OLECHAR* pch, UINT cch);
ORVEX_COM_API BSTR SysAllocStringByteLen(const char* psz, UINT len);
ORVEX_COM_API int SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
ORVEX_COM_API int SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT cch);
ORVEX_COM_API UINT SysStringLen(BSTR bstr);
ORVEX_COM_API UINT SysStringByteLen(BSTR bstr);
ORVEX_COM_API void SysFreeString(BSTR bstr);

ORVEX_COM_API void* CoTaskMemAlloc(std::size_t cb);
ORVEX_COM_API void* CoTaskMemRealloc(void* pv, std::size_t cb);
ORVEX_COM_API void CoTaskMemFree(void* pv);

ORVEX_COM_API HRESULT CoInitializeEx(void* pvReserved, DWORD dwCoInit);
ORVEX_COM_API void CoUninitialize();

ORVEX_COM_API HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void* pvReserved,
                                       REFIID riid, void** ppv);
ORVEX_COM_API HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext,
                                       REFIID riid, void** ppv);
ORVEX_COM_API HRESULT CoCreateFreeThreadedMarshaler(IUnknown* punkOuter, IUnknown** ppunkMarshal);

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", braces required, any case of hex digits.
ORVEX_COM_API HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid);
ORVEX_COM_API HRESULT IIDFromString(LPCOLESTR lpsz, IID* piid);
// Writes the braced upper-case form (39 characters with the terminator); returns the number
// of characters written including the terminator, or 0 when cchMax is too small.
ORVEX_COM_API int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
}  // extern "C"
#endif  // !ORVEX_SYSTEM_COM_TYPES
