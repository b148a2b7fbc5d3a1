// The virtual DeckLink card registered into the test's registry, loaded from the path found
// there and driven through our declarations on a virtual clock.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "com/ptr.h"
#include "com/runtime.h"
#include "decklink/api/decklink_api.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"
#include "sim/decklink/sim_control.h"
#include "sim_test_util.h"
#include "support/stress.h"
#include "support/temp_registry.h"

namespace {

namespace fs = std::filesystem;
using orvex::platform::VirtualClock;
using orvex::test::Probe;
using orvex::test::ReadWithLibav;

std::int64_t TestNow(void*) {
    return orvex::platform::Now();
}

// The library, loaded once per process as a driver is.
struct Driver {
    orvex::platform::DynamicLibrary lib;
    OxSimSetFaultFn set_fault = nullptr;
    OxSimStatsFn stats = nullptr;
    OxSimResetFn reset = nullptr;
    OxSimCardCountFn count = nullptr;

    static Driver& Get() {
        static Driver* d = [] {
            auto* d = new Driver;
            // The user's step: regsvr on the built library.
            const char* bin = std::getenv("ORVEX_TEST_BINARY_DIR");
            std::string built = std::string(bin ? bin : ".") + "/lib/libOXDeckLinkSim.so";
            {
                orvex::platform::DynamicLibrary reg;
                EXPECT_TRUE(reg.Open(built)) << reg.Error();
                auto fn = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)()>(
                    reg.Symbol("DllRegisterServer"));
                EXPECT_EQ(fn ? fn() : E_FAIL, S_OK);
                reg.Leak();
            }
            // The renderer's step: the path from HKCR\CLSID\{...}\InprocServer32.
            orvex::platform::RegistryKey key;
            std::u16string path;
            EXPECT_EQ(key.Open(orvex::platform::RegRoot::kClassesRoot,
                               u"CLSID\\" + orvex::com::GuidToString(CLSID_CDeckLinkIterator) +
                                   u"\\InprocServer32"),
                      ERROR_SUCCESS);
            EXPECT_EQ(key.QueryString(u"", &path), ERROR_SUCCESS);
            EXPECT_TRUE(d->lib.Open(orvex::com::ToUtf8(path))) << d->lib.Error();
            d->set_fault = reinterpret_cast<OxSimSetFaultFn>(d->lib.Symbol(OX_SIM_SET_FAULT));
            d->stats = reinterpret_cast<OxSimStatsFn>(d->lib.Symbol(OX_SIM_STATS));
            d->reset = reinterpret_cast<OxSimResetFn>(d->lib.Symbol(OX_SIM_RESET));
            d->count = reinterpret_cast<OxSimCardCountFn>(d->lib.Symbol(OX_SIM_CARD_COUNT));
            reinterpret_cast<OxSimSetTimeSourceFn>(d->lib.Symbol(OX_SIM_SET_TIME_SOURCE))(&TestNow,
                                                                                          nullptr);
            return d;
        }();
        return *d;
    }

    std::vector<CComPtr<IDeckLink>> Devices() {
        auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(lib.Symbol("DllGetClassObject"));
        CComPtr<IClassFactory> factory;
        EXPECT_EQ(
            get(CLSID_CDeckLinkIterator, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
            S_OK);
        CComPtr<IDeckLinkIterator> it;
        EXPECT_EQ(
            factory->CreateInstance(nullptr, IID_IDeckLinkIterator, reinterpret_cast<void**>(&it)),
            S_OK);
        std::vector<CComPtr<IDeckLink>> out;
        for (;;) {
            CComPtr<IDeckLink> d;
            if (it->Next(&d) != S_OK) break;
            out.push_back(d);
        }
        return out;
    }
};

class SimDeckLink : public ::testing::Test {
protected:
    void UseRig(const std::string& rig, const std::string& record = {}) {
        ::setenv("ORVEX_DECKLINK_RIG", rig.c_str(), 1);
        if (record.empty())
            ::unsetenv("ORVEX_DECKLINK_RECORD");
        else
            ::setenv("ORVEX_DECKLINK_RECORD", record.c_str(), 1);
        driver().reset();
        devices_ = driver().Devices();
    }
    Driver& driver() { return Driver::Get(); }
    CComPtr<IDeckLinkOutput> Output(std::size_t i = 0) {
        CComPtr<IDeckLinkOutput> out;
        EXPECT_EQ(devices_.at(i).QueryInterface(&out), S_OK);
        return out;
    }
    OxSimCardStats Stats(int card = 0) {
        OxSimCardStats s{};
        EXPECT_EQ(driver().stats(card, &s), S_OK);
        return s;
    }
    CComPtr<IDeckLinkMutableVideoFrame> Frame(IDeckLinkOutput* out, BMDPixelFormat f,
                                              std::uint8_t fill, int w = 1920, int h = 1080) {
        CComPtr<IDeckLinkMutableVideoFrame> frame;
        const int rb = f == bmdFormat10BitYUV  ? (w + 47) / 48 * 128
                       : f == bmdFormat8BitYUV ? w * 2
                                               : w * 4;
        EXPECT_EQ(out->CreateVideoFrame(w, h, rb, f, bmdFrameFlagDefault, &frame), S_OK);
        void* p = nullptr;
        frame->GetBytes(&p);
        std::memset(p, fill, static_cast<std::size_t>(rb) * h);
        return frame;
    }
    void TearDown() override {
        devices_.clear();
        driver().reset();
    }

    VirtualClock clock_{VirtualClock::Mode::kManual, 1'000'000'000};
    std::vector<CComPtr<IDeckLink>> devices_;
};

TEST_F(SimDeckLink, ConfigurationRevisionsTranslateAudioInputCodes) {
    UseRig("4k");
    CComPtr<IDeckLinkConfiguration> current;
    CComPtr<IDeckLinkConfiguration_v10_2> legacy;
    ASSERT_EQ(devices_[0].QueryInterface(&current), S_OK);
    ASSERT_EQ(devices_[0].QueryInterface(&legacy), S_OK);
    EXPECT_EQ(legacy->SetInt(bmdDeckLinkConfigAudioInputConnection, bmdAudioConnectionAESEBU_v10_2),
              S_OK);
    LONGLONG v = 0;
    EXPECT_EQ(current->GetInt(bmdDeckLinkConfigAudioInputConnection, &v), S_OK);
    EXPECT_EQ(v, bmdAudioConnectionAESEBU);
    EXPECT_EQ(current->SetInt(bmdDeckLinkConfigAudioInputConnection, bmdAudioConnectionAnalog),
              S_OK);
    EXPECT_EQ(legacy->GetInt(bmdDeckLinkConfigAudioInputConnection, &v), S_OK);
    EXPECT_EQ(v, bmdAudioConnectionAnalog_v10_2);
    EXPECT_EQ(current->SetInt(bmdDeckLinkConfigVideoOutputConnection, 0x08),
              E_INVALIDARG);  // no component
}

TEST_F(SimDeckLink, FramesShowFromTheNextBoundaryReplaceAndRepeat) {
    UseRig("4k");
    auto out = Output();
    ASSERT_EQ(out->EnableVideoOutput(bmdModeHD1080p25, 0), S_OK);
    BMDTimeValue hw, in_frame, tpf;
    ASSERT_EQ(out->GetHardwareReferenceClock(10'000'000, &hw, &in_frame, &tpf), S_OK);
    EXPECT_EQ(tpf, 400'000);
    clock_.Advance(tpf - in_frame + 1000);  // 0.1 ms into a period
    auto a = Frame(out, bmdFormat8BitYUV, 1), b = Frame(out, bmdFormat8BitYUV, 2);
    ASSERT_EQ(out->DisplayVideoFrameSync(a), S_OK);
    ASSERT_EQ(out->DisplayVideoFrameSync(b), S_OK);  // same period: replaces a
    unsigned int buffered = 9;
    EXPECT_EQ(out->GetBufferedVideoFrameCount(&buffered), S_OK);
    EXPECT_EQ(buffered, 1u);
    EXPECT_EQ(Stats().periods, 0);
    clock_.Advance(tpf);      // b goes on air
    clock_.Advance(2 * tpf);  // two repeats
    OxSimCardStats s = Stats();
    EXPECT_EQ(s.new_frames, 1);
    EXPECT_EQ(s.replaced, 1);
    EXPECT_EQ(s.repeats, 2);
    EXPECT_EQ(s.periods, 3);
}

TEST_F(SimDeckLink, HardwareClockRunsAtTheModesExactRateWithDrift) {
    UseRig("4k");
    auto out = Output();
    ASSERT_EQ(out->EnableVideoOutput(bmdModeHD1080i5994, 0), S_OK);
    BMDTimeValue hw0, in0, tpf;
    ASSERT_EQ(out->GetHardwareReferenceClock(30000, &hw0, &in0, &tpf), S_OK);
    EXPECT_EQ(tpf, 1001);  // exact in the mode's own scale
    clock_.Advance(10'000'000);
    BMDTimeValue hw1, in1;
    ASSERT_EQ(out->GetHardwareReferenceClock(30000, &hw1, &in1, &tpf), S_OK);
    EXPECT_EQ(hw1 - hw0, 30000);
    EXPECT_EQ((hw1 - in1) % 1001, (hw0 - in0) % 1001);  // boundaries stay on the frame grid
    ASSERT_EQ(driver().set_fault(0, "drift-ppm", 100), S_OK);
    ASSERT_EQ(out->GetHardwareReferenceClock(10'000'000, &hw0, &in0, &tpf), S_OK);
    clock_.Advance(100'000'000);  // 10 s at +100 ppm: 1 ms more
    ASSERT_EQ(out->GetHardwareReferenceClock(10'000'000, &hw1, &in1, &tpf), S_OK);
    EXPECT_EQ(hw1 - hw0, 100'000'000 + 10'000);
    // Jitter delays readings by up to 0.5 ms; they never run backwards.
    ASSERT_EQ(driver().set_fault(0, "drift-ppm", 0), S_OK);
    ASSERT_EQ(driver().set_fault(0, "jitter-us", 500), S_OK);
    BMDTimeValue last = 0, spread = 0;
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(out->GetHardwareReferenceClock(10'000'000, &hw0, &in0, &tpf), S_OK);
        EXPECT_GE(hw0, last);
        spread = std::max(spread, hw0 - hw1);
        last = hw0;
    }
    EXPECT_GT(spread, 0);
    EXPECT_LE(spread, 5'000);
}

TEST_F(SimDeckLink, AudioDrainsAt48kHzFromABoundedBuffer) {
    UseRig("hd-sdi");
    auto out = Output();
    ASSERT_EQ(out->EnableAudioOutput(48000, 16, 2, 0), S_OK);
    EXPECT_EQ(out->EnableAudioOutput(48000, 16, 16, 0), E_INVALIDARG);  // card takes 2 or 8
    std::vector<std::int16_t> samples(2 * 60000, 7);
    unsigned int written = 0;
    ASSERT_EQ(out->WriteAudioSamplesSync(samples.data(), 60000, &written), S_OK);
    EXPECT_EQ(written, 48000u);  // the buffer holds one second
    clock_.Advance(2'500'000);   // 0.25 s
    unsigned int buffered = 0;
    ASSERT_EQ(out->GetBufferedAudioSampleFrameCount(&buffered), S_OK);
    EXPECT_EQ(buffered, 36000u);
    clock_.Advance(10'000'000);
    ASSERT_EQ(out->GetBufferedAudioSampleFrameCount(&buffered), S_OK);
    EXPECT_EQ(buffered, 0u);
    EXPECT_EQ(Stats().audio_played, 48000);
    EXPECT_EQ(Stats().audio_silence, 12000);  // the underrun plays silence
}

// The recording as a reader takes it (the log's packets are checked in DeckLinkCaptions).
TEST_F(SimDeckLink, RecordingIsReadableWithALogLineEveryPeriod) {
    const fs::path dir = orvex::test::g_temp_registry->dir() / "rec";
    UseRig("hd-sdi", dir.string());
    auto out = Output();
    ASSERT_EQ(out->EnableVideoOutput(bmdModeHD1080i50, 0), S_OK);
    ASSERT_EQ(out->EnableAudioOutput(48000, 32, 8, 0), S_OK);
    BMDTimeValue hw, in_frame, tpf;
    ASSERT_EQ(out->GetHardwareReferenceClock(10'000'000, &hw, &in_frame, &tpf), S_OK);
    clock_.Advance(tpf - in_frame + 30'000);
    ASSERT_EQ(out->DisplayVideoFrameSync(Frame(out, bmdFormat10BitYUV, 0x40)), S_OK);
    std::vector<std::int32_t> audio(8 * 4800, 1 << 20);
    unsigned int written = 0;
    ASSERT_EQ(out->WriteAudioSamplesSync(audio.data(), 4800, &written), S_OK);
    clock_.Advance(3 * tpf);
    ASSERT_EQ(out->DisableAudioOutput(), S_OK);
    ASSERT_EQ(out->DisableVideoOutput(), S_OK);

    const std::string base = (dir / "decklink-sdi-1-1").string();
    Probe v, a;
    ReadWithLibav(base + ".y4m", &v);
    EXPECT_EQ(v.packets, 3);
    EXPECT_EQ(v.par.width, 1920);
    EXPECT_EQ(v.par.height, 1080);
    EXPECT_EQ(v.par.format, AV_PIX_FMT_YUV422P10LE);
    EXPECT_EQ(v.rate.num * 1, 25 * v.rate.den);
    EXPECT_EQ(v.par.field_order, AV_FIELD_TT);
    ReadWithLibav(base + ".wav", &a);
    EXPECT_EQ(a.par.ch_layout.nb_channels, 8);
    EXPECT_EQ(a.par.sample_rate, 48000);
    EXPECT_EQ(a.par.codec_id, AV_CODEC_ID_PCM_S32LE);
    // The WAV starts with the first period on air (37 ms after the write, whose samples before
    // it are not recorded) and ends with the audio output, 3 ms into the third period.
    EXPECT_EQ(fs::file_size(base + ".wav"), 68u + (2u * 1920u + 144u) * 32u);

    std::ifstream log(base + ".jsonl");
    int lines = 0;
    for (std::string l; std::getline(log, l);) ++lines;
    EXPECT_EQ(lines, 3);  // one line a period
}

TEST_F(SimDeckLink, ReleasingTheLastDeviceEndsTheOutputAndCompletesTheRecording) {
    const fs::path dir = orvex::test::g_temp_registry->dir() / "rel";
    UseRig("hdmi", dir.string());
    {
        auto out = Output();
        ASSERT_EQ(out->EnableVideoOutput(bmdModeHD720p50, 0), S_OK);
        ASSERT_EQ(out->EnableAudioOutput(48000, 16, 2, 0), S_OK);
        auto frame = Frame(out, bmdFormat8BitYUV, 0x80, 1280, 720);
        ASSERT_EQ(out->DisplayVideoFrameSync(frame), S_OK);
        std::vector<std::int16_t> audio(2 * 960, 3);
        unsigned int written = 0;
        ASSERT_EQ(out->WriteAudioSamplesSync(audio.data(), 960, &written), S_OK);
        clock_.Advance(200'000 * 5);  // five 720p50 periods
    }
    devices_.clear();  // no DisableVideoOutput/DisableAudioOutput: the client just lets go
    const std::string base = (dir / "intensity-pro-4k-1-1").string();
    Probe v;
    ReadWithLibav(base + ".y4m", &v);
    EXPECT_EQ(v.packets, 5);
    EXPECT_EQ(v.par.format, AV_PIX_FMT_YUV422P);
    // From the first period's start to the release, as the fifth period begins.
    EXPECT_EQ(fs::file_size(base + ".wav"), 44u + 4u * 960u * 4u);
}

TEST_F(SimDeckLink, RigComesFromTheCardLibrarysRegistryKey) {
    const fs::path file = orvex::test::g_temp_registry->dir() / "rig.xml";
    {
        std::ofstream f(file);
        f << R"(<rig><card model="Test Card A" video-out="sdi" modes="hd" formats="2vuy"
                 audio-bits="16" audio-channels="2" frame-memory="8294400"/>
                 <card model="Test Card B" video-out="hdmi"/></rig>)";
    }
    orvex::platform::RegistryKey key;
    ASSERT_EQ(key.Create(orvex::platform::RegRoot::kClassesRoot,
                         u"CLSID\\" + orvex::com::GuidToString(CLSID_CDeckLinkIterator)),
              ERROR_SUCCESS);
    ASSERT_EQ(key.SetString(u"Rig", orvex::com::ToUtf16(file.string())), ERROR_SUCCESS);
    ::unsetenv("ORVEX_DECKLINK_RIG");
    driver().reset();
    devices_ = driver().Devices();
    ASSERT_EQ(devices_.size(), 2u);
    CComBSTR name;
    ASSERT_EQ(devices_[1]->GetDisplayName(&name), S_OK);
    EXPECT_EQ(orvex::com::ToUtf8(name.View()), "Test Card B");
    // The card's frame memory holds two 1080 8-bit frames, not three.
    auto out = Output(0);
    ASSERT_EQ(out->EnableVideoOutput(bmdModeHD1080i50, 0), S_OK);
    auto a = Frame(out, bmdFormat8BitYUV, 0), b = Frame(out, bmdFormat8BitYUV, 0);
    CComPtr<IDeckLinkMutableVideoFrame> c;
    EXPECT_EQ(out->CreateVideoFrame(1920, 1080, 3840, bmdFormat8BitYUV, 0, &c), E_OUTOFMEMORY);
    a = nullptr;
    EXPECT_EQ(out->CreateVideoFrame(1920, 1080, 3840, bmdFormat8BitYUV, 0, &c), S_OK);
    // A broken setting lists no cards and says why.
    ASSERT_EQ(key.SetString(u"Rig", u"/no/such/rig.xml"), ERROR_SUCCESS);
    devices_.clear();
    a = b = c = nullptr;
    out = nullptr;
    driver().reset();
    char error[256] = {};
    EXPECT_EQ(driver().count(error, sizeof error), 0);
    EXPECT_NE(std::string(error).find("/no/such/rig.xml"), std::string::npos) << error;
    key.DeleteValue(u"Rig");
}

TEST_F(SimDeckLink, ConcurrentCallsKeepTheCardConsistent) {
    UseRig("4k");
    auto out = Output();
    ASSERT_EQ(out->EnableVideoOutput(bmdModePAL, 0), S_OK);
    ASSERT_EQ(out->EnableAudioOutput(48000, 16, 2, 0), S_OK);
    // A few frames show ThreadSanitizer any race; elsewhere many make rare orders likely.
    const int frames = orvex::test::StressCount(200);
    std::atomic<bool> stop{false};
    std::atomic<int> shown{0};
    std::thread player([&] {
        std::vector<std::int16_t> audio(2 * 960, 1);
        for (int i = 0; i < frames; ++i) {
            auto f = Frame(out, bmdFormat8BitYUV, static_cast<std::uint8_t>(i), 720, 576);
            if (out->DisplayVideoFrameSync(f) == S_OK) ++shown;
            unsigned int written = 0;
            out->WriteAudioSamplesSync(audio.data(), 960, &written);
        }
    });
    std::thread reader([&] {
        BMDTimeValue hw, in, tpf, last = 0;
        while (!stop) {
            if (out->GetHardwareReferenceClock(10'000'000, &hw, &in, &tpf) == S_OK) {
                EXPECT_GE(hw, last);
                EXPECT_GE(in, 0);
                EXPECT_LE(in, tpf);
                last = hw;
            }
            unsigned int n;
            out->GetBufferedAudioSampleFrameCount(&n);
        }
    });
    for (int i = 0; i < frames * 3 / 2; ++i) clock_.Advance(100'000);
    player.join();
    stop = true;
    reader.join();
    OxSimCardStats s = Stats();
    EXPECT_EQ(shown.load(), frames);
    unsigned int pending = 9;
    ASSERT_EQ(out->GetBufferedVideoFrameCount(&pending), S_OK);
    // Every frame went on air, was replaced within its period, or waits for the next one.
    EXPECT_EQ(s.new_frames + s.replaced + pending, frames);
    EXPECT_EQ(s.periods, s.new_frames + s.repeats);
    EXPECT_EQ(s.frames_alive, 0);
}

}  // namespace
