// Memory for the strings and lists of the nodes that one parse builds, taken from large
// chunks instead of one heap block each. Every block carries a header naming its chunk
// (null for a block of the heap); a chunk goes when its last block has gone and the parse
// has let go of it. Blocks are freed through the header, so lists and strings move and
// swap between any nodes and are edited from any thread after the parse; only what a parse
// builds on its own thread comes from its chunks, everything else from the heap.
#pragma once

#include <algorithm>
#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/asan_poison.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace XMLParse {

namespace arena_detail {

inline constexpr std::size_t kHeader = sizeof(void*);
inline constexpr std::size_t kMaxChunk = 64 * 1024;
// Blocks taken are counted by the holder alone, without an atomic operation each, and added
// to the live count when it lets go; until then the count starts from kHeld, far above any
// number of releases, so that it cannot reach zero while the holder takes.
inline constexpr std::size_t kHeld = std::size_t{1} << 48;

struct Chunk {
    std::atomic<std::size_t> live{kHeld};  // kHeld while held, less the blocks released
    std::size_t taken = 0;                 // blocks given out, known to the holder
    char* next = nullptr;
    char* end = nullptr;

    void Release() noexcept {
        if (live.fetch_sub(1, std::memory_order_acq_rel) == 1) Free();
    }
    // The holder lets go: what it took becomes part of the count.
    void LetGo() noexcept {
        const std::size_t left = kHeld - taken;
        if (live.fetch_sub(left, std::memory_order_acq_rel) == left) Free();
    }
    void Free() noexcept {
        this->~Chunk();
        ::operator delete(this);
    }
    // A block of `size` bytes (from BlockSize) with its header set, or null when the chunk
    // has no room for it. Only the holder takes.
    void* Take(std::size_t size) noexcept {
        if (static_cast<std::size_t>(end - next) < size) return nullptr;
        char* block = next;
        next += size;
        ++taken;
        ORVEX_UNPOISON(block, size);
        *reinterpret_cast<Chunk**>(block) = this;
        return block + kHeader;
    }
};

// The chunk that this thread's parse takes from, held by the parse; null outside a parse.
extern constinit thread_local Chunk* t_chunk;

// Releases counted by the batches of this thread, not yet settled with their chunk; `chunk`
// is null outside a batch.
struct PendingReleases {
    int batches = 0;
    Chunk* chunk = nullptr;
    std::size_t count = 0;

    void Settle() noexcept {
        if (!chunk) return;
        Chunk* settled = chunk;
        chunk = nullptr;
        const std::size_t n = count;
        count = 0;
        if (settled->live.fetch_sub(n, std::memory_order_acq_rel) == n) settled->Free();
    }
};
extern constinit thread_local PendingReleases t_pending;

constexpr std::size_t BlockSize(std::size_t bytes) {
    return kHeader + (bytes + kHeader - 1) / kHeader * kHeader;
}

}  // namespace arena_detail

class ParseArena {
public:
    // `bytes` with the header in front: from the chunks of this thread's parse, if one is
    // running, else from the heap. Throws std::bad_alloc like operator new. The common case,
    // a small block from a chunk with room, is in line.
    static void* Allocate(std::size_t bytes) {
        using namespace arena_detail;
        Chunk* chunk = t_chunk;
        if (chunk && bytes <= kMaxChunk / 8) {
            if (void* block = chunk->Take(BlockSize(bytes))) return block;
        }
        return AllocateSlow(bytes);
    }
    // A block of `bytes` from Allocate. The common case in a teardown, a block of the chunk
    // that the batch counts already, is in line.
    static void Release(void* block, std::size_t bytes) noexcept {
        using namespace arena_detail;
        char* head = static_cast<char*>(block) - kHeader;
        Chunk* chunk = *reinterpret_cast<Chunk**>(head);
        PendingReleases& pending = t_pending;
        if (pending.chunk && chunk == pending.chunk) {
            // The room is not reused; under AddressSanitizer a use after release still shows.
            ORVEX_POISON(head, BlockSize(bytes));
            ++pending.count;
            return;
        }
        ReleaseSlow(block, bytes);
    }

    // While a batch lives on a thread, the blocks released there are counted against their
    // chunk on the thread and settled, one atomic step per chunk, when the outermost batch
    // ends: tearing down a tree releases many blocks of few chunks.
    class Batch {
    public:
        Batch() noexcept;
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
    };

    // While a scope lives, blocks taken on its thread come from chunks; `hint` is the number
    // of bytes the parse will probably need.
    class Scope {
    public:
        explicit Scope(std::size_t hint) noexcept;
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        void* previous_;
    };

private:
    static void* AllocateSlow(std::size_t bytes);
    static void ReleaseSlow(void* block, std::size_t bytes) noexcept;
};

template <class T>
struct ParseAlloc {
    static_assert(alignof(T) <= alignof(void*), "blocks are aligned for pointers");
    using value_type = T;
    // Any instance frees any block: the block's header says where it came from.
    using is_always_equal = std::true_type;
    using propagate_on_container_move_assignment = std::true_type;

    ParseAlloc() = default;
    template <class U>
    ParseAlloc(const ParseAlloc<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T) / 2)
            throw std::bad_array_new_length();
        return static_cast<T*>(ParseArena::Allocate(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { ParseArena::Release(p, n * sizeof(T)); }

    template <class U>
    bool operator==(const ParseAlloc<U>&) const noexcept {
        return true;
    }
};

template <class T>
using ParseVector = std::vector<T, ParseAlloc<T>>;

// The text of a node's name, of an attribute's name or value or of a text run. Up to eight
// characters, as most names and values of a tree are, are kept inside the object and copied
// in one step; longer ones take a block (ParseArena) of their own. A text written over
// (assign) reuses its block while the new text fits, so that a value rewritten again and
// again, as the figures of a statistics node are, takes memory only the first time.
class NodeText {
public:
    static constexpr std::size_t kInside = 8;
    // Holds a double with six decimals up to 1e16.
    static constexpr std::size_t kFigureRoom = 24;

    NodeText() noexcept : inside_{} {}
    explicit NodeText(std::u16string_view text) : inside_{} { Keep(text, false); }
    // With `padded`, kInside characters can be read from text.data() whatever its length.
    NodeText(std::u16string_view text, bool padded) : inside_{} { Keep(text, padded); }
    NodeText(const NodeText& other) : inside_{} {
        Keep(other, other.size_ <= kInside);  // the room inside can always be read whole
    }
    NodeText(NodeText&& other) noexcept : inside_{} { Steal(other); }
    NodeText& operator=(const NodeText& other) {
        if (this != &other) assign(other);
        return *this;
    }
    NodeText& operator=(NodeText&& other) noexcept {
        if (this != &other) {
            Drop();
            Steal(other);
        }
        return *this;
    }
    ~NodeText() { Drop(); }

    // `text` with the letters A to Z lower-cased, as tag names are kept.
    static NodeText LowerAscii(std::u16string_view text, bool padded) {
        NodeText out;
#if defined(__SSE2__)
        if (padded && text.size() <= kInside) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data()));
            const __m128i from_a = _mm_sub_epi16(v, _mm_set1_epi16(u'A'));
            const __m128i upper = _mm_cmpeq_epi16(
                _mm_subs_epu16(from_a, _mm_set1_epi16(u'Z' - u'A')), _mm_setzero_si128());
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out.inside_),
                             _mm_add_epi16(v, _mm_and_si128(upper, _mm_set1_epi16(32))));
            out.size_ = static_cast<std::uint32_t>(text.size());
            return out;
        }
#endif
        char16_t* at = out.Room(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            const char16_t c = text[i];
            at[i] = c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c;
        }
        return out;
    }
    // A text of at most `room` characters written by `fill(out)`, which returns how many.
    template <class Fill>
    static NodeText Write(std::size_t room, Fill&& fill) {
        NodeText out;
        char16_t* at = out.Room(room);
        const std::size_t written = fill(at);
        if (room > kInside && written <= kInside) {
            // Short after all: inside, and the block goes.
            NodeText inside;
            std::memcpy(inside.inside_, at, written * sizeof(char16_t));
            inside.size_ = static_cast<std::uint32_t>(written);
            return inside;
        }
        out.size_ = static_cast<std::uint32_t>(written);
        return out;
    }

    std::size_t size() const noexcept {
        return size_;
    }
    bool empty() const noexcept {
        return size_ == 0;
    }
    const char16_t* data() const noexcept {
        return room_ != 0 ? block_ : inside_;
    }
    operator std::u16string_view() const noexcept {
        return {data(), size_};
    }

    // Room for at least `n` characters, kept by the texts assigned later while they fit.
    void reserve(std::size_t n) {
        if (n <= kInside || n <= room_) return;
        NodeText fresh;
        fresh.Room(n);
        fresh.size_ = size_;
        std::memcpy(fresh.block_, data(), size_ * sizeof(char16_t));
        Drop();
        Steal(fresh);
    }

    void assign(std::u16string_view text) {
        if (room_ != 0 && text.size() <= room_) {
            // An empty view may have no data at all.
            if (!text.empty()) std::memmove(block_, text.data(), text.size() * sizeof(char16_t));
            size_ = static_cast<std::uint32_t>(text.size());
            return;
        }
        NodeText fresh;
        if (text.size() > kInside) {
            // Room for any number a figure of the statistics may grow to: a figure outgrows
            // its room once.
            fresh.Room(std::max<std::size_t>(kFigureRoom,
                                             (text.size() + kInside - 1) / kInside * kInside));
            fresh.size_ = static_cast<std::uint32_t>(text.size());
            std::memcpy(fresh.block_, text.data(), text.size() * sizeof(char16_t));
        } else {
            fresh.Keep(text, false);
        }
        Drop();
        Steal(fresh);
    }
    void append(std::u16string_view text) {
        if (text.empty()) return;
        const std::u16string_view own = *this;
        NodeText joined;
        char16_t* at = joined.Room(own.size() + text.size());
        std::memcpy(at, own.data(), own.size() * sizeof(char16_t));
        std::memcpy(at + own.size(), text.data(), text.size() * sizeof(char16_t));
        Drop();
        Steal(joined);
    }

private:
    void Keep(std::u16string_view text, bool padded) {
        const std::size_t n = text.size();
        if (n <= kInside && padded) {
            std::memcpy(inside_, text.data(), sizeof(inside_));
            size_ = static_cast<std::uint32_t>(n);
            return;
        }
        if (n) std::memcpy(Room(n), text.data(), n * sizeof(char16_t));
    }
    // Room for `n` characters, which the caller fills; the size is set to `n`. Called on an
    // empty text only.
    char16_t* Room(std::size_t n) {
        if (n <= kInside) {
            size_ = static_cast<std::uint32_t>(n);
            return inside_;
        }
        if (n > std::numeric_limits<std::uint32_t>::max()) throw std::bad_array_new_length();
        block_ = static_cast<char16_t*>(ParseArena::Allocate(n * sizeof(char16_t)));
        size_ = room_ = static_cast<std::uint32_t>(n);
        return block_;
    }
    void Drop() noexcept {
        if (room_ != 0) ParseArena::Release(block_, room_ * sizeof(char16_t));
    }
    // Takes the text of `other`, whose own is dropped or empty, leaving it empty.
    void Steal(NodeText& other) noexcept {
        std::memcpy(inside_, other.inside_, sizeof(inside_));
        size_ = other.size_;
        room_ = other.room_;
        other.size_ = other.room_ = 0;
    }

    union {
        char16_t inside_[kInside];
        char16_t* block_;
    };
    std::uint32_t size_ = 0;
    std::uint32_t room_ = 0;  // characters the block holds; 0: the text is inside
};
static_assert(sizeof(NodeText) == 24);

}  // namespace XMLParse
