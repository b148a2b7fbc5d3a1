// Interfaces of the Orvex SDK, with their methods in vtable slot order (slots 0 to 2 are
// IUnknown's). The slot order is part of the binary contract between SDK modules.
#pragma once

#include "orvex/com.h"
#include "orvex/types.h"

struct IOXFrame;
struct IMFrame_I;

// Output device choice. eDevType is not looked at by the renderers of this module.
struct IOXDevice : IUnknown {
    STDMETHOD(DeviceGetCount)(eOXDeviceType eDevType, int* pnCount) = 0;  // 3
    STDMETHOD(DeviceGetByIndex)
    (eOXDeviceType eDevType, int nIndex, BSTR* pbsName,
     BOOL* pbBusy) = 0;                                                             // 4
    STDMETHOD(DeviceSet)(eOXDeviceType eDevType, int nIndex, BSTR bsParam) = 0;     // 5
    STDMETHOD(DeviceGet)(eOXDeviceType eDevType, int* pnIndex, BSTR* pbsName) = 0;  // 6
    STDMETHOD(DeviceShowProps)
    (eOXDeviceType eDevType, BSTR bsPropsType,
     LONGLONG lWndHandle) = 0;                                                      // 7
    STDMETHOD(DeviceOpen)(BSTR bsDeviceConfig, BSTR bsPropsList) = 0;               // 8
    STDMETHOD(DeviceClose)() = 0;                                                   // 9
    STDMETHOD(DeviceGetInternal)(eOXDeviceType eDevType, IUnknown** ppObject) = 0;  // 10

protected:
    ~IOXDevice() = default;
};

struct IOXReceiver : IUnknown {
    // rtMaxWait: how long to wait for room (100-ns units); bsProps: attribute list or null.
    STDMETHOD(ReceiverFramePut)(IOXFrame* pFrame, LONGLONG rtMaxWait, BSTR bsProps) = 0;  // 3

protected:
    ~IOXReceiver() = default;
};

struct IOXProps : IUnknown {
    STDMETHOD(PropsSet)(BSTR bsName, BSTR bsValue) = 0;           // 3
    STDMETHOD(PropsGet)(BSTR bsName, BSTR* pbsValue) = 0;         // 4
    STDMETHOD(PropsGetCount)(BSTR bsNodeName, int* pnCount) = 0;  // 5
    STDMETHOD(PropsGetByIndex)
    (BSTR bsNodeName, int nIndex, BSTR* pbsName, BSTR* pbsValue,
     BOOL* pbNode) = 0;                                                         // 6
    STDMETHOD(PropsRemove)(BSTR bsName) = 0;                                    // 7
    STDMETHOD(PropsInfoGet)(BSTR bsName, eMInfoType eType, BSTR* pbsInfo) = 0;  // 8
    STDMETHOD(PropsOptionGetCount)(BSTR bsName, int* pnCount) = 0;              // 9
    STDMETHOD(PropsOptionGetByIndex)
    (BSTR bsName, int nIndex, BSTR* pbsValue,
     BSTR* pbsHelp) = 0;                                                                      // 10
    STDMETHOD(PropsOptionSetByIndex)(BSTR bsName, int nIndex) = 0;                            // 11
    STDMETHOD(PropsOptionGet)(BSTR bsName, int* pnIndex, BSTR* pbsValue, BSTR* pbsHelp) = 0;  // 12

protected:
    ~IOXProps() = default;
};

struct IOXFormat : IUnknown {
    STDMETHOD(FormatVideoGetCount)(eMFormatType eFormatType, int* pnCount) = 0;  // 3
    STDMETHOD(FormatVideoGetByIndex)
    (eMFormatType eFormatType, int nIndex, M_VID_PROPS* pVidProps,
     BSTR* pbsName) = 0;                                                              // 4
    STDMETHOD(FormatVideoSet)(eMFormatType eFormatType, M_VID_PROPS* pVidProps) = 0;  // 5
    STDMETHOD(FormatVideoGet)
    (eMFormatType eFormatType, M_VID_PROPS* pVidProps, int* pnIndex,
     BSTR* pbsName) = 0;                                                         // 6
    STDMETHOD(FormatAudioGetCount)(eMFormatType eFormatType, int* pnCount) = 0;  // 7
    STDMETHOD(FormatAudioGetByIndex)
    (eMFormatType eFormatType, int nIndex, M_AUD_PROPS* pAudProps,
     BSTR* pbsName) = 0;                                                              // 8
    STDMETHOD(FormatAudioSet)(eMFormatType eFormatType, M_AUD_PROPS* pAudProps) = 0;  // 9
    STDMETHOD(FormatAudioGet)
    (eMFormatType eFormatType, M_AUD_PROPS* pAudProps, int* pnIndex,
     BSTR* pbsName) = 0;  // 10

protected:
    ~IOXFormat() = default;
};

// Attributes of one node of an attribute tree.
struct IMAttributes : IUnknown {
    STDMETHOD(AttributesGetCount)(int* pnCount) = 0;                                   // 3
    STDMETHOD(AttributesGetByIndex)(int nIndex, BSTR* pbsName, BSTR* pbsValue) = 0;    // 4
    STDMETHOD(AttributesRemove)(BSTR bsName) = 0;                                      // 5
    STDMETHOD(AttributesRemoveAll)() = 0;                                              // 6
    STDMETHOD(AttributesSet)(BSTR bsName, BSTR bsValue) = 0;                           // 7
    STDMETHOD(AttributesSetBool)(BSTR bsName, int bValue) = 0;                         // 8
    STDMETHOD(AttributesSetInt)(BSTR bsName, int nValue) = 0;                          // 9
    STDMETHOD(AttributesSetDouble)(BSTR bsName, double dblValue) = 0;                  // 10
    STDMETHOD(AttributesGetOrDefault)(BSTR bsName, int* pbFound, BSTR* pbsValue) = 0;  // 11
    STDMETHOD(AttributesGet)(BSTR bsName, BSTR* pbsValue) = 0;                         // 12
    STDMETHOD(AttributesGetInt)(BSTR bsName, int* pnValue) = 0;                        // 13
    STDMETHOD(AttributesGetBool)(BSTR bsName, int* pbValue) = 0;                       // 14
    STDMETHOD(AttributesGetDouble)(BSTR bsName, double* pdblValue) = 0;                // 15
    STDMETHOD(AttributesSetList)(BSTR bsList, int nMode) = 0;                          // 16
    STDMETHOD(AttributesListGet)(BSTR* pbsList) = 0;                                   // 17
    STDMETHOD(AttributesClone)(IMAttributes** ppClone) = 0;                            // 18
    STDMETHOD(AttributesCopyFrom)(IMAttributes* pSource, int nMode) = 0;               // 19
    STDMETHOD(AttributesInfoGetCount)(int* pnCount) = 0;                               // 20
    STDMETHOD(AttributesInfoGetByIndex)(int nIndex, BSTR* pbsName) = 0;                // 21
    STDMETHOD(AttributesInfoGet)(BSTR bsName, int nType, BSTR* pbsInfo) = 0;           // 22
    STDMETHOD(AttributesInfoFieldGet)
    (BSTR bsName, BSTR bsEntry, BSTR bsField,
     BSTR* pbsValue) = 0;  // 23

protected:
    ~IMAttributes() = default;
};

// One node of an attribute tree: name, text value, children.
struct IMNode : IMAttributes {
    STDMETHOD(NodeNameGet)(BSTR* pbsName) = 0;                                        // 24
    STDMETHOD(NodeNameSet)(BSTR bsName) = 0;                                          // 25
    STDMETHOD(NodeValueGet)(BSTR* pbsValue) = 0;                                      // 26
    STDMETHOD(NodeValueSet)(BSTR bsValue) = 0;                                        // 27
    STDMETHOD(NodePathGet)(BSTR* pbsPath, BSTR bsStopName) = 0;                       // 28
    STDMETHOD(NodeParentGet)(IMNode** ppParent) = 0;                                  // 29
    STDMETHOD(NodeDetach)() = 0;                                                      // 30
    STDMETHOD(NodeChildCount)(int* pnCount) = 0;                                      // 31
    STDMETHOD(NodeChildGetByIndex)(int nIndex, BSTR* pbsName, IMNode** ppChild) = 0;  // 32
    STDMETHOD(NodeChildAdd)(BSTR bsPath, BSTR bsValue, IMNode** ppChild) = 0;         // 33
    STDMETHOD(NodeChildGet)(BSTR bsPath, int bCreate, IMNode** ppChild) = 0;          // 34
    STDMETHOD(NodeChildRemove)(BSTR bsPath) = 0;                                      // 35
    STDMETHOD(NodeClear)(int bWithAttributes) = 0;                                    // 36
    STDMETHOD(NodeXmlSet)(BSTR bsXml, int bTakeName) = 0;                             // 37
    STDMETHOD(NodeXmlGet)(BSTR* pbsXml) = 0;                                          // 38
    STDMETHOD(NodeClone)(IMNode** ppClone) = 0;                                       // 39
    STDMETHOD(NodeReserved)(LONGLONG a, LONGLONG b, LONGLONG c) = 0;  // 40: always E_NOTIMPL
    STDMETHOD(NodeInfoGet)(BSTR bsField, BSTR* pbsValue) = 0;         // 41
    // Gives the implementing object to code in the same module; not for clients.
    STDMETHOD_(void*, NodeInternalGet)() = 0;  // 42
    // Slot 43 is the destructor of the implementing object.

protected:
    ~IMNode() = default;
};

// The public frame interface. Buffers handed out stay valid and unchanged while the caller
// holds a reference on the frame. Byte pointers are returned as addresses in LONGLONG, as in
// OX_FRAME_INFO, so that the interface is the same for every client language.
struct IOXFrame : IUnknown {
    STDMETHOD(OXAVPropsGet)(M_AV_PROPS* pProps) = 0;        // 3
    STDMETHOD(OXAVPropsSet)(const M_AV_PROPS* pProps) = 0;  // 4: describes, does not convert
    STDMETHOD(OXTimeGet)(M_TIME* pTime) = 0;                // 5
    STDMETHOD(OXTimeSet)(const M_TIME* pTime) = 0;          // 6
    STDMETHOD(OXVideoIDGet)(LONGLONG* pllVideoID) = 0;      // 7
    STDMETHOD(OXVideoIDSet)(LONGLONG llVideoID) = 0;        // 8
    STDMETHOD(OXAllGet)(OX_FRAME_INFO* pInfo) = 0;          // 9
    STDMETHOD(OXVideoBytesGet)(LONG* pcbVideo, LONGLONG* plpVideo) = 0;                  // 10
    STDMETHOD(OXAudioBytesGet)(LONG* pcbAudio, LONGLONG* plpAudio, int* pnSamples) = 0;  // 11
    // Replaces the picture with a copy of the caller's bytes in the given format.
    STDMETHOD(OXVideoSet)(const M_VID_PROPS* pVidProps, LONG cbVideo, LONGLONG lpVideo) = 0;  // 12
    // Replaces the audio with a copy of nSamples interleaved samples in the given format.
    STDMETHOD(OXAudioSet)
    (const M_AUD_PROPS* pAudProps, int nSamples, LONG cbAudio,
     LONGLONG lpAudio) = 0;                                     // 13
    STDMETHOD(OXVideoAlloc)(const M_VID_PROPS* pVidProps) = 0;  // 14: a new black picture
    STDMETHOD(OXAudioAlloc)(const M_AUD_PROPS* pAudProps, int nSamples) = 0;  // 15: silence
    STDMETHOD(OXVideoRemove)() = 0;                                           // 16
    STDMETHOD(OXAudioRemove)() = 0;                                           // 17
    // Data items: byte blocks keyed by a four-character code ('C608', 'C708', 'GA94', 'VANC').
    STDMETHOD(OXDataSet)(DWORD dwFourCC, LONG cbData, LONGLONG lpData) = 0;      // 18
    STDMETHOD(OXDataGet)(DWORD dwFourCC, LONG* pcbData, LONGLONG* plpData) = 0;  // 19
    STDMETHOD(OXDataRemove)(DWORD dwFourCC) = 0;                                 // 20
    STDMETHOD(OXDataGetCount)(int* pnCount) = 0;                                 // 21
    STDMETHOD(OXDataGetByIndex)
    (int nIndex, DWORD* pdwFourCC, LONG* pcbData,
     LONGLONG* plpData) = 0;  // 22
    // Named strings.
    STDMETHOD(OXStrSet)(BSTR bsName, BSTR bsValue) = 0;                         // 23
    STDMETHOD(OXStrGet)(BSTR bsName, BSTR* pbsValue) = 0;                       // 24
    STDMETHOD(OXStrRemove)(BSTR bsName) = 0;                                    // 25
    STDMETHOD(OXStrGetCount)(int* pnCount) = 0;                                 // 26
    STDMETHOD(OXStrGetByIndex)(int nIndex, BSTR* pbsName, BSTR* pbsValue) = 0;  // 27
    // Named objects.
    STDMETHOD(OXObjSet)(BSTR bsName, IUnknown* pObject) = 0;                         // 28
    STDMETHOD(OXObjGet)(BSTR bsName, IUnknown** ppObject) = 0;                       // 29
    STDMETHOD(OXObjRemove)(BSTR bsName) = 0;                                         // 30
    STDMETHOD(OXObjGetCount)(int* pnCount) = 0;                                      // 31
    STDMETHOD(OXObjGetByIndex)(int nIndex, BSTR* pbsName, IUnknown** ppObject) = 0;  // 32
    STDMETHOD(OXClone)(eMFrameClone eCloneType, IOXFrame** ppClone) = 0;             // 33
    STDMETHOD(OXTimecodeGet)(M_TIMECODE* pTimecode) = 0;                             // 34
    STDMETHOD(OXTimecodeSet)(const M_TIMECODE* pTimecode) = 0;                       // 35
    STDMETHOD(OXFlagsGet)(eMFrameFlags* peFlags) = 0;                                // 36
    STDMETHOD(OXFlagsSet)(eMFrameFlags eFlags) = 0;                                  // 37
    STDMETHOD(OXProcessIDGet)(DWORD* pdwProcessID) = 0;                              // 38
    // Asynchronous work on the frame (conversion, overlay): begun and ended by the worker;
    // OXWaitAsync returns when none is outstanding.
    STDMETHOD(OXAsyncBegin)() = 0;                       // 39
    STDMETHOD(OXAsyncEnd)(HRESULT hrResult) = 0;         // 40
    STDMETHOD(OXWaitAsync)() = 0;                        // 41
    STDMETHOD(OXMemorySizeGet)(LONGLONG* pcbTotal) = 0;  // 42

protected:
    ~IOXFrame() = default;
};

// The SDK's internal frame interface: direct access to a frame's records and buffers in
// this process, without marshalling. Slots 3, 5, 7, 8, 13 and 27 are fixed SDK-wide.
struct IMFrame_I : IUnknown {
    STDMETHOD(FrameAVPropsGet)(M_AV_PROPS* pProps) = 0;                            // 3
    STDMETHOD(FrameAVPropsSet)(const M_AV_PROPS* pProps) = 0;                      // 4
    STDMETHOD(FrameTimeGet)(M_TIME* pTime) = 0;                                    // 5
    STDMETHOD(FrameTimeSet)(const M_TIME* pTime) = 0;                              // 6
    STDMETHOD(FrameAudioGet)(LONG* pcbAudio, BYTE** ppbAudio) = 0;                 // 7
    STDMETHOD(FrameVideoGet)(BYTE** ppbVideo, LONG* pcbVideo) = 0;                 // 8
    STDMETHOD(FrameAudioSamplesGet)(int* pnSamples) = 0;                           // 9
    STDMETHOD(FrameVideoIDGet)(LONGLONG* pllVideoID) = 0;                          // 10
    STDMETHOD(FrameDataSet)(DWORD dwFourCC, LONG cbData, const BYTE* pbData) = 0;  // 11
    STDMETHOD(FrameDataRemove)(DWORD dwFourCC) = 0;                                // 12
    // The item's block is the frame's own; its bytes may be changed in place.
    STDMETHOD(FrameDataGet)(DWORD dwFourCC, LONG* pcbData, BYTE** ppbData) = 0;  // 13
    STDMETHOD(FrameDataGetCount)(int* pnCount) = 0;                              // 14
    STDMETHOD(FrameDataGetByIndex)
    (int nIndex, DWORD* pdwFourCC, LONG* pcbData,
     BYTE** ppbData) = 0;                                                        // 15
    STDMETHOD(FrameStrSet)(BSTR bsName, BSTR bsValue) = 0;                       // 16
    STDMETHOD(FrameStrGet)(BSTR bsName, BSTR* pbsValue) = 0;                     // 17
    STDMETHOD(FrameObjSet)(BSTR bsName, IUnknown* pObject) = 0;                  // 18
    STDMETHOD(FrameObjGet)(BSTR bsName, IUnknown** ppObject) = 0;                // 19
    STDMETHOD(FrameClone)(eMFrameClone eCloneType, IMFrame_I** ppClone) = 0;     // 20
    STDMETHOD(FrameVideoAlloc)(const M_VID_PROPS* pVidProps) = 0;                // 21
    STDMETHOD(FrameAudioAlloc)(const M_AUD_PROPS* pAudProps, int nSamples) = 0;  // 22
    STDMETHOD(FrameVideoSet)
    (const M_VID_PROPS* pVidProps, LONG cbVideo,
     const BYTE* pbVideo) = 0;  // 23
    STDMETHOD(FrameAudioSet)
    (const M_AUD_PROPS* pAudProps, int nSamples, LONG cbAudio,
     const BYTE* pbAudio) = 0;                              // 24
    STDMETHOD(FrameProcessIDGet)(DWORD* pdwProcessID) = 0;  // 25
    STDMETHOD(FrameMemorySizeGet)(LONGLONG* pcbTotal) = 0;  // 26
    // Everything at once: time, properties, audio sample count and data, video size and data.
    STDMETHOD(FrameAllGet)
    (M_TIME* pTime, M_AV_PROPS* pProps, int* pnAudioSamples, BYTE** ppbAudio, LONG* pcbVideo,
     BYTE** ppbVideo) = 0;  // 27

protected:
    ~IMFrame_I() = default;
};

struct IOXFactory : IUnknown {
    // A frame with newly allocated video (black) and audio (nSamples of silence).
    STDMETHOD(OXFrameMake)
    (const M_AV_PROPS* pProps, int nAudioSamples, IOXFrame** ppFrame) = 0;  // 3
    // A frame holding copies of the caller's buffers.
    STDMETHOD(OXFrameMakeFromMemory)
    (const M_AV_PROPS* pProps, LONG cbVideo, LONGLONG lpVideo, int nAudioSamples, LONG cbAudio,
     LONGLONG lpAudio,
     IOXFrame** ppFrame) = 0;  // 4
    // The frame itself when it already lives in this process (and _bAlwaysClone is false),
    // else a local copy read through IOXFrame.
    STDMETHOD(OXFrameMakeLocal)
    (IUnknown* pSource, IOXFrame** ppLocal, BOOL _bAlwaysClone) = 0;  // 5

protected:
    ~IOXFactory() = default;
};

// A frame source that is not an IOXFrame (the SDK's private transport): it describes a frame
// through one record.
struct IMFrameSource_I : IUnknown {
    STDMETHOD(SourceFrameInfoGet)(OX_FRAME_INFO* pInfo) = 0;                         // 3
    STDMETHOD(SourceDataGet)(DWORD dwFourCC, LONG* pcbData, LONGLONG* plpData) = 0;  // 4

protected:
    ~IMFrameSource_I() = default;
};

// The SDK's private frame factory; slot 3 is fixed SDK-wide.
struct IMFactory_I : IUnknown {
    STDMETHOD(FrameMakeLocal)(IUnknown* pSource, IOXFrame** ppLocal, BOOL _bAlwaysClone) = 0;  // 3

protected:
    ~IMFactory_I() = default;
};
