// The SDK's frame object: audio and video properties, a time record, one video and one audio
// buffer, data items keyed by four-character code, named strings and objects. It answers the
// public IOXFrame and the internal IMFrame_I; both reach the same state under one lock, so a
// frame may be called from any thread.
//
// Buffers are immutable once filled: setters put new blocks in place instead of writing into
// the old ones, so a pointer handed out stays valid and unchanged while the caller holds a
// reference (a block that was lent is kept until the frame dies). Data item blocks are the
// exception the contract asks for: their bytes may be changed in place by the holder.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "com/object.h"
#include "com/ptr.h"
#include "frame/frame_buffers.h"
#include "orvex/ids.h"

namespace orvex::frame {

class CCoOXFrame : public CComObjectRootEx<CComMultiThreadModel>,
                   public IOXFrame,
                   public IMFrame_I {
public:
    BEGIN_COM_MAP(CCoOXFrame)
    COM_INTERFACE_ENTRY(IOXFrame)
    COM_INTERFACE_ENTRY(IMFrame_I)
    END_COM_MAP()

    // A new empty frame, returned with one reference.
    static HRESULT Create(CComPtr<CCoOXFrame>& out);

    // IOXFrame
    STDMETHOD(OXAVPropsGet)(M_AV_PROPS* pProps) override;
    STDMETHOD(OXAVPropsSet)(const M_AV_PROPS* pProps) override;
    STDMETHOD(OXTimeGet)(M_TIME* pTime) override;
    STDMETHOD(OXTimeSet)(const M_TIME* pTime) override;
    STDMETHOD(OXVideoIDGet)(LONGLONG* pllVideoID) override;
    STDMETHOD(OXVideoIDSet)(LONGLONG llVideoID) override;
    STDMETHOD(OXAllGet)(OX_FRAME_INFO* pInfo) override;
    STDMETHOD(OXVideoBytesGet)(LONG* pcbVideo, LONGLONG* plpVideo) override;
    STDMETHOD(OXAudioBytesGet)(LONG* pcbAudio, LONGLONG* plpAudio, int* pnSamples) override;
    STDMETHOD(OXVideoSet)(const M_VID_PROPS* pVidProps, LONG cbVideo, LONGLONG lpVideo) override;
    STDMETHOD(OXAudioSet)
    (const M_AUD_PROPS* pAudProps, int nSamples, LONG cbAudio, LONGLONG lpAudio) override;
    STDMETHOD(OXVideoAlloc)(const M_VID_PROPS* pVidProps) override;
    STDMETHOD(OXAudioAlloc)(const M_AUD_PROPS* pAudProps, int nSamples) override;
    STDMETHOD(OXVideoRemove)() override;
    STDMETHOD(OXAudioRemove)() override;
    STDMETHOD(OXDataSet)(DWORD dwFourCC, LONG cbData, LONGLONG lpData) override;
    STDMETHOD(OXDataGet)(DWORD dwFourCC, LONG* pcbData, LONGLONG* plpData) override;
    STDMETHOD(OXDataRemove)(DWORD dwFourCC) override;
    STDMETHOD(OXDataGetCount)(int* pnCount) override;
    STDMETHOD(OXDataGetByIndex)
    (int nIndex, DWORD* pdwFourCC, LONG* pcbData, LONGLONG* plpData) override;
    STDMETHOD(OXStrSet)(BSTR bsName, BSTR bsValue) override;
    STDMETHOD(OXStrGet)(BSTR bsName, BSTR* pbsValue) override;
    STDMETHOD(OXStrRemove)(BSTR bsName) override;
    STDMETHOD(OXStrGetCount)(int* pnCount) override;
    STDMETHOD(OXStrGetByIndex)(int nIndex, BSTR* pbsName, BSTR* pbsValue) override;
    STDMETHOD(OXObjSet)(BSTR bsName, IUnknown* pObject) override;
    STDMETHOD(OXObjGet)(BSTR bsName, IUnknown** ppObject) override;
    STDMETHOD(OXObjRemove)(BSTR bsName) override;
    STDMETHOD(OXObjGetCount)(int* pnCount) override;
    STDMETHOD(OXObjGetByIndex)(int nIndex, BSTR* pbsName, IUnknown** ppObject) override;
    STDMETHOD(OXClone)(eMFrameClone eCloneType, IOXFrame** ppClone) override;
    STDMETHOD(OXTimecodeGet)(M_TIMECODE* pTimecode) override;
    STDMETHOD(OXTimecodeSet)(const M_TIMECODE* pTimecode) override;
    STDMETHOD(OXFlagsGet)(eMFrameFlags* peFlags) override;
    STDMETHOD(OXFlagsSet)(eMFrameFlags eFlags) override;
    STDMETHOD(OXProcessIDGet)(DWORD* pdwProcessID) override;
    STDMETHOD(OXAsyncBegin)() override;
    STDMETHOD(OXAsyncEnd)(HRESULT hrResult) override;
    STDMETHOD(OXWaitAsync)() override;
    STDMETHOD(OXMemorySizeGet)(LONGLONG* pcbTotal) override;

    // IMFrame_I
    STDMETHOD(FrameAVPropsGet)(M_AV_PROPS* pProps) override;
    STDMETHOD(FrameAVPropsSet)(const M_AV_PROPS* pProps) override;
    STDMETHOD(FrameTimeGet)(M_TIME* pTime) override;
    STDMETHOD(FrameTimeSet)(const M_TIME* pTime) override;
    STDMETHOD(FrameAudioGet)(LONG* pcbAudio, BYTE** ppbAudio) override;
    STDMETHOD(FrameVideoGet)(BYTE** ppbVideo, LONG* pcbVideo) override;
    STDMETHOD(FrameAudioSamplesGet)(int* pnSamples) override;
    STDMETHOD(FrameVideoIDGet)(LONGLONG* pllVideoID) override;
    STDMETHOD(FrameDataSet)(DWORD dwFourCC, LONG cbData, const BYTE* pbData) override;
    STDMETHOD(FrameDataRemove)(DWORD dwFourCC) override;
    STDMETHOD(FrameDataGet)(DWORD dwFourCC, LONG* pcbData, BYTE** ppbData) override;
    STDMETHOD(FrameDataGetCount)(int* pnCount) override;
    STDMETHOD(FrameDataGetByIndex)
    (int nIndex, DWORD* pdwFourCC, LONG* pcbData, BYTE** ppbData) override;
    STDMETHOD(FrameStrSet)(BSTR bsName, BSTR bsValue) override;
    STDMETHOD(FrameStrGet)(BSTR bsName, BSTR* pbsValue) override;
    STDMETHOD(FrameObjSet)(BSTR bsName, IUnknown* pObject) override;
    STDMETHOD(FrameObjGet)(BSTR bsName, IUnknown** ppObject) override;
    STDMETHOD(FrameClone)(eMFrameClone eCloneType, IMFrame_I** ppClone) override;
    STDMETHOD(FrameVideoAlloc)(const M_VID_PROPS* pVidProps) override;
    STDMETHOD(FrameAudioAlloc)(const M_AUD_PROPS* pAudProps, int nSamples) override;
    STDMETHOD(FrameVideoSet)
    (const M_VID_PROPS* pVidProps, LONG cbVideo, const BYTE* pbVideo) override;
    STDMETHOD(FrameAudioSet)
    (const M_AUD_PROPS* pAudProps, int nSamples, LONG cbAudio, const BYTE* pbAudio) override;
    STDMETHOD(FrameProcessIDGet)(DWORD* pdwProcessID) override;
    STDMETHOD(FrameMemorySizeGet)(LONGLONG* pcbTotal) override;
    STDMETHOD(FrameAllGet)
    (M_TIME* pTime, M_AV_PROPS* pProps, int* pnAudioSamples, BYTE** ppbAudio, LONG* pcbVideo,
     BYTE** ppbVideo) override;

private:
    struct DataItem {
        DWORD fourcc;
        BlockPtr block;
    };

    // Callers hold lock_. A lent block outlives its replacement.
    void Retire(BlockPtr& slot);
    HRESULT SetVideo(const M_VID_PROPS* props, LONG cb, const BYTE* bytes, bool black);
    HRESULT SetAudio(const M_AUD_PROPS* props, int samples, LONG cb, const BYTE* bytes);
    HRESULT SetData(DWORD fourcc, LONG cb, const BYTE* bytes);
    HRESULT GetData(DWORD fourcc, LONG* cb, BYTE** bytes);
    HRESULT GetDataByIndex(int index, DWORD* fourcc, LONG* cb, BYTE** bytes);
    HRESULT StrSet(BSTR name, BSTR value);
    HRESULT StrGet(BSTR name, BSTR* value);
    HRESULT ObjSet(BSTR name, IUnknown* object);
    HRESULT ObjGet(BSTR name, IUnknown** object);
    HRESULT Clone(eMFrameClone type, CComPtr<CCoOXFrame>& out);
    LONGLONG MemorySize() const;

    mutable std::mutex lock_;
    M_AV_PROPS props_{};
    M_TIME time_{};
    LONGLONG video_id_ = 0;
    BlockPtr video_;
    BlockPtr audio_;
    int audio_samples_ = 0;
    std::vector<DataItem> data_;
    std::vector<std::pair<std::u16string, std::u16string>> strings_;
    std::vector<std::pair<std::u16string, CComPtr<IUnknown>>> objects_;
    std::vector<BlockPtr> retired_;

    std::condition_variable async_done_;
    int async_pending_ = 0;
    HRESULT async_result_ = S_OK;
};

}  // namespace orvex::frame
