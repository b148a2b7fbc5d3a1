#include "frame/frame_buffers.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/process.h"

namespace orvex::frame {
namespace {

constexpr std::align_val_t kBlockAlignment{64};

}  // namespace

Block::Block(std::size_t size) {
    data_ = static_cast<BYTE*>(::operator new(size, kBlockAlignment, std::nothrow));
    size_ = data_ ? size : 0;
}

Block::~Block() {
    if (data_) ::operator delete(data_, kBlockAlignment);
}

std::int64_t AudioBytes(const M_AUD_PROPS& props, int samples) {
    if (props.nChannels <= 0 || props.nBitsPerSample <= 0 || samples <= 0) return 0;
    // Each factor is below 2^31 and the sample width below 2^29: the first product fits, the
    // second is bounded before it is formed.
    const std::int64_t frame =
        (std::int64_t{props.nBitsPerSample} + 7) / 8 * std::int64_t{props.nChannels};
    constexpr std::int64_t kTooMany = std::int64_t{0x7FFFFFFF} + 1;
    if (samples > kTooMany / frame) return kTooMany;
    return frame * samples;
}

BlockPtr CopyBlock(const BYTE* bytes, std::size_t size, HRESULT* hr) {
    *hr = S_OK;
    if (size == 0) return nullptr;
    BlockPtr b = std::make_shared<Block>(size);
    if (!b->data()) {
        *hr = E_OUTOFMEMORY;
        return nullptr;
    }
    if (bytes) std::memcpy(b->data(), bytes, size);
    return b;
}

void FillBlack(eMFCC fcc, const formats::PictureGeometry& geometry, BYTE* p, std::size_t size) {
    auto pattern = [&](const BYTE* unit, std::size_t n) {
        for (std::size_t i = 0; i + n <= size; i += n) std::memcpy(p + i, unit, n);
    };
    switch (fcc) {
        case eMFCC_UYVY:
        case eMFCC_HDYC: {
            static constexpr BYTE k[] = {0x80, 0x10, 0x80, 0x10};
            pattern(k, sizeof k);
            return;
        }
        case eMFCC_YUY2:
        case eMFCC_YVYU: {
            static constexpr BYTE k[] = {0x10, 0x80, 0x10, 0x80};
            pattern(k, sizeof k);
            return;
        }
        case eMFCC_v210: {
            // Cb Y Cr | Y Cb Y | Cr Y Cb | Y Cr Y, 10 bits each, little-endian words.
            static constexpr BYTE k[] = {0x00, 0x02, 0x01, 0x20, 0x40, 0x00, 0x08, 0x04,
                                         0x00, 0x02, 0x01, 0x20, 0x40, 0x00, 0x08, 0x04};
            pattern(k, sizeof k);
            return;
        }
        default:
            break;
    }
    if (geometry.planes > 1) {
        // Planar YUV: black luma, neutral chroma.
        const auto luma = std::min(static_cast<std::size_t>(geometry.plane_bytes[0]), size);
        std::memset(p, 0x10, luma);
        std::memset(p + luma, 0x80, size - luma);
        return;
    }
    std::memset(p, 0, size);
}

DWORD ThisProcess() {
    static const DWORD id = static_cast<DWORD>(orvex::platform::CurrentProcessId());
    return id;
}

}  // namespace orvex::frame
