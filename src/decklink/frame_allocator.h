// The memory the card's frames live in. Handed to the card with
// SetVideoOutputFrameMemoryAllocator, it serves two kinds of buffer:
//   - zero copy: a frame already in the output format is armed before CreateVideoFrame, and
//     the card's next allocation gets the frame's own picture; the frame stays referenced
//     until the card returns the buffer (in a short list, made room for at construction:
//     the card holds a few frames at a time);
//   - a pool of `kPoolCount` slots of twice the first requested size, cut from one block,
//     built on first use and reused.
// One mutex guards everything; it is never held while another lock is taken, and frames
// are released only after it is left.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "com/object.h"
#include "com/ptr.h"
#include "decklink/api/decklink_api.h"
#include "orvex/interfaces.h"

namespace orvex::decklink {

class FrameAllocator : public CComObjectRootEx<CComMultiThreadModel>,
                       public IDeckLinkMemoryAllocator {
public:
    static constexpr int kPoolCount = 8;
    // Decommit waits this long for the card to return its buffers, polling.
    static constexpr std::int64_t kDecommitWaitMs = 10'000;

    BEGIN_COM_MAP(FrameAllocator)
    COM_INTERFACE_ENTRY(IDeckLinkMemoryAllocator)
    END_COM_MAP()

    HRESULT FinalConstruct();
    void FinalRelease();

    // IDeckLinkMemoryAllocator (driver threads).
    STDMETHOD(AllocateBuffer)(unsigned int bufferSize, void** allocatedBuffer) override;
    STDMETHOD(ReleaseBuffer)(void* buffer) override;
    STDMETHOD(Commit)() override { return S_OK; }
    STDMETHOD(Decommit)() override;

    // Offers `frame`'s picture to the next allocation. False (nothing armed) when the card
    // still holds that picture or the frame has none.
    bool ArmZeroCopy(IMFrame_I* frame);
    // Drops an armed frame the card did not take.
    void Disarm();

    // For tests and diagnostics.
    struct Counts {
        int pool_slots_out = 0;
        int frames_held = 0;
        bool pool_built = false;
        bool armed = false;
    };
    Counts GetCounts();

private:
    bool AllBackLocked() const {
        return free_.size() == static_cast<std::size_t>(kPoolCount) && held_.empty();
    }
    void FreePoolLocked();
    using Held = std::vector<std::pair<void*, CComPtr<IMFrame_I>>>;
    Held::iterator FindHeldLocked(void* bytes) {
        return std::find_if(held_.begin(), held_.end(),
                            [&](const auto& h) { return h.first == bytes; });
    }

    std::mutex lock_;
    CComPtr<IMFrame_I> pending_;
    std::uint8_t* pending_bytes_ = nullptr;
    long pending_size_ = 0;
    std::uint8_t* block_ = nullptr;  // the pool
    std::size_t slot_size_ = 0;      // 0: no pool
    std::vector<std::uint8_t*> free_;
    bool retire_ = false;  // free the pool once every slot is back
    Held held_;            // zero-copy pictures the card holds, and their frames
};

}  // namespace orvex::decklink
