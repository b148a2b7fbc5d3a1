// Measures, without a recording, where each frame's audio began against the frame's first
// period: for hosts (benchmarks, long runs) whose frames carry a marker in the first sample of
// channel 0 of their audio and silence in channel 0 elsewhere. Each marker the device plays is
// matched with the nearest start of a new frame on air; the offset is the marker's position
// less that start, in sample frames (positive: the audio came late). A frame with no marker
// within a period of its start counts as missing.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace orvex::sim {

struct MarkerFigures {
    std::int64_t frames = 0;   // frames whose marker was found
    std::int64_t missing = 0;  // frames without one
    std::int64_t min_offset = 0, max_offset = 0;
};

class MarkerWatch {
public:
    // A new frame went on air; its period's audio starts at grid position `start` and spans
    // `span` sample frames. (A marker that came early may already have played.)
    void FrameStart(std::int64_t start, std::int64_t span) {
        span_ = span;
        Expire(start - 2 * span);
        if (auto m = Nearest(markers_, start, span); m != markers_.end()) {
            Match(*m - start);
            markers_.erase(m);
        } else {
            starts_.push_back(start);
        }
    }
    // Sample frames played from grid position `pos`: `frame_bytes` apart, channel 0 first, of
    // `bits` bits (16 or 32).
    void Samples(std::int64_t pos, const std::uint8_t* data, std::uint64_t frames,
                 std::size_t frame_bytes, int bits) {
        for (std::uint64_t i = 0; i < frames; ++i) {
            const std::uint8_t* s = data + i * frame_bytes;
            std::int32_t v = 0;
            if (bits == 16) {
                std::int16_t h = 0;
                std::memcpy(&h, s, 2);
                v = h;
            } else {
                std::memcpy(&v, s, 4);
            }
            if (v != 0) Marker(pos + static_cast<std::int64_t>(i));
        }
    }
    // Counts what is still waiting (at the end of a run).
    MarkerFigures Figures() const {
        MarkerFigures f = figures_;
        f.missing += static_cast<std::int64_t>(starts_.size());
        return f;
    }

private:
    // A few positions in order, without allocating (the card calls this on its caller's
    // thread, whose allocations the benchmarks count).
    class Positions {
    public:
        using iterator = std::int64_t*;
        iterator begin() { return items_.data(); }
        iterator end() { return items_.data() + size_; }
        bool empty() const { return size_ == 0; }
        std::size_t size() const { return size_; }
        std::int64_t front() const { return items_[0]; }
        void push_back(std::int64_t v) {
            if (size_ == items_.size()) erase(begin());  // the oldest goes
            items_[size_++] = v;
        }
        void pop_front() { erase(begin()); }
        void erase(iterator it) {
            std::copy(it + 1, end(), it);
            --size_;
        }

    private:
        std::array<std::int64_t, 32> items_{};
        std::size_t size_ = 0;
    };
    static Positions::iterator Nearest(Positions& in, std::int64_t pos, std::int64_t span) {
        auto best = in.end();
        for (auto it = in.begin(); it != in.end(); ++it)
            if (std::abs(*it - pos) <= span &&
                (best == in.end() || std::abs(*it - pos) < std::abs(*best - pos)))
                best = it;
        return best;
    }
    void Marker(std::int64_t pos) {
        if (auto s = Nearest(starts_, pos, span_); s != starts_.end()) {
            Match(pos - *s);
            starts_.erase(s);
        } else {
            markers_.push_back(pos);
        }
    }
    void Match(std::int64_t offset) {
        if (figures_.frames == 0) figures_.min_offset = figures_.max_offset = offset;
        figures_.min_offset = std::min(figures_.min_offset, offset);
        figures_.max_offset = std::max(figures_.max_offset, offset);
        ++figures_.frames;
    }
    void Expire(std::int64_t before) {
        while (!starts_.empty() && starts_.front() < before) {
            ++figures_.missing;
            starts_.pop_front();
        }
        while (!markers_.empty() && markers_.front() < before) markers_.pop_front();
    }

    Positions starts_;   // frame starts still without a marker
    Positions markers_;  // markers that came before any start they could belong to
    std::int64_t span_ = 0;
    MarkerFigures figures_;
};

}  // namespace orvex::sim
