// Dual-stream 3D: one double-height image (left eye above right eye) presented to the card
// as a stereo pair. No pixels are copied: each eye is a view onto half of the image.
#pragma once

#include "com/object.h"
#include "com/ptr.h"
#include "decklink/api/decklink_api.h"

namespace orvex::decklink {

// The frame the card receives: the left eye, with the right eye behind its 3D extensions.
class CCoDLFrame3D : public CComObjectRootEx<CComMultiThreadModel>,
                     public IDeckLinkVideoFrame,
                     public IDeckLinkVideoFrame3DExtensions {
public:
    BEGIN_COM_MAP(CCoDLFrame3D)
    COM_INTERFACE_ENTRY(IDeckLinkVideoFrame)
    COM_INTERFACE_ENTRY(IDeckLinkVideoFrame3DExtensions)
    END_COM_MAP()

    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}

    STDMETHOD_(std::int32_t, GetWidth)() override { return left->GetWidth(); }
    STDMETHOD_(std::int32_t, GetHeight)() override { return left->GetHeight(); }
    STDMETHOD_(std::int32_t, GetRowBytes)() override { return left->GetRowBytes(); }
    STDMETHOD_(BMDPixelFormat, GetPixelFormat)() override { return left->GetPixelFormat(); }
    STDMETHOD_(BMDFrameFlags, GetFlags)() override { return left->GetFlags(); }
    STDMETHOD(GetBytes)(void** buffer) override { return left->GetBytes(buffer); }
    STDMETHOD(GetTimecode)(BMDTimecodeFormat format, IDeckLinkTimecode** timecode) override {
        return left->GetTimecode(format, timecode);
    }
    STDMETHOD(GetAncillaryData)(IDeckLinkVideoFrameAncillary** ancillary) override {
        return left->GetAncillaryData(ancillary);
    }

    STDMETHOD_(BMDVideo3DPackingFormat, Get3DPackingFormat)() override {
        return bmdVideo3DPackingLeftOnly;
    }
    STDMETHOD(GetFrameForRightEye)(IDeckLinkVideoFrame** rightEyeFrame) override;

    CComPtr<IDeckLinkVideoFrame> left;
    CComPtr<IDeckLinkVideoFrame> right;  // may be null
};

// One eye of a double-height image: 0 the upper half, 1 the lower half.
class CCoDLFrame3D_Eye : public CComObjectRootEx<CComMultiThreadModel>, public IDeckLinkVideoFrame {
public:
    BEGIN_COM_MAP(CCoDLFrame3D_Eye)
    COM_INTERFACE_ENTRY(IDeckLinkVideoFrame)
    END_COM_MAP()

    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}

    STDMETHOD_(std::int32_t, GetWidth)() override { return full->GetWidth(); }
    STDMETHOD_(std::int32_t, GetHeight)() override { return full->GetHeight() / 2; }
    STDMETHOD_(std::int32_t, GetRowBytes)() override { return full->GetRowBytes(); }
    STDMETHOD_(BMDPixelFormat, GetPixelFormat)() override { return full->GetPixelFormat(); }
    STDMETHOD_(BMDFrameFlags, GetFlags)() override { return full->GetFlags(); }
    STDMETHOD(GetBytes)(void** buffer) override;
    STDMETHOD(GetTimecode)(BMDTimecodeFormat format, IDeckLinkTimecode** timecode) override {
        return full->GetTimecode(format, timecode);
    }
    STDMETHOD(GetAncillaryData)(IDeckLinkVideoFrameAncillary** ancillary) override {
        return full->GetAncillaryData(ancillary);
    }

    CComPtr<IDeckLinkVideoFrame> full;
    int eye = 0;
};

// Wraps a stereo pair: with `second`, `first` is the left eye and `second` the right;
// without, `first` is a double-height image split into its halves. E_INVALIDARG for a null
// `first`; E_OUTOFMEMORY, with *out null, when the objects cannot be made.
HRESULT Create3DFrame(IDeckLinkVideoFrame** out, IDeckLinkVideoFrame* first,
                      IDeckLinkVideoFrame* second);

}  // namespace orvex::decklink
