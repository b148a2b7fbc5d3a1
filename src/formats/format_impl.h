// IOXFormat for a renderer class T. T may hide FormatDelegateGet() to pass every call on to
// another object's format interface (the generic renderer forwards to its current backend),
// and may override the list sources of MImageFormatEx.
#pragma once

#include "com/ptr.h"
#include "formats/image_format.h"
#include "orvex/ids.h"
#include "orvex/interfaces.h"

template <class T, class Itf = IOXFormat>
class IMFormatImpl : public Itf, public orvex::formats::MImageFormatEx {
public:
    // The object that answers instead of this one, or null. Asked before every call.
    CComPtr<IUnknown> FormatDelegateGet() { return nullptr; }

    STDMETHOD(FormatVideoGetCount)(eMFormatType eFormatType, int* pnCount) override {
        if (CComPtr<IOXFormat> d = Delegate()) return d->FormatVideoGetCount(eFormatType, pnCount);
        return OwnVideoGetCount(eFormatType, pnCount);
    }
    STDMETHOD(FormatVideoGetByIndex)
    (eMFormatType eFormatType, int nIndex, M_VID_PROPS* pVidProps, BSTR* pbsName) override {
        if (CComPtr<IOXFormat> d = Delegate())
            return d->FormatVideoGetByIndex(eFormatType, nIndex, pVidProps, pbsName);
        return OwnVideoGetByIndex(eFormatType, nIndex, pVidProps, pbsName);
    }
    STDMETHOD(FormatVideoSet)(eMFormatType eFormatType, M_VID_PROPS* pVidProps) override {
        if (CComPtr<IOXFormat> d = Delegate()) return d->FormatVideoSet(eFormatType, pVidProps);
        return OwnVideoSet(eFormatType, pVidProps);
    }
    STDMETHOD(FormatVideoGet)
    (eMFormatType eFormatType, M_VID_PROPS* pVidProps, int* pnIndex, BSTR* pbsName) override {
        if (CComPtr<IOXFormat> d = Delegate())
            return d->FormatVideoGet(eFormatType, pVidProps, pnIndex, pbsName);
        return OwnVideoGet(eFormatType, pVidProps, pnIndex, pbsName);
    }
    STDMETHOD(FormatAudioGetCount)(eMFormatType eFormatType, int* pnCount) override {
        if (CComPtr<IOXFormat> d = Delegate()) return d->FormatAudioGetCount(eFormatType, pnCount);
        return OwnAudioGetCount(eFormatType, pnCount);
    }
    STDMETHOD(FormatAudioGetByIndex)
    (eMFormatType eFormatType, int nIndex, M_AUD_PROPS* pAudProps, BSTR* pbsName) override {
        if (CComPtr<IOXFormat> d = Delegate())
            return d->FormatAudioGetByIndex(eFormatType, nIndex, pAudProps, pbsName);
        return OwnAudioGetByIndex(eFormatType, nIndex, pAudProps, pbsName);
    }
    STDMETHOD(FormatAudioSet)(eMFormatType eFormatType, M_AUD_PROPS* pAudProps) override {
        if (CComPtr<IOXFormat> d = Delegate()) return d->FormatAudioSet(eFormatType, pAudProps);
        return OwnAudioSet(eFormatType, pAudProps);
    }
    STDMETHOD(FormatAudioGet)
    (eMFormatType eFormatType, M_AUD_PROPS* pAudProps, int* pnIndex, BSTR* pbsName) override {
        if (CComPtr<IOXFormat> d = Delegate())
            return d->FormatAudioGet(eFormatType, pAudProps, pnIndex, pbsName);
        return OwnAudioGet(eFormatType, pAudProps, pnIndex, pbsName);
    }

private:
    // Sibling modules answer the private identifier; plain IOXFormat objects are taken too.
    CComPtr<IOXFormat> Delegate() {
        CComPtr<IUnknown> unk = static_cast<T*>(this)->FormatDelegateGet();
        CComPtr<IOXFormat> format;
        if (!unk) return format;
        if (FAILED(unk->QueryInterface(IID_IMPrivFormat, reinterpret_cast<void**>(&format))))
            format.p = nullptr;
        if (!format && FAILED(unk.QueryInterface(&format))) format.p = nullptr;
        return format;
    }
};
