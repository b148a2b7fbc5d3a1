// The device directory of the generic renderer: one object per backend class that serves
// devices, with the device count each had when the directory was built, and the mapping of a
// global device index onto (backend, local index).
//
// The table is filled while its renderer is being made and never changes afterwards; the
// renderer guards it (and its current backend) with its table lock.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <string_view>
#include <vector>

#include "com/ptr.h"
#include "orvex/ids.h"
#include "orvex/interfaces.h"

namespace orvex::renderer {

// Runs one call into a backend. A backend is another module's code: an exception that
// escapes it must not cross into the host, so it becomes an error code here.
template <class F>
HRESULT CallBackend(F&& call) noexcept {
    try {
        return call();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// When a backend class earns its place in the table.
enum class KeepRule : std::uint8_t {
    kWithDevices,  // only when it lists at least one device
    kAlways,       // whenever it answers the device count (0 included)
};

struct BackendClass {
    CLSID clsid;
    KeepRule keep;
};

// The built-in backend classes, in the order they are tried.
std::vector<BackendClass> BuiltInBackends();

// The class identifiers of an "extra_devices.clsids" value, in order. Tokens are separated
// by runs of blanks, line breaks, tabs, semicolons and commas; a token that is not a braced
// class identifier is skipped.
std::vector<CLSID> ParseClassList(std::u16string_view text);

class BackendTable {
public:
    struct Entry {
        CComPtr<IOXDevice> device;
        int count = 0;  // never negative; the counts of all entries sum to at most INT_MAX
    };

    // Where a global device index lands: `entry` is null when no device has that index.
    struct Slot {
        const Entry* entry = nullptr;
        int local = 0;
    };

    // Makes an object of `clsid` and asks it for its video devices; appends it when `keep`
    // says so. Returns whether it was appended. A class that cannot be made, fails the count,
    // reports a negative count or throws is left out.
    bool TryAdd(REFCLSID clsid, KeepRule keep) noexcept;

    Slot Map(int index) const;
    int TotalCount() const { return total_; }
    // The number of devices listed before the entry of `device`, or -1 when it has none.
    int BaseOf(const IOXDevice* device) const;
    bool Empty() const { return entries_.empty(); }
    const Entry& Front() const { return entries_.front(); }
    // Drops every entry (the renderer is going away).
    void Clear() { entries_.clear(); }

private:
    std::vector<Entry> entries_;
    int total_ = 0;
};

}  // namespace orvex::renderer
