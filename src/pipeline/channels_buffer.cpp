#include "pipeline/channels_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace orvex::pipeline {

bool GrowBlock::MakeRoom(std::size_t bytes, bool keep) {
    if (head_ + bytes <= capacity_) return true;
    if (bytes <= capacity_) {
        // Enough room once the dropped front is reclaimed.
        if (keep && size_) std::memmove(buf_.get(), buf_.get() + head_, size_);
        head_ = 0;
        return true;
    }
    std::size_t capacity = std::max<std::size_t>(bytes, 256);
    if (capacity_ <= SIZE_MAX / 2) capacity = std::max(capacity, capacity_ + capacity_ / 2);
    std::unique_ptr<BYTE[]> fresh(new (std::nothrow) BYTE[capacity]);
    if (!fresh && capacity > bytes) {
        capacity = bytes;
        fresh.reset(new (std::nothrow) BYTE[capacity]);
    }
    if (!fresh) return false;
    if (keep && size_) std::memcpy(fresh.get(), buf_.get() + head_, size_);
    buf_ = std::move(fresh);
    capacity_ = capacity;
    head_ = 0;
    return true;
}

bool GrowBlock::Resize(std::size_t bytes) {
    if (bytes > size_) {
        if (!MakeRoom(bytes, true)) return false;
        std::memset(buf_.get() + head_ + size_, 0, bytes - size_);
    }
    size_ = bytes;
    return true;
}

bool GrowBlock::Reserve(std::size_t bytes) {
    if (!MakeRoom(bytes, false)) return false;
    size_ = bytes;
    return true;
}

void GrowBlock::DropFront(std::size_t bytes) noexcept {
    bytes = std::min(bytes, size_);
    head_ += bytes;
    size_ -= bytes;
    if (size_ == 0) head_ = 0;
}

void GrowBlock::Free() noexcept {
    buf_.reset();
    capacity_ = head_ = size_ = 0;
}

void GrowBlock::Swap(GrowBlock& other) noexcept {
    std::swap(buf_, other.buf_);
    std::swap(capacity_, other.capacity_);
    std::swap(head_, other.head_);
    std::swap(size_, other.size_);
}

void MChannelsBuffer::RefreshPointers() noexcept {
    const std::size_t n = channels.size();
    for (std::size_t c = 0; c < static_cast<std::size_t>(kMaxAudioChannels); ++c)
        channelData[c] = c < n ? channels[c].data() : nullptr;
}

HRESULT MChannelsBuffer::SetChannelCount(int count) {
    count = std::clamp(count, 0, kMaxAudioChannels);
    const std::size_t bytes = ChannelBytes();
    try {
        channels.resize(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        Clear();
        return E_OUTOFMEMORY;
    }
    return ResizeBlocks(bytes);
}

HRESULT MChannelsBuffer::Resize(std::size_t bytes) {
    if (bytes > limit_) {
        Clear();
        return E_OUTOFMEMORY;
    }
    return ResizeBlocks(bytes);
}

// Every channel to `bytes`; on failure the store is emptied, so no channel is left shorter
// than the others.
HRESULT MChannelsBuffer::ResizeBlocks(std::size_t bytes) {
    for (auto& block : channels) {
        if (!block.Resize(bytes)) {
            Clear();
            return E_OUTOFMEMORY;
        }
    }
    RefreshPointers();
    return S_OK;
}

void MChannelsBuffer::Truncate(std::size_t bytes) noexcept {
    for (auto& block : channels)
        if (bytes < block.size()) block.Resize(bytes);
    RefreshPointers();
}

void MChannelsBuffer::DropFront(std::size_t bytes) noexcept {
    for (auto& block : channels) block.DropFront(bytes);
    RefreshPointers();
}

void MChannelsBuffer::Clear() noexcept {
    for (auto& block : channels) block.Clear();
    RefreshPointers();
}

void MChannelsBuffer::Reset() noexcept {
    channels.clear();
    scratch.Free();
    RefreshPointers();
}

}  // namespace orvex::pipeline
