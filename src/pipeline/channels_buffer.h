// Planar per-channel sample storage of the audio buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "com/object.h"
#include "pipeline/sample_convert.h"

namespace orvex::pipeline {

// A growable heap block of bytes. Dropping bytes from the front only moves a start offset;
// the bytes are compacted when the block has to grow, so consuming a stream costs no copy
// per call.
class GrowBlock {
public:
    GrowBlock() = default;
    GrowBlock(GrowBlock&&) noexcept = default;
    GrowBlock& operator=(GrowBlock&&) noexcept = default;

    BYTE* data() noexcept { return buf_ ? buf_.get() + head_ : nullptr; }
    const BYTE* data() const noexcept { return buf_ ? buf_.get() + head_ : nullptr; }
    std::size_t size() const noexcept { return size_; }

    // New bytes are zeroed. False when memory is short; the content is then unchanged.
    bool Resize(std::size_t bytes);
    // Like Resize, but the content need not survive (scratch use); new size, contents unset.
    bool Reserve(std::size_t bytes);
    void DropFront(std::size_t bytes) noexcept;
    void Clear() noexcept { head_ = size_ = 0; }
    void Free() noexcept;
    void Swap(GrowBlock& other) noexcept;

private:
    bool MakeRoom(std::size_t bytes, bool keep);

    std::unique_ptr<BYTE[]> buf_;
    std::size_t capacity_ = 0;
    std::size_t head_ = 0;
    std::size_t size_ = 0;
};

// Planar storage: one block per channel, every channel the same byte length.
class MChannelsBuffer : public AutoObjBase<MChannelsBuffer, IUnknown> {
public:
    MChannelsBuffer() = default;
    ~MChannelsBuffer() override = default;
    MChannelsBuffer(const MChannelsBuffer&) = delete;
    MChannelsBuffer& operator=(const MChannelsBuffer&) = delete;

    int ChannelCount() const noexcept { return static_cast<int>(channels.size()); }
    // Bytes held by every channel.
    std::size_t ChannelBytes() const noexcept {
        return channels.empty() ? 0 : channels.front().size();
    }
    BYTE* Channel(int index) noexcept { return channelData[index]; }
    template <class T>
    T* ChannelAs(int index) noexcept {
        return reinterpret_cast<T*>(channelData[index]);
    }

    // Sets the channel count (0..128); new channels are silent and as long as the others.
    // A failed allocation empties every channel and returns E_OUTOFMEMORY.
    HRESULT SetChannelCount(int count);
    // Sets the byte length of every channel; new bytes are zeroed. A failed allocation (or a
    // length above the limit) empties every channel and returns E_OUTOFMEMORY.
    HRESULT Resize(std::size_t bytes);
    HRESULT Grow(std::size_t bytes) { return Resize(ChannelBytes() + bytes); }
    // Cuts every channel to `bytes` (never grows).
    void Truncate(std::size_t bytes) noexcept;
    void DropFront(std::size_t bytes) noexcept;
    // Empties every channel, keeping the channel count.
    void Clear() noexcept;
    // Removes every channel and frees the memory.
    void Reset() noexcept;
    // Largest byte length a channel may reach; growing beyond it fails like an allocation.
    void SetByteLimit(std::size_t bytes) noexcept { limit_ = bytes; }

    // Re-reads channelData after channel blocks were changed or swapped directly.
    void RefreshPointers() noexcept;

    // Start of each channel's bytes; null beyond the channel count.
    BYTE* channelData[kMaxAudioChannels] = {};
    std::vector<GrowBlock> channels;
    GrowBlock scratch;

private:
    HRESULT ResizeBlocks(std::size_t bytes);

    std::size_t limit_ = SIZE_MAX;
};

}  // namespace orvex::pipeline
