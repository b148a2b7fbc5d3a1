// The COM layer's own additions to the public COM types: the free-threaded marshaler's
// interface, which only the runtime and the module's objects use.
#pragma once

#include "orvex/com.h"

#ifdef ORVEX_SYSTEM_COM_TYPES
// With <windows.h> the system declares the interface and its identifiers.
template <>
struct InterfaceIdOf<IMarshal> {
    static constexpr const IID& value = IID_IMarshal;
};
#else
// The free-threaded marshaler's interface. Streams are opaque here: in-process objects are
// handed between apartments directly, so the stream methods are never reached.
struct IMarshal : IUnknown {
    STDMETHOD(GetUnmarshalClass)
    (REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags,
     CLSID* pCid) = 0;
    STDMETHOD(GetMarshalSizeMax)
    (REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags,
     DWORD* pSize) = 0;
    STDMETHOD(MarshalInterface)
    (void* pStm, REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext,
     DWORD mshlflags) = 0;
    STDMETHOD(UnmarshalInterface)(void* pStm, REFIID riid, void** ppv) = 0;
    STDMETHOD(ReleaseMarshalData)(void* pStm) = 0;
    STDMETHOD(DisconnectObject)(DWORD dwReserved) = 0;

protected:
    ~IMarshal() = default;
};
ORVEX_DECLARE_IID(IMarshal, "00000003-0000-0000-c000-000000000046");
inline constexpr CLSID CLSID_InProcFreeMarshaler = MakeGuid("0000033a-0000-0000-c000-000000000046");
#endif  // ORVEX_SYSTEM_COM_TYPES
