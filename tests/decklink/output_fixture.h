// A DeckLink renderer made in this process over a rig of the virtual card, all on the test's
// virtual clock (the card's hardware clock too). With "input.buffers" 0 every frame runs on
// the test's thread, so each run gives the same result.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "com/object.h"
#include "decklink/co_ox_renderer_bmd.h"
#include "formats/video_formats.h"
#include "orvex/ids.h"
#include "platform/clock.h"
#include "support/virtual_decklink.h"

namespace orvex::test {

// Format numbers of the frames' video formats, and a 25 fps period in clock ticks.
constexpr int kPAL = 4, kHD720p50 = 6, kHD720p5994 = 7, kHD1080p25 = 11, kHD1080i50 = 14,
              k2K25 = 22, kUHD30 = 30;
constexpr platform::Ticks kPeriod = 400'000;

inline std::int64_t VirtualNow(void*) {
    return platform::Now();
}

class DeckLinkOutputTest : public ::testing::Test {
protected:
    using Renderer = CComObject<CCoOXRendererBMD>;

    // Renderers with threads of their own run on a manual clock that the test steps.
    explicit DeckLinkOutputTest(
        platform::VirtualClock::Mode mode = platform::VirtualClock::Mode::kAutoAdvance)
        : clock_(mode, 1'000'000'000) {}

    void SetUp() override {
        ASSERT_TRUE(frame_library_.Open(OXFRAME_PATH)) << frame_library_.Error();
        rig_.Register();
        ASSERT_EQ(CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                                   reinterpret_cast<void**>(&factory_)),
                  S_OK);
    }
    void TearDown() override {
        if (renderer_) {
            device_->DeviceClose();
            device_.Release();
            props_.Release();
            receiver_.Release();
            format_.Release();
            renderer_->Release();
            renderer_ = nullptr;
        }
        // Nothing of the card's may outlive the renderer.
        if (!cards_.empty()) {
            const OxSimCardStats s = Stats();
            EXPECT_EQ(s.frames_alive, 0);
        }
        TimeSource()(nullptr, nullptr);
    }

    OxSimSetTimeSourceFn TimeSource() {
        return reinterpret_cast<OxSimSetTimeSourceFn>(
            rig_.CardLibrary().Symbol(OX_SIM_SET_TIME_SOURCE));
    }

    // One card with `extra` attributes; the renderer chooses it. Properties are set before
    // the card is chosen. After TearDown it opens afresh.
    void Open(const std::string& extra = "",
              std::initializer_list<std::pair<const char16_t*, const char16_t*>> props = {}) {
        TimeSource()(&VirtualNow, nullptr);
        // Defaults for what `extra` leaves out.
        std::string card = "<card model=\"Out\" video-out=\"sdi\" " + extra;
        for (std::string d :
             {"modes=\"all\"", "formats=\"2vuy,v210,BGRA,r210\"", "flags=\"vanc,vitc,rp188,3d\"",
              "audio-bits=\"16,32\"", "audio-channels=\"2,8,16\""}) {
            const std::string name = d.substr(0, d.find('=') + 1);
            if (extra.find(" " + name) == std::string::npos && extra.rfind(name, 0) != 0)
                card += " " + d;
        }
        cards_ = card + "/>";
        rig_.UseRig(cards_);
        ASSERT_EQ(Renderer::CreateInstance(&renderer_), S_OK);
        renderer_->AddRef();
        renderer_->QueryInterface(IID_IOXDevice, reinterpret_cast<void**>(&device_));
        renderer_->QueryInterface(IID_IOXProps, reinterpret_cast<void**>(&props_));
        renderer_->QueryInterface(IID_IOXReceiver, reinterpret_cast<void**>(&receiver_));
        renderer_->QueryInterface(IID_IOXFormat, reinterpret_cast<void**>(&format_));
        Set(u"input.buffers", u"0");
        for (const auto& [name, value] : props) Set(name, value);
        ASSERT_EQ(device_->DeviceSet(eOXDT_Video, 0, nullptr), S_OK);
    }

    void Set(const char16_t* name, const char16_t* value) {
        ASSERT_EQ(props_->PropsSet(CComBSTR(name), CComBSTR(value)), S_OK) << "property";
    }
    std::u16string Get(const char16_t* name) {
        CComBSTR value;
        props_->PropsGet(CComBSTR(name), &value);
        return std::u16string(value.View());
    }
    double Number(const char16_t* name) {
        const std::u16string v = Get(name);
        return std::stod(std::string(v.begin(), v.end()));
    }
    long long Stat(const char16_t* name) {
        const std::u16string v = Get((std::u16string(u"stat::") + name).c_str());
        long long n = 0;
        for (char16_t c : v)
            if (c >= u'0' && c <= u'9') n = n * 10 + (c - u'0');
        return n;
    }

    CComPtr<IOXFrame> Frame(int format, eMFCC fcc = eMFCC_UYVY, int samples = 0, int bits = 16,
                            int channels = 16) {
        M_AV_PROPS props{};
        props.vidProps = formats::VideoFormatDefaults(static_cast<eMVideoFormat>(format), fcc);
        if (samples > 0) {
            props.audProps.nChannels = channels;
            props.audProps.nSamplesPerSec = 48000;
            props.audProps.nBitsPerSample = bits;
        }
        CComPtr<IOXFrame> frame;
        EXPECT_EQ(factory_->OXFrameMake(&props, samples, &frame), S_OK);
        return frame;
    }
    HRESULT Put(IOXFrame* frame) { return receiver_->ReceiverFramePut(frame, 0, nullptr); }
    // Puts `count` frames of `format`, each accepted.
    void Play(int count, int format = kHD1080i50, eMFCC fcc = eMFCC_UYVY, int samples = 0) {
        for (int i = 0; i < count; ++i) ASSERT_EQ(Put(Frame(format, fcc, samples)), S_OK) << i;
    }
    // A 1080i50 frame timed to period `k`, marked live or not.
    CComPtr<IOXFrame> Timed(int k, bool live = false) {
        CComPtr<IOXFrame> f = Frame(kHD1080i50);
        M_TIME t{};
        t.rtStartTime = k * kPeriod;
        t.rtEndTime = (k + 1) * kPeriod;
        t.eFFlags = live ? eMFF_Live : eMFF_None;
        f->OXTimeSet(&t);
        return f;
    }

    OxSimCardStats Stats(int card = 0) {
        OxSimCardStats s{};
        auto stats = reinterpret_cast<OxSimStatsFn>(rig_.CardLibrary().Symbol(OX_SIM_STATS));
        EXPECT_EQ(stats(card, &s), S_OK);
        return s;
    }
    void Fault(const char* name, double value) { rig_.SetFault(0, name, value); }

    CCoOXRendererBMD::OutputInfo Output() { return renderer_->CurrentOutput(); }
    decklink::MDecklinkDirectOut* Clock() { return renderer_->FrameClock(); }

    // References held on `frame` besides the caller's.
    static ULONG OtherReferences(IUnknown* frame) {
        frame->AddRef();
        return frame->Release() - 1;
    }

    platform::DynamicLibrary frame_library_;  // lists the frame factory
    platform::VirtualClock clock_;
    VirtualDeckLink rig_;
    std::string cards_;
    CComPtr<IOXFactory> factory_;
    Renderer* renderer_ = nullptr;
    CComPtr<IOXDevice> device_;
    CComPtr<IOXProps> props_;
    CComPtr<IOXReceiver> receiver_;
    CComPtr<IOXFormat> format_;
};

}  // namespace orvex::test
