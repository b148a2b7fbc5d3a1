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

constexpr std::size_t ChunkHead() {
    return (sizeof(Chunk) + alignof(std::max_align_t) - 1) / alignof(std::max_align_t) *
           alignof(std::max_align_t);
}

Chunk* NewChunk(std::size_t bytes) noexcept {
    bytes = std::clamp(bytes, kMinChunk, kMaxChunk);
    void* mem = ::operator new(ChunkHead() + bytes, std::nothrow);
    if (!mem) return nullptr;
    auto* chunk = ::new (mem) Chunk;
    chunk->next = static_cast<char*>(mem) + ChunkHead();
    chunk->end = chunk->next + bytes;
    ORVEX_POISON(chunk->next, bytes);
    return chunk;
}

}  // namespace

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
