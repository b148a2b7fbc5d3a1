// Whose an allocation is: the virtual card's own (made inside a call into the card's library,
// as a real driver allocates inside its own calls) or ours. Called from the allocation hook
// of process_figures.h; it walks the stack from the allocation outwards and the first frame
// that is either the card library's or this program's (the renderer is linked into it)
// decides. Frames of the shared runtime (the C and C++ libraries, the COM runtime's
// SysAllocString) belong to whoever called them. The card calling back into the renderer
// (its frame allocator) counts as ours, since the renderer's frame is then the innermost.
#pragma once

#include <dlfcn.h>
#include <execinfo.h>
#include <link.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace orvex::bench {

class AllocationOrigin {
public:
    // Notes where the library whose file name ends with `library` and this program lie in
    // memory; false when the library is not loaded or kLibraries are noted already. Called
    // once for each of the card's libraries, before counting starts: the first stack walk
    // loads the unwinder.
    bool Init(const char* library) {
        if (libraries_ == kLibraries) return false;
        library_ = library;
        dl_iterate_phdr(&AllocationOrigin::Note, this);
        void* warm[4];
        backtrace(warm, 4);
        const Range& added = library_ranges_[libraries_];
        if (added.end <= added.start) return false;
        ++libraries_;
        return true;
    }

    // True when the allocation being made on this thread is the card library's own.
    bool FromLibrary() const {
        void* pcs[kDepth];
        const int n = backtrace(pcs, kDepth);
        // Past the hook's own frames: everything up to the allocation function.
        int first = 0;
        for (int i = 0; i < n; ++i) {
            Dl_info info{};
            if (dladdr(pcs[i], &info) && IsAllocationFunction(info.dli_saddr)) {
                first = i + 1;
                break;
            }
        }
        for (int i = first; i < n; ++i) {
            const auto pc = reinterpret_cast<std::uintptr_t>(pcs[i]);
            for (int l = 0; l < libraries_; ++l)
                if (library_ranges_[l].Holds(pc)) return true;
            if (program_.Holds(pc)) return false;
        }
        return false;
    }

private:
    static constexpr int kDepth = 48, kLibraries = 4;

    struct Range {
        std::uintptr_t start = 0, end = 0;
        bool Holds(std::uintptr_t pc) const { return pc >= start && pc < end; }
    };

    static bool IsAllocationFunction(const void* start) {
        return start == reinterpret_cast<const void*>(&::malloc) ||
               start == reinterpret_cast<const void*>(&::calloc) ||
               start == reinterpret_cast<const void*>(&::realloc);
    }

    static int Note(dl_phdr_info* info, std::size_t, void* self) {
        auto* me = static_cast<AllocationOrigin*>(self);
        const char* name = info->dlpi_name ? info->dlpi_name : "";
        const std::size_t length = std::strlen(name), wanted = std::strlen(me->library_);
        const bool program = length == 0 && me->program_.end == 0;
        const bool library =
            length >= wanted && std::strcmp(name + length - wanted, me->library_) == 0;
        if (!program && !library) return 0;
        std::uintptr_t start = UINTPTR_MAX, end = 0;
        for (int i = 0; i < info->dlpi_phnum; ++i) {
            const ElfW(Phdr)& h = info->dlpi_phdr[i];
            if (h.p_type != PT_LOAD || !(h.p_flags & PF_X)) continue;
            const std::uintptr_t at = info->dlpi_addr + h.p_vaddr;
            if (at < start) start = at;
            if (at + h.p_memsz > end) end = at + h.p_memsz;
        }
        (program ? me->program_ : me->library_ranges_[me->libraries_]) = Range{start, end};
        return 0;
    }

    const char* library_ = "";
    Range library_ranges_[kLibraries];
    int libraries_ = 0;
    Range program_;
};

}  // namespace orvex::bench
