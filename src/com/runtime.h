// The small COM runtime that stands in for the system's on Linux: BSTR allocation, apartment
// initialisation, class lookup and creation, the free-threaded marshaler, GUID text forms.
// Exported from the OrvexCom shared library so that every module of a process shares one
// class table.
#pragma once

#include <string>
#include <string_view>

#include "com/types.h"

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

using LPFNGETCLASSOBJECT = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);
using LPFNCANUNLOADNOW = HRESULT(STDMETHODCALLTYPE*)();

// The process class table: a module lists its classes here when it loads, so that a host
// of the same process reaches them by CLSID without a registration step. When two loaded
// modules list the same CLSID, the one listed first serves it; a module revokes its own
// entries (matched by CLSID and function) when it unloads.
ORVEX_COM_API HRESULT OrvexRegisterProcessClass(REFCLSID rclsid, LPFNGETCLASSOBJECT pfn);
ORVEX_COM_API HRESULT OrvexRevokeProcessClass(REFCLSID rclsid, LPFNGETCLASSOBJECT pfn);
}

namespace orvex::com {

// UTF-16 <-> UTF-8 conversions for the places where text leaves the COM world (file paths,
// registry files, messages in tests). Unpaired surrogates and invalid UTF-8 become U+FFFD.
ORVEX_COM_API std::string ToUtf8(std::u16string_view text);
ORVEX_COM_API std::u16string ToUtf16(std::string_view text);

inline std::u16string_view View(BSTR b) {
    return b ? std::u16string_view(reinterpret_cast<const char16_t*>(b), SysStringLen(b))
             : std::u16string_view();
}

ORVEX_COM_API std::u16string GuidToString(REFGUID guid);  // braced, upper case

}  // namespace orvex::com
