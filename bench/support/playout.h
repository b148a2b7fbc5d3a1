// What the playout benchmarks of both card backends share: the host's ring of frames, the
// record of when each frame was taken and when it reached the card, processor time per
// thread, and percentiles.
#pragma once

#include <pthread.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "com/ptr.h"
#include "orvex/interfaces.h"
#include "platform/clock.h"

namespace orvex::bench {

// Where the host's thread is: outside ReceiverFramePut (its own work, not counted), inside it.
// Every other thread is the renderer's or the device's.
enum class HostRole { kNone, kOutside, kInside };
inline thread_local HostRole t_host_role = HostRole::kNone;

inline double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1))];
}

// Processor time of a thread of this process, in seconds (0 when it cannot be read).
inline double ThreadCpuSeconds(pthread_t thread) {
    clockid_t clock{};
    timespec t{};
    if (pthread_getcpuclockid(thread, &clock) != 0 || clock_gettime(clock, &t) != 0) return 0;
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A thread of the renderer, named by the first call that comes from it, and its processor
// time over the counted part of a run.
class ThreadClock {
public:
    void Seen() {
        if (!known_.load(std::memory_order_acquire)) {
            thread_ = pthread_self();
            known_.store(true, std::memory_order_release);
        }
    }
    void Start() { start_ = Read(); }
    double Seconds() const { return Read() - start_; }

private:
    double Read() const {
        return known_.load(std::memory_order_acquire) ? ThreadCpuSeconds(thread_) : 0;
    }
    std::atomic<bool> known_{false};
    pthread_t thread_{};
    double start_ = 0;
};

// The host's frames: a ring deeper than everything the renderer and the card hold, each frame
// given, when its turn comes, its share of the 48 kHz audio cadence of the rate with a marker
// in the first sample of channel 0 (where the virtual cards look for it) and its number as
// its video id.
class HostFrames {
public:
    static constexpr int kRing = 8;

    // False, with the reason, when the factory refuses the format. UHD at 50 frames/s and up
    // is not in the format table: the factory makes it as a custom format and the frame is
    // then told its own.
    bool Make(IOXFactory* factory, const M_AV_PROPS& av, std::string* error) {
        av_ = av;
        for (int i = 0; i < kRing; ++i) {
            CComPtr<IOXFrame> f;
            M_AV_PROPS make = av;
            make.vidProps.eVideoFormat = eMVF_Custom;
            if (FAILED(factory->OXFrameMake(&make, 0, &f)) || !f || FAILED(f->OXAVPropsSet(&av))) {
                *error = "the frame factory refused the format";
                return false;
            }
            ring_.push_back(f);
        }
        return true;
    }

    IOXFrame* Next(long long n) {
        IOXFrame* f = ring_[static_cast<std::size_t>(n % kRing)];
        const double rate = av_.vidProps.dblRate;
        const auto s0 = static_cast<long long>(static_cast<double>(n) * 48000.0 / rate);
        const auto s1 = static_cast<long long>(static_cast<double>(n + 1) * 48000.0 / rate);
        f->OXAudioAlloc(&av_.audProps, static_cast<int>(s1 - s0));
        OX_FRAME_INFO info{};
        f->OXAllGet(&info);
        const int sample_bytes = av_.audProps.nBitsPerSample / 8;
        if (info.lpAudio && info.cbAudio >= static_cast<unsigned>(sample_bytes))
            reinterpret_cast<BYTE*>(static_cast<std::uintptr_t>(info.lpAudio))[sample_bytes - 1] =
                0x40;
        f->OXVideoIDSet(n);
        return f;
    }

    void Release() { ring_.clear(); }

private:
    M_AV_PROPS av_{};
    std::vector<CComPtr<IOXFrame>> ring_;
};

// When each frame, by its video id, was accepted by ReceiverFramePut (or, when the card
// already had it before the call returned, when the call began), and the latencies of the
// frames that reached the card while counting, in periods.
class Latencies {
public:
    // Room for `frames` made now: what measures takes no memory while it is counted.
    explicit Latencies(std::size_t frames) : put_(frames), accepted_(frames) {
        hand_over_.reserve(frames);
        air_.reserve(frames);
    }
    std::size_t Capacity() const { return put_.size(); }
    void Putting(long long id) { put_[Index(id)].store(platform::Now()); }
    void Accepted(long long id) {
        platform::Ticks zero = 0;
        accepted_[Index(id)].compare_exchange_strong(zero, platform::Now());
    }
    // The frame reached the card now; `to_air` more ticks pass before it is on air.
    void Reached(long long id, platform::Ticks period, platform::Ticks to_air) {
        if (id < 0 || static_cast<std::size_t>(id) >= put_.size() || period <= 0) return;
        platform::Ticks from = accepted_[Index(id)].load();
        if (from == 0) from = put_[Index(id)].load();
        if (from == 0) return;
        const platform::Ticks now = platform::Now();
        hand_over_.push_back(static_cast<double>(now - from) / static_cast<double>(period));
        air_.push_back(static_cast<double>(now + to_air - from) / static_cast<double>(period));
    }
    const std::vector<double>& HandOver() const { return hand_over_; }
    const std::vector<double>& Air() const { return air_; }

private:
    std::size_t Index(long long id) const {
        return std::min(static_cast<std::size_t>(id), put_.size() - 1);
    }
    std::vector<std::atomic<platform::Ticks>> put_, accepted_;
    std::vector<double> hand_over_, air_;  // written by the one thread that reaches the card
};

}  // namespace orvex::bench
