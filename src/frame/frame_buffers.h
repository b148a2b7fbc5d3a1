// The frame's byte blocks and what fills them: aligned blocks, black pictures, silent audio
// sizes, and the small conversions between pointers and the interfaces' 64-bit addresses.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "formats/picture_geometry.h"
#include "orvex/types.h"

namespace orvex::frame {

// A 64-byte aligned byte block (row routines and card DMA like aligned rows).
class Block {
public:
    explicit Block(std::size_t size);
    ~Block();
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

    BYTE* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::atomic<bool> lent{false};  // a pointer to it left the frame (blocks may be shared)

private:
    BYTE* data_ = nullptr;
    std::size_t size_ = 0;
};
using BlockPtr = std::shared_ptr<Block>;

// Bytes of `samples` interleaved samples; 0 when the layout does not tell, and more than a
// LONG holds (never a wrapped value) when the record asks for too much.
std::int64_t AudioBytes(const M_AUD_PROPS& props, int samples);

// Copies caller bytes (or nothing, for null) into a new block; a null result with
// E_OUTOFMEMORY in *hr when memory is short, and a null result with S_OK for size 0.
BlockPtr CopyBlock(const BYTE* bytes, std::size_t size, HRESULT* hr);

// Fills a picture with black in its own layout (video levels for YUV, zero for RGB).
void FillBlack(eMFCC fcc, const formats::PictureGeometry& geometry, BYTE* p, std::size_t size);

inline LONGLONG AddressOf(const BlockPtr& b) {
    return b ? static_cast<LONGLONG>(reinterpret_cast<std::uintptr_t>(b->data())) : 0;
}
inline LONG SizeOf(const BlockPtr& b) {
    return b ? static_cast<LONG>(b->size()) : 0;
}
inline const BYTE* BytesAt(LONGLONG address) {
    return reinterpret_cast<const BYTE*>(static_cast<std::uintptr_t>(address));
}

// Writes an out value; E_POINTER for a missing out-pointer.
template <class T>
HRESULT PutOut(T* out, const T& value) {
    if (!out) return E_POINTER;
    *out = value;
    return S_OK;
}

// Asked once: the system call is costly and the answer never changes.
DWORD ThisProcess();

}  // namespace orvex::frame
