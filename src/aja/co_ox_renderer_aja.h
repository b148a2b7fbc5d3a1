// The AJA renderer: lists every output channel of every AJA board as a device, claims the
// chosen channel (and its board's format) across processes while its output runs, and plays
// frames through the channel's AJARenderer.
//
// Locks: lock_ (the output lock) is written by discovery, device choice and close, read by
// the device queries and the frame path; each AJARenderer's mailbox lock comes after it.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "aja/aja_renderer.h"
#include "backend/renderer_backend.h"
#include "platform/rw_lock.h"

class CCoOXRendererAJA : public CRendererBackend<CCoOXRendererAJA> {
public:
    HRESULT FinalConstruct();
    void FinalRelease();

    // IOXDevice
    STDMETHOD(DeviceGetCount)(eOXDeviceType, int* pnCount) override;
    STDMETHOD(DeviceGetByIndex)(eOXDeviceType, int nIndex, BSTR* pbsName, BOOL* pbBusy) override;
    STDMETHOD(DeviceSet)(eOXDeviceType, int nIndex, BSTR bsParams) override;
    STDMETHOD(DeviceGet)(eOXDeviceType, int* pnIndex, BSTR* pbsName) override;
    STDMETHOD(DeviceShowProps)(eOXDeviceType, BSTR, LONGLONG) override { return E_NOTIMPL; }
    STDMETHOD(DeviceOpen)(BSTR, BSTR) override { return S_FALSE; }
    STDMETHOD(DeviceClose)() override;
    STDMETHOD(DeviceGetInternal)(eOXDeviceType, IUnknown** ppObject) override {
        if (ppObject) *ppObject = nullptr;
        return E_NOTIMPL;
    }

    // Keeps the settings the channels read with every frame where they read them without
    // touching the tree.
    HRESULT PropsOnSet(BSTR bsName, BSTR bsValue);

    // The queue's frame handler.
    HRESULT ProcessFrame(IMFrame_I* frame);

    // For tests in this process: the selected channel (null when none), under no lock.
    orvex::aja::AJARenderer* Current() { return current_; }

protected:
    // The output formats offered are those the chosen channel's board plays.
    void FormatVideoListFill(eMFormatType type, std::vector<M_VID_PROPS>& list) override;

private:
    void Choose(orvex::aja::AJARenderer* device);  // output lock held for writing
    void Discover();
    void StopOutput();
    void ReadChannelSettings();

    orvex::platform::CRWSynchroLiteRW lock_;
    std::vector<std::unique_ptr<orvex::aja::AJARenderer>> devices_;
    std::vector<std::u16string> names_;
    orvex::aja::AJARenderer* current_ = nullptr;
    orvex::aja::ChannelSettings settings_;  // outlives every channel in devices_
    // The base formats the chosen channel's board plays (bit f for format f), read by the
    // format list without the output lock (the format lock comes after it).
    std::atomic<std::uint64_t> playable_{~0ull};
};
