// Chunks of a parse: a bump pointer for the thread that parses, a count of live blocks for
// everyone.
#include "props/parse_arena.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "platform/asan_poison.h"

namespace XMLParse {

namespace arena_detail {
constinit thread_local Chunk* t_chunk = nullptr;
constinit thread_local PendingReleases t_pending;
}  // namespace arena_detail

namespace {

using namespace arena_detail;

constexpr std::size_t kMinChunk = 1024;

// The room a thread keeps for its next parses: a few blocks, up to a bound in all.
struct KeptRoom {
    static constexpr int kSlots = 4;
    static constexpr std::size_t kMaxBytes = 256 * 1024;
    void* room[kSlots] = {};
    std::size_t bytes[kSlots] = {};
    std::size_t total = 0;
    bool guarded = false;  // the thread frees what it keeps when it ends
    bool closed = false;   // the thread is ending: nothing more is kept
};
constinit thread_local KeptRoom t_kept;

struct KeptRoomGuard {
    ~KeptRoomGuard() {
        KeptRoom& kept = t_kept;
        kept.closed = true;
        for (int i = 0; i < KeptRoom::kSlots; ++i) {
            if (!kept.room[i]) continue;
            ORVEX_UNPOISON(kept.room[i], kept.bytes[i]);
            ::operator delete(kept.room[i]);
            kept.room[i] = nullptr;
        }
        kept.total = 0;
    }
};

constexpr std::size_t ChunkHead() {
    return (sizeof(Chunk) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
           alignof(std::max_align_t);
}

Chunk* NewChunk(std::size_t bytes) noexcept {
    bytes = std::clamp(bytes, kMinChunk, kMaxChunk);
    std::size_t got = 0;
    void* mem = TakeRoom(ChunkHead() + bytes, &got);
    if (!mem) return nullptr;
    auto* chunk = ::new (mem) Chunk;
    chunk->next = static_cast<char*>(mem) + ChunkHead();
    chunk->end = static_cast<char*>(mem) + got;
    ORVEX_POISON(chunk->next, got - ChunkHead());
    return chunk;
}

}  // namespace

namespace arena_detail {

void* TakeRoom(std::size_t bytes, std::size_t* got) noexcept {
    KeptRoom& kept = t_kept;
    for (int i = 0; i < KeptRoom::kSlots; ++i) {
        if (kept.room[i] && kept.bytes[i] >= bytes && kept.bytes[i] / 2 <= bytes) {
            void* room = std::exchange(kept.room[i], nullptr);
            *got = kept.bytes[i];
            kept.total -= *got;
            ORVEX_UNPOISON(room, *got);
            return room;
        }
    }
    *got = bytes;
    return ::operator new(bytes, std::nothrow);
}

void PutRoom(void* room, std::size_t bytes) noexcept {
    KeptRoom& kept = t_kept;
    if (!kept.closed && kept.total + bytes <= KeptRoom::kMaxBytes) {
        if (!kept.guarded) {
            // Set up on the first block kept, so that threads that never keep one pay nothing.
            kept.guarded = true;
            static thread_local KeptRoomGuard guard;
            (void)guard;
        }
        for (int i = 0; i < KeptRoom::kSlots; ++i) {
            if (kept.room[i]) continue;
            // Kept room is not to be touched; under AddressSanitizer a use of it shows.
            ORVEX_POISON(room, bytes);
            kept.room[i] = room;
            kept.bytes[i] = bytes;
            kept.total += bytes;
            return;
        }
    }
    ::operator delete(room);
}

void Chunk::Free() noexcept {
    const auto bytes = static_cast<std::size_t>(end - reinterpret_cast<char*>(this));
    this->~Chunk();
    PutRoom(this, bytes);
}

}  // namespace arena_detail

void* ParseArena::AllocateSlow(std::size_t bytes) {
    Chunk* chunk = t_chunk;
    // Large blocks (a list of many children, a long text) go to the heap: a chunk would
    // keep their room when they grow.
    if (chunk && bytes <= kMaxChunk / 8) {
        const std::size_t size = BlockSize(bytes);
        if (static_cast<std::size_t>(chunk->end - chunk->next) < size) {
            // Twice the room of the last, up to the largest chunk.
            const auto last = static_cast<std::size_t>(
                chunk->end - (reinterpret_cast<char*>(chunk) + ChunkHead()));
            Chunk* fresh = NewChunk(2 * last);
            if (fresh) {
                chunk->LetGo();
                t_chunk = chunk = fresh;
            }
        }
        if (void* block = chunk->Take(size)) return block;
    }
    char* block = static_cast<char*>(::operator new(kHeader + bytes));
    *reinterpret_cast<Chunk**>(block) = nullptr;
    return block + kHeader;
}

void ParseArena::ReleaseSlow(void* p, std::size_t bytes) noexcept {
    char* block = static_cast<char*>(p) - kHeader;
    Chunk* chunk = *reinterpret_cast<Chunk**>(block);
    if (!chunk) {
        ::operator delete(block);
        return;
    }
    // The room is not reused; under AddressSanitizer a use after release still shows.
    ORVEX_POISON(block, BlockSize(bytes));
    PendingReleases& pending = t_pending;
    if (pending.batches == 0) {
        chunk->Release();
        return;
    }
    if (pending.chunk != chunk) {
        pending.Settle();
        pending.chunk = chunk;
    }
    ++pending.count;
}

ParseArena::Batch::Batch() noexcept {
    ++t_pending.batches;
}

ParseArena::Batch::~Batch() {
    PendingReleases& pending = t_pending;
    if (--pending.batches == 0) pending.Settle();
}

ParseArena::Scope::Scope(std::size_t hint) noexcept : previous_(t_chunk) {
    t_chunk = NewChunk(hint);
}

ParseArena::Scope::~Scope() {
    if (t_chunk) t_chunk->LetGo();
    t_chunk = static_cast<Chunk*>(previous_);
}

}  // namespace XMLParse
