// The small COM runtime that stands in for the system's on Linux: BSTR allocation, apartment
// initialisation, class lookup and creation, the free-threaded marshaler, GUID text forms.
// Exported from the OrvexCom shared library so that every module of a process shares one
// class table.
#pragma once

#include <string>
#include <string_view>

#include "com/types.h"
#include "orvex/com.h"

extern "C" {
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
