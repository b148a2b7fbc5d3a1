#include "sim/common/record_writer.h"

#include <system_error>

namespace orvex::sim {

RecordWriter::RecordWriter(std::size_t bound_bytes) : bound_(bound_bytes) {
    try {
        thread_ = std::thread([this] { Run(); });
        started_ = true;
    } catch (const std::system_error&) {
        started_ = false;  // every job is refused
    }
}

RecordWriter::~RecordWriter() {
    {
        std::lock_guard guard(lock_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool RecordWriter::Submit(std::size_t bytes, std::function<void()> job) {
    {
        std::lock_guard guard(lock_);
        if (!started_ || stop_ || (bytes > 0 && queued_bytes_ + bytes > bound_)) {
            ++refused_;
            return false;
        }
        queue_.emplace_back(bytes, std::move(job));
        queued_bytes_ += bytes;
        ++submitted_;
    }
    wake_.notify_one();
    return true;
}

void RecordWriter::Drain() {
    std::unique_lock guard(lock_);
    const std::uint64_t target = submitted_;
    done_.wait(guard, [&] { return finished_ >= target || !started_; });
}

std::uint64_t RecordWriter::Refused() const {
    std::lock_guard guard(lock_);
    return refused_;
}

void RecordWriter::Run() {
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [&] { return stop_ || !queue_.empty(); });
        if (queue_.empty()) return;  // stopping, and everything has run
        auto [bytes, job] = std::move(queue_.front());
        queue_.pop_front();
        guard.unlock();
        try {
            job();  // jobs write files and note their own failures
        } catch (...) {
            // A job that ran out of memory loses its part of the recording, not the thread.
        }
        job = nullptr;
        guard.lock();
        queued_bytes_ -= bytes;
        ++finished_;
        done_.notify_all();
    }
}

}  // namespace orvex::sim
