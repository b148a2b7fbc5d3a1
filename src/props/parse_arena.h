// Memory for the strings and lists of the nodes that one parse builds, taken from large
// chunks instead of one heap block each. Every block carries a header naming its chunk
// (null for a block of the heap); a chunk goes when its last block has gone and the parse
// has let go of it. Blocks are freed through the header, so lists and strings move and
// swap between any nodes and are edited from any thread after the parse; only what a parse
// builds on its own thread comes from its chunks, everything else from the heap.
#pragma once

#include <atomic>
#include <compare>
#include <cstddef>
#include <functional>
#include <iterator>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/asan_poison.h"

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
    // A block of `bytes` from Allocate.
    static void Release(void* block, std::size_t bytes) noexcept;

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

using ParseString = std::basic_string<char16_t, std::char_traits<char16_t>, ParseAlloc<char16_t>>;

namespace arena_detail {

// Reads text a character at a time, each passed through `map`. Where the characters change,
// it tells its distance to another in one step, so that a string made from two of them sizes
// itself first and then copies in a plain loop; unchanged ones it gives as a stream, as the
// compiler would turn the sized copy into a call to memcpy.
template <class Map>
struct MappedReader {
    using iterator_category =
        std::conditional_t<std::is_same_v<Map, std::identity>, std::input_iterator_tag,
                           std::random_access_iterator_tag>;
    using value_type = char16_t;
    using difference_type = std::ptrdiff_t;
    using pointer = const char16_t*;
    using reference = char16_t;
    const char16_t* at = nullptr;
    [[no_unique_address]] Map map{};
    value_type operator*() const { return map(*at); }
    value_type operator[](difference_type k) const { return map(at[k]); }
    MappedReader& operator++() {
        ++at;
        return *this;
    }
    MappedReader operator++(int) {
        MappedReader before = *this;
        ++at;
        return before;
    }
    MappedReader& operator--() {
        --at;
        return *this;
    }
    MappedReader operator--(int) {
        MappedReader before = *this;
        --at;
        return before;
    }
    MappedReader& operator+=(difference_type k) {
        at += k;
        return *this;
    }
    MappedReader& operator-=(difference_type k) {
        at -= k;
        return *this;
    }
    MappedReader operator+(difference_type k) const { return {at + k, map}; }
    friend MappedReader operator+(difference_type k, const MappedReader& r) { return r + k; }
    MappedReader operator-(difference_type k) const { return {at - k, map}; }
    difference_type operator-(const MappedReader& other) const { return at - other.at; }
    bool operator==(const MappedReader& other) const { return at == other.at; }
    auto operator<=>(const MappedReader& other) const { return at <=> other.at; }
};

}  // namespace arena_detail

// A copy of `text`, each character passed through `map`. Most names and values of a tree
// fit the string's own room: those are copied a character at a time, which is cheaper than
// the call to memcpy that the general copy makes.
template <class Map>
inline ParseString CopyMapped(std::u16string_view text, Map map) {
    using Reader = arena_detail::MappedReader<Map>;
    // The room of a string without an allocation, as the library lays it out.
    constexpr std::size_t kOwnRoom = 15 / sizeof(char16_t);
    if (text.size() > kOwnRoom) {
        if constexpr (std::is_same_v<Map, std::identity>) {
            return ParseString(text.data(), text.size());
        } else {
            ParseString out(text.size(), u'\0');
            for (std::size_t i = 0; i < text.size(); ++i) out[i] = map(text[i]);
            return out;
        }
    }
    return ParseString(Reader{text.data(), map}, Reader{text.data() + text.size(), map});
}

inline ParseString CopyText(std::u16string_view text) {
    return CopyMapped(text, std::identity{});
}
template <class T>
using ParseVector = std::vector<T, ParseAlloc<T>>;

}  // namespace XMLParse
