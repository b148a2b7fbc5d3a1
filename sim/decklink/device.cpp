// The device object: IDeckLink, keyer and output on one vtable set, attributes and the two
// configuration revisions as objects inside it. Every call goes to the card.
#include "com/runtime.h"
#include "sim/decklink/objects.h"

namespace orvex::sim::decklink {
namespace {

// The driver's answer once its card has gone (the vendor's code is not documented).
constexpr HRESULT kRemoved = E_FAIL;

}  // namespace

SimDevice::SimDevice(std::shared_ptr<Card> card) : card_(std::move(card)) {
    card_->DeviceAcquired();
}

SimDevice::~SimDevice() {
    card_->DeviceReleased(this);
}

STDMETHODIMP SimDevice::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    const CardSpec& card = card_->described();
    if (riid == IID_IUnknown || riid == IID_IDeckLink)
        return Answer(static_cast<IDeckLink*>(this), ppv);
    if (riid == IID_IDeckLinkAttributes)
        return Answer(static_cast<IDeckLinkAttributes*>(&attributes_), ppv);
    if (riid == IID_IDeckLinkConfiguration)
        return Answer(static_cast<IDeckLinkConfiguration*>(&configuration_), ppv);
    if (riid == IID_IDeckLinkConfiguration_v10_2)
        return Answer(static_cast<IDeckLinkConfiguration*>(&configuration_legacy_), ppv);
    // Capture-only cards have no output; cards without keying no keyer.
    if ((riid == IID_IDeckLinkOutput || riid == IID_IDeckLinkOutput_v9_9) && card.video_out)
        return Answer(static_cast<IDeckLinkOutput*>(this), ppv);
    if (riid == IID_IDeckLinkKeyer && (card.key_internal || card.key_external))
        return Answer(static_cast<IDeckLinkKeyer*>(this), ppv);
    return E_NOINTERFACE;
}

STDMETHODIMP SimDevice::GetModelName(BSTR* name) {
    if (card_->Removed()) return kRemoved;
    return ReturnString(card_->described().model, name);
}
STDMETHODIMP SimDevice::GetDisplayName(BSTR* name) {
    if (card_->Removed()) return kRemoved;
    return ReturnString(card_->described().name, name);
}

STDMETHODIMP SimDevice::Enable(BOOL external) {
    return card_->KeyerEnable(external);
}
STDMETHODIMP SimDevice::SetLevel(unsigned char level) {
    return card_->KeyerSetLevel(level);
}
STDMETHODIMP SimDevice::RampUp(unsigned int frames) {
    return card_->KeyerRamp(frames, true);
}
STDMETHODIMP SimDevice::RampDown(unsigned int frames) {
    return card_->KeyerRamp(frames, false);
}
STDMETHODIMP SimDevice::Disable() {
    return card_->KeyerDisable();
}

STDMETHODIMP SimDevice::DoesSupportVideoMode(BMDDisplayMode mode, BMDPixelFormat format,
                                             BMDVideoOutputFlags flags,
                                             BMDDisplayModeSupport* result,
                                             IDeckLinkDisplayMode** result_mode) {
    if (result_mode) *result_mode = nullptr;
    HRESULT hr = card_->Supports(mode, format, flags, result);
    if (SUCCEEDED(hr) && result_mode && *result == bmdDisplayModeSupported) {
        auto* m = new (std::nothrow) SimDisplayMode(*FindMode(mode));
        if (!m) return E_OUTOFMEMORY;
        *result_mode = m;
    }
    return hr;
}

STDMETHODIMP SimDevice::GetDisplayModeIterator(IDeckLinkDisplayModeIterator** iterator) {
    if (!iterator) return E_POINTER;
    *iterator = nullptr;
    if (card_->Removed()) return kRemoved;
    std::vector<const ModeInfo*> modes;
    for (BMDDisplayMode m : card_->described().modes)
        if (const ModeInfo* info = FindMode(m)) modes.push_back(info);
    auto* it = new (std::nothrow) SimDisplayModeIterator(std::move(modes));
    if (!it) return E_OUTOFMEMORY;
    *iterator = it;
    return S_OK;
}

STDMETHODIMP SimDevice::SetScreenPreviewCallback(IDeckLinkScreenPreviewCallback*) {
    return card_->Removed() ? kRemoved : S_OK;  // the virtual card has no preview to give
}
STDMETHODIMP SimDevice::EnableVideoOutput(BMDDisplayMode mode, BMDVideoOutputFlags flags) {
    return card_->EnableVideo(mode, flags, this);
}
STDMETHODIMP SimDevice::DisableVideoOutput() {
    return card_->DisableVideo(this);
}
STDMETHODIMP SimDevice::SetVideoOutputFrameMemoryAllocator(IDeckLinkMemoryAllocator* a) {
    return card_->SetAllocator(a);
}
STDMETHODIMP SimDevice::CreateVideoFrame(int width, int height, int row_bytes,
                                         BMDPixelFormat format, BMDFrameFlags flags,
                                         IDeckLinkMutableVideoFrame** frame) {
    return card_->CreateFrame(width, height, row_bytes, format, flags, frame);
}
STDMETHODIMP SimDevice::CreateAncillaryData(BMDPixelFormat format,
                                            IDeckLinkVideoFrameAncillary** ancillary) {
    return card_->CreateAncillary(format, ancillary);
}
STDMETHODIMP SimDevice::DisplayVideoFrameSync(IDeckLinkVideoFrame* frame) {
    return card_->DisplaySync(frame);
}
// Scheduled playback is a different engine that the virtual card does not offer.
STDMETHODIMP SimDevice::ScheduleVideoFrame(IDeckLinkVideoFrame*, BMDTimeValue, BMDTimeValue,
                                           BMDTimeScale) {
    return card_->Removed() ? kRemoved : E_NOTIMPL;
}
STDMETHODIMP SimDevice::SetScheduledFrameCompletionCallback(IDeckLinkVideoOutputCallback* cb) {
    return card_->SetVideoCallback(cb);
}
STDMETHODIMP SimDevice::GetBufferedVideoFrameCount(unsigned int* count) {
    return card_->BufferedVideo(count);
}
STDMETHODIMP SimDevice::EnableAudioOutput(BMDAudioSampleRate rate, BMDAudioSampleType type,
                                          unsigned int channels, BMDAudioOutputStreamType stream) {
    return card_->EnableAudio(rate, type, channels, stream);
}
STDMETHODIMP SimDevice::DisableAudioOutput() {
    return card_->DisableAudio();
}
STDMETHODIMP SimDevice::WriteAudioSamplesSync(void* buffer, unsigned int count,
                                              unsigned int* written) {
    return card_->WriteAudio(buffer, count, written);
}
STDMETHODIMP SimDevice::BeginAudioPreroll() {
    return card_->Removed() ? kRemoved : E_NOTIMPL;
}
STDMETHODIMP SimDevice::EndAudioPreroll() {
    return card_->Removed() ? kRemoved : E_NOTIMPL;
}
STDMETHODIMP SimDevice::ScheduleAudioSamples(void*, unsigned int, BMDTimeValue, BMDTimeScale,
                                             unsigned int* written) {
    if (written) *written = 0;
    return card_->Removed() ? kRemoved : E_NOTIMPL;
}
STDMETHODIMP SimDevice::GetBufferedAudioSampleFrameCount(unsigned int* count) {
    return card_->BufferedAudio(count);
}
STDMETHODIMP SimDevice::FlushBufferedAudioSamples() {
    return card_->FlushAudio();
}
STDMETHODIMP SimDevice::SetAudioCallback(IDeckLinkAudioOutputCallback* cb) {
    return card_->SetAudioCallback(cb);
}
STDMETHODIMP SimDevice::StartScheduledPlayback(BMDTimeValue, BMDTimeScale, double) {
    return card_->Removed() ? kRemoved : E_NOTIMPL;
}
STDMETHODIMP SimDevice::StopScheduledPlayback(BMDTimeValue, BMDTimeValue* actual, BMDTimeScale) {
    if (actual) *actual = 0;
    return card_->Removed() ? kRemoved : E_NOTIMPL;
}
STDMETHODIMP SimDevice::IsScheduledPlaybackRunning(BOOL* active) {
    if (!active) return E_POINTER;
    *active = FALSE;
    return card_->Removed() ? kRemoved : S_OK;
}
STDMETHODIMP SimDevice::GetScheduledStreamTime(BMDTimeScale scale, BMDTimeValue* time,
                                               double* speed) {
    return card_->StreamTime(scale, time, speed);
}
STDMETHODIMP SimDevice::GetReferenceStatus(BMDReferenceStatus* status) {
    return card_->ReferenceStatus(status);
}
STDMETHODIMP SimDevice::GetHardwareReferenceClock(BMDTimeScale scale, BMDTimeValue* hw,
                                                  BMDTimeValue* in_frame, BMDTimeValue* tpf) {
    return card_->HardwareClock(scale, hw, in_frame, tpf);
}
STDMETHODIMP SimDevice::GetFrameCompletionReferenceTimestamp(IDeckLinkVideoFrame*, BMDTimeScale,
                                                             BMDTimeValue* timestamp) {
    if (timestamp) *timestamp = 0;
    return card_->Removed() ? kRemoved : E_NOTIMPL;  // only scheduled frames complete
}

// ---- Attributes

STDMETHODIMP SimAttributes::QueryInterface(REFIID riid, void** ppv) {
    return device_->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) SimAttributes::AddRef() {
    return device_->AddRef();
}
STDMETHODIMP_(ULONG) SimAttributes::Release() {
    return device_->Release();
}
STDMETHODIMP SimAttributes::GetFlag(BMDDeckLinkAttributeID id, BOOL* value) {
    return device_->card().GetAttrFlag(id, value);
}
STDMETHODIMP SimAttributes::GetInt(BMDDeckLinkAttributeID id, LONGLONG* value) {
    return device_->card().GetAttrInt(id, value, device_);
}
STDMETHODIMP SimAttributes::GetFloat(BMDDeckLinkAttributeID, double* value) {
    if (!value) return E_POINTER;
    *value = 0;
    return device_->card().Removed() ? kRemoved : E_INVALIDARG;  // no float attributes
}
STDMETHODIMP SimAttributes::GetString(BMDDeckLinkAttributeID id, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (device_->card().Removed()) return kRemoved;
    if (id == BMDDeckLinkSerialPortDeviceName) return E_NOTIMPL;  // no serial port
    return E_INVALIDARG;
}

// ---- Configuration

STDMETHODIMP SimConfiguration::QueryInterface(REFIID riid, void** ppv) {
    return device_->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) SimConfiguration::AddRef() {
    return device_->AddRef();
}
STDMETHODIMP_(ULONG) SimConfiguration::Release() {
    return device_->Release();
}
STDMETHODIMP SimConfiguration::SetFlag(BMDDeckLinkConfigurationID id, BOOL value) {
    return device_->card().ConfigSetFlag(id, value);
}
STDMETHODIMP SimConfiguration::GetFlag(BMDDeckLinkConfigurationID id, BOOL* value) {
    return device_->card().ConfigGetFlag(id, value);
}
STDMETHODIMP SimConfiguration::SetInt(BMDDeckLinkConfigurationID id, LONGLONG value) {
    return device_->card().ConfigSetInt(id, value, legacy_);
}
STDMETHODIMP SimConfiguration::GetInt(BMDDeckLinkConfigurationID id, LONGLONG* value) {
    return device_->card().ConfigGetInt(id, value, legacy_);
}
STDMETHODIMP SimConfiguration::SetFloat(BMDDeckLinkConfigurationID id, double value) {
    return device_->card().ConfigSetFloat(id, value);
}
STDMETHODIMP SimConfiguration::GetFloat(BMDDeckLinkConfigurationID id, double* value) {
    return device_->card().ConfigGetFloat(id, value);
}
STDMETHODIMP SimConfiguration::SetString(BMDDeckLinkConfigurationID, BSTR) {
    return device_->card().Removed() ? kRemoved : E_INVALIDARG;  // no string settings
}
STDMETHODIMP SimConfiguration::GetString(BMDDeckLinkConfigurationID, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    return device_->card().Removed() ? kRemoved : E_INVALIDARG;
}
STDMETHODIMP SimConfiguration::WriteConfigurationToPreferences() {
    return device_->card().Removed() ? kRemoved : S_OK;  // settings already live on the card
}

}  // namespace orvex::sim::decklink
