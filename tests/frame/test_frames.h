// Frames for tests: a host's own IOXFrame implementation, the SDK's private frame source, and
// small helpers to build records and pass buffers as addresses.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "com/object.h"
#include "com/ptr.h"
#include "orvex/ids.h"

namespace orvex::test {

inline constexpr DWORD kC708 = 0x43373038;  // 'C708'
inline constexpr DWORD kVANC = 0x56414E43;  // 'VANC'

inline const BYTE* Ptr(LONGLONG address) {
    return reinterpret_cast<const BYTE*>(static_cast<std::uintptr_t>(address));
}
inline LONGLONG Addr(const void* p) {
    return static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(p));
}

// The references held on `p`.
inline ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

inline M_AV_PROPS Props(eMFCC fcc, int width, int height) {
    M_AV_PROPS p{};
    p.vidProps.eVideoFormat = eMVF_Custom;
    p.vidProps.fccType = fcc;
    p.vidProps.nWidth = width;
    p.vidProps.nHeight = height;
    p.vidProps.dblRate = 25.0;
    p.audProps.nChannels = 2;
    p.audProps.nSamplesPerSec = 48000;
    p.audProps.nBitsPerSample = 16;
    return p;
}

// A host's own frame: answers IOXFrame only, with buffers it owns.
class HostFrame : public CComObjectRootEx<CComMultiThreadModel>, public IOXFrame {
public:
    BEGIN_COM_MAP(HostFrame)
    COM_INTERFACE_ENTRY(IOXFrame)
    END_COM_MAP()

    std::vector<BYTE> video = std::vector<BYTE>(8, 0x33);
    STDMETHOD(OXAllGet)(OX_FRAME_INFO* info) override {
        *info = {};
        info->avProps = Props(eMFCC_UYVY, 4, 1);
        info->mTime.rtStartTime = 1234;
        info->cbVideo = static_cast<DWORD>(video.size());
        info->lpVideo = Addr(video.data());
        return S_OK;
    }
    STDMETHOD(OXDataGetCount)(int* n) override {
        *n = 1;
        return S_OK;
    }
    STDMETHOD(OXDataGetByIndex)(int, DWORD* fcc, LONG* cb, LONGLONG* lp) override {
        static const BYTE item[] = {0xC8};
        *fcc = kC708;
        *cb = 1;
        *lp = Addr(item);
        return S_OK;
    }
#define HOST_NOTIMPL(name, ...)             \
    STDMETHOD(name)(__VA_ARGS__) override { \
        return E_NOTIMPL;                   \
    }
    // clang-format off
    HOST_NOTIMPL(OXAVPropsGet, M_AV_PROPS*) HOST_NOTIMPL(OXAVPropsSet, const M_AV_PROPS*)
    HOST_NOTIMPL(OXTimeGet, M_TIME*) HOST_NOTIMPL(OXTimeSet, const M_TIME*)
    HOST_NOTIMPL(OXVideoIDGet, LONGLONG*) HOST_NOTIMPL(OXVideoIDSet, LONGLONG)
    HOST_NOTIMPL(OXVideoBytesGet, LONG*, LONGLONG*)
    HOST_NOTIMPL(OXAudioBytesGet, LONG*, LONGLONG*, int*)
    HOST_NOTIMPL(OXVideoSet, const M_VID_PROPS*, LONG, LONGLONG)
    HOST_NOTIMPL(OXAudioSet, const M_AUD_PROPS*, int, LONG, LONGLONG)
    HOST_NOTIMPL(OXVideoAlloc, const M_VID_PROPS*)
    HOST_NOTIMPL(OXAudioAlloc, const M_AUD_PROPS*, int) HOST_NOTIMPL(OXVideoRemove)
    HOST_NOTIMPL(OXAudioRemove) HOST_NOTIMPL(OXDataSet, DWORD, LONG, LONGLONG)
    HOST_NOTIMPL(OXDataGet, DWORD, LONG*, LONGLONG*) HOST_NOTIMPL(OXDataRemove, DWORD)
    HOST_NOTIMPL(OXStrSet, BSTR, BSTR) HOST_NOTIMPL(OXStrGet, BSTR, BSTR*)
    HOST_NOTIMPL(OXStrRemove, BSTR) HOST_NOTIMPL(OXStrGetCount, int*)
    HOST_NOTIMPL(OXStrGetByIndex, int, BSTR*, BSTR*) HOST_NOTIMPL(OXObjSet, BSTR, IUnknown*)
    HOST_NOTIMPL(OXObjGet, BSTR, IUnknown**) HOST_NOTIMPL(OXObjRemove, BSTR)
    HOST_NOTIMPL(OXObjGetCount, int*) HOST_NOTIMPL(OXObjGetByIndex, int, BSTR*, IUnknown**)
    HOST_NOTIMPL(OXClone, eMFrameClone, IOXFrame**) HOST_NOTIMPL(OXTimecodeGet, M_TIMECODE*)
    HOST_NOTIMPL(OXTimecodeSet, const M_TIMECODE*) HOST_NOTIMPL(OXFlagsGet, eMFrameFlags*)
    HOST_NOTIMPL(OXFlagsSet, eMFrameFlags) HOST_NOTIMPL(OXProcessIDGet, DWORD*)
    HOST_NOTIMPL(OXAsyncBegin) HOST_NOTIMPL(OXAsyncEnd, HRESULT)
    HOST_NOTIMPL(OXMemorySizeGet, LONGLONG*)
    // clang-format on
#undef HOST_NOTIMPL
                                                                STDMETHOD(OXWaitAsync)() override {
        return S_OK;
    }
};

// The SDK's private transport: one record and data items by code.
class PrivateSource : public CComObjectRootEx<CComMultiThreadModel>, public IMFrameSource_I {
public:
    BEGIN_COM_MAP(PrivateSource)
    COM_INTERFACE_ENTRY(IMFrameSource_I)
    END_COM_MAP()

    std::vector<BYTE> pcm = std::vector<BYTE>(2 * 2 * 4, 0x11);
    STDMETHOD(SourceFrameInfoGet)(OX_FRAME_INFO* info) override {
        *info = {};
        info->avProps = Props(eMFCC_Default, 0, 0);
        info->lAudioSamples = 4;
        info->cbAudio = static_cast<DWORD>(pcm.size());
        info->lpAudio = Addr(pcm.data());
        return S_OK;
    }
    STDMETHOD(SourceDataGet)(DWORD fcc, LONG* cb, LONGLONG* lp) override {
        static const BYTE item[] = {1, 2};
        if (fcc != kVANC) return E_NOT_FOUND;
        *cb = 2;
        *lp = Addr(item);
        return S_OK;
    }
};

template <class T>
CComPtr<T> New() {
    CComObject<T>* p = nullptr;
    EXPECT_EQ(CComObject<T>::CreateInstance(&p), S_OK);
    return CComPtr<T>(p);
}

}  // namespace orvex::test
