// The SDK's frame factories: the public one (IOXFactory) and the private one (IMFactory_I)
// that also takes the SDK's private frame sources. Both make frames of CCoOXFrame.
#pragma once

#include "com/object.h"
#include "frame/frame.h"

namespace orvex::frame {

// Four-character codes as a 32-bit value, first character in the high byte (as the
// multi-character literal 'C608' reads).
constexpr DWORD MakeFourCC(const char (&s)[5]) {
    return (static_cast<DWORD>(static_cast<unsigned char>(s[0])) << 24) |
           (static_cast<DWORD>(static_cast<unsigned char>(s[1])) << 16) |
           (static_cast<DWORD>(static_cast<unsigned char>(s[2])) << 8) |
           static_cast<DWORD>(static_cast<unsigned char>(s[3]));
}
inline constexpr DWORD kFourCC_C608 = MakeFourCC("C608");
inline constexpr DWORD kFourCC_C708 = MakeFourCC("C708");
inline constexpr DWORD kFourCC_GA94 = MakeFourCC("GA94");
inline constexpr DWORD kFourCC_VANC = MakeFourCC("VANC");

// The frame itself when it is an SDK frame of this process (and always_clone is false), else
// a local copy read through IOXFrame or IMFrameSource_I; E_NOINTERFACE when it is neither.
HRESULT MakeLocalFrame(IUnknown* source, BOOL always_clone, IOXFrame** out);

class CCoOXFactory : public CComObjectRootEx<CComMultiThreadModel>,
                     public CComCoClass<CCoOXFactory>,
                     public IOXFactory {
public:
    BEGIN_COM_MAP(CCoOXFactory)
    COM_INTERFACE_ENTRY(IOXFactory)
    END_COM_MAP()

    STDMETHOD(OXFrameMake)
    (const M_AV_PROPS* pProps, int nAudioSamples, IOXFrame** ppFrame) override;
    STDMETHOD(OXFrameMakeFromMemory)
    (const M_AV_PROPS* pProps, LONG cbVideo, LONGLONG lpVideo, int nAudioSamples, LONG cbAudio,
     LONGLONG lpAudio, IOXFrame** ppFrame) override;
    STDMETHOD(OXFrameMakeLocal)(IUnknown* pSource, IOXFrame** ppLocal, BOOL _bAlwaysClone) override;
};

class CCoMFactoryPriv : public CComObjectRootEx<CComMultiThreadModel>,
                        public CComCoClass<CCoMFactoryPriv>,
                        public IMFactory_I {
public:
    BEGIN_COM_MAP(CCoMFactoryPriv)
    COM_INTERFACE_ENTRY(IMFactory_I)
    END_COM_MAP()

    STDMETHOD(FrameMakeLocal)(IUnknown* pSource, IOXFrame** ppLocal, BOOL _bAlwaysClone) override;
};

}  // namespace orvex::frame
