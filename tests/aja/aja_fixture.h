// An AJA renderer made in this process over virtual boards, on a manual virtual clock that
// the test moves once the renderer's threads wait on it, so every run plays the same way.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "aja/co_ox_renderer_aja.h"
#include "com/object.h"
#include "com/runtime.h"
#include "orvex/ids.h"
#include "platform/clock.h"
#include "platform/dynamic_library.h"
#include "sim_aja/virtual_aja.h"

namespace orvex::test {

inline std::uint64_t Fnv(const std::uint8_t* data, std::size_t size) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, data + i, 8);
        h = (h ^ w) * 0x100000001b3ull;
    }
    for (; i < size; ++i) h = (h ^ data[i]) * 0x100000001b3ull;
    return h;
}

class AjaTest : public ::testing::Test {
protected:
    using Renderer = CComObject<CCoOXRendererAJA>;

    void SetUp() override {
        ASSERT_TRUE(frame_library_.Open(OXFRAME_PATH)) << frame_library_.Error();
        ASSERT_EQ(CoCreateInstance(CLSID_OXFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IOXFactory,
                                   reinterpret_cast<void**>(&factory_)),
                  S_OK);
    }
    void TearDown() override { Close(); }

    void Make(const std::string& boards, const std::string& record = "") {
        Close();
        rig_.UseRig(boards, record);
        ASSERT_EQ(Renderer::CreateInstance(&renderer_), S_OK);
        renderer_->AddRef();
        renderer_->QueryInterface(IID_IOXDevice, reinterpret_cast<void**>(&device_));
        renderer_->QueryInterface(IID_IOXProps, reinterpret_cast<void**>(&props_));
        renderer_->QueryInterface(IID_IOXReceiver, reinterpret_cast<void**>(&receiver_));
        Set(u"input.buffers", u"1000");
    }
    void Close() {
        if (!renderer_) return;
        // The close waits for the playout thread, which may wait on the clock.
        std::atomic<bool> done{false};
        std::thread closer([&] {
            device_->DeviceClose();
            done = true;
        });
        while (!done) {
            clock_.Advance(platform::kTicksPerMillisecond);
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        closer.join();
        device_.Release();
        props_.Release();
        receiver_.Release();
        renderer_->Release();
        renderer_ = nullptr;
    }
    void Set(const char16_t* name, const char16_t* value) {
        ASSERT_EQ(props_->PropsSet(CComBSTR(name), CComBSTR(value)), S_OK);
    }

    // A frame of `format` whose picture bytes are `seed`-derived, with `samples` of 16-bit
    // stereo audio (each sample `seed`, or with a `marker`, that first and silence after) and
    // timecode `tc` frames into the day.
    CComPtr<IOXFrame> Frame(eMVideoFormat format, int width, int height, double rate, int seed,
                            int samples, M_TIMECODE tc = {}, int marker = 0) {
        M_AV_PROPS av{};
        av.vidProps.eVideoFormat = format;
        av.vidProps.fccType = eMFCC_UYVY;
        av.vidProps.nWidth = width;
        av.vidProps.nHeight = height;
        av.vidProps.nRowBytes = width * 2;
        av.vidProps.dblRate = rate;
        av.audProps = M_AUD_PROPS{2, 48000, 16, 0};
        std::vector<std::uint8_t> video(static_cast<std::size_t>(width) * height * 2);
        for (std::size_t i = 0; i < video.size(); i += 64)
            video[i] = static_cast<std::uint8_t>(seed * 7 + i / 64);
        std::vector<std::int16_t> audio(static_cast<std::size_t>(samples) * 2,
                                        static_cast<std::int16_t>(marker ? 0 : seed));
        if (marker && !audio.empty()) audio[0] = static_cast<std::int16_t>(marker);
        CComPtr<IOXFrame> frame;
        EXPECT_EQ(factory_->OXFrameMakeFromMemory(&av, static_cast<LONG>(video.size()),
                                                  reinterpret_cast<LONGLONG>(video.data()), samples,
                                                  static_cast<LONG>(audio.size() * 2),
                                                  reinterpret_cast<LONGLONG>(audio.data()), &frame),
                  S_OK);
        M_TIME time{};
        time.tcFrame = tc;
        if (frame) frame->OXTimeSet(&time);
        checksums_.push_back(Fnv(video.data(), video.size()));
        return frame;
    }

    // Moves the clock a millisecond at a time, once a renderer thread waits on it, until
    // channel `channel` of the first board has started a session.
    bool Opened(int channel = 0) {
        for (int i = 0; i < 100000; ++i) {
            if (rig_.Stats(0, channel).sessions > 0) return true;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
            while (clock_.BlockedWaits() < 1 && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            clock_.Advance(platform::kTicksPerMillisecond);
        }
        return false;
    }
    HRESULT Put(IOXFrame* frame) { return receiver_->ReceiverFramePut(frame, -1, nullptr); }

    VirtualAja rig_;
    platform::VirtualClock clock_{platform::VirtualClock::Mode::kManual, 1'000'000'000};
    platform::DynamicLibrary frame_library_;
    CComPtr<IOXFactory> factory_;
    Renderer* renderer_ = nullptr;
    CComPtr<IOXDevice> device_;
    CComPtr<IOXProps> props_;
    CComPtr<IOXReceiver> receiver_;
    std::vector<std::uint64_t> checksums_;
};

}  // namespace orvex::test
