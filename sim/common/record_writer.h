// The thread that writes a virtual device's recording, so that the device's clock never waits
// for the disk. Jobs run in the order they were given. What waits in the queue is bounded in
// bytes: a job that would pass the bound is refused, and the device notes in its log that it
// dropped that part of the recording (a recording never loses something silently). Jobs that
// carry no bytes of their own (log lines, silence, closing a file) always queue.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace orvex::sim {

class RecordWriter {
public:
    static constexpr std::size_t kDefaultBound = 256u << 20;

    explicit RecordWriter(std::size_t bound_bytes = kDefaultBound);
    // Runs every queued job, then ends the thread.
    ~RecordWriter();
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;

    // Queues `job`, which holds `bytes` of data until it has run. False (the job dropped) when
    // those bytes would pass the bound, or when the thread could not start.
    bool Submit(std::size_t bytes, std::function<void()> job);
    // Waits until every job queued before the call has run. Never call it from a job.
    void Drain();
    // Jobs refused since the start.
    std::uint64_t Refused() const;

private:
    void Run();

    const std::size_t bound_;
    mutable std::mutex lock_;
    std::condition_variable wake_, done_;
    std::deque<std::pair<std::size_t, std::function<void()>>> queue_;
    std::size_t queued_bytes_ = 0;
    std::uint64_t submitted_ = 0, finished_ = 0, refused_ = 0;
    bool stop_ = false;
    bool started_ = false;
    std::thread thread_;
};

}  // namespace orvex::sim
