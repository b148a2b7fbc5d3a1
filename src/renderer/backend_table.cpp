#include "renderer/backend_table.h"

#include <algorithm>
#include <climits>
#include <string>

namespace orvex::renderer {

std::vector<BackendClass> BuiltInBackends() {
    // The sibling modules' first class only joins with devices; the second may list its
    // devices later on its own, so it stays even when it has none yet.
    return {
        {CLSID_OXRendererBMD, KeepRule::kWithDevices},
        {CLSID_OXRendererAJA, KeepRule::kWithDevices},
        {CLSID_SiblingRenderer1, KeepRule::kWithDevices},
        {CLSID_SiblingRenderer2, KeepRule::kAlways},
    };
}

std::vector<CLSID> ParseClassList(std::u16string_view text) {
    constexpr std::u16string_view kSeparators = u" \n\r\t;,";
    std::vector<CLSID> classes;
    std::size_t pos = text.find_first_not_of(kSeparators);
    while (pos != std::u16string_view::npos) {
        std::size_t end = text.find_first_of(kSeparators, pos);
        if (end == std::u16string_view::npos) end = text.size();
        const std::u16string token(text.substr(pos, end - pos));
        CLSID clsid{};
        if (CLSIDFromString(token.c_str(), &clsid) == S_OK) classes.push_back(clsid);
        pos = text.find_first_not_of(kSeparators, end);
    }
    return classes;
}

bool BackendTable::TryAdd(REFCLSID clsid, KeepRule keep) noexcept {
    CComPtr<IOXDevice> device;
    HRESULT hr = CallBackend([&] {
        return CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOXDevice,
                                reinterpret_cast<void**>(&device));
    });
    if (FAILED(hr) || !device) return false;
    int count = 0;
    hr = CallBackend([&] { return device->DeviceGetCount(eOXDT_Video, &count); });
    if (FAILED(hr) || count < 0) return false;
    if (count == 0 && keep == KeepRule::kWithDevices) return false;
    // The directory numbers devices with an int: a backend's count is cut to what is left.
    count = static_cast<int>(std::min<std::int64_t>(count, INT_MAX - std::int64_t{total_}));
    try {
        entries_.push_back({device, count});
    } catch (...) {
        return false;
    }
    total_ += count;
    return true;
}

BackendTable::Slot BackendTable::Map(int index) const {
    if (index < 0) return {};
    for (const Entry& entry : entries_) {
        if (index < entry.count) return {&entry, index};
        index -= entry.count;
    }
    return {};
}

int BackendTable::BaseOf(const IOXDevice* device) const {
    int base = 0;
    for (const Entry& entry : entries_) {
        if (entry.device.p == device) return base;
        base += entry.count;
    }
    return -1;
}

}  // namespace orvex::renderer
