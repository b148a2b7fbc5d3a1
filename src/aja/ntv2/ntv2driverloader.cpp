#include "aja/ntv2/ntv2driverloader.h"

#include <mutex>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace orvex::aja {
namespace {

std::mutex g_load_lock;
const OxNtv2Driver* g_driver = nullptr;  // set once, under g_load_lock

}  // namespace

const OxNtv2Driver* Ntv2Driver() {
    std::lock_guard<std::mutex> lock(g_load_lock);
    if (g_driver) return g_driver;
    platform::RegistryKey key;
    if (key.Open(platform::RegRoot::kClassesRoot, OX_NTV2_DRIVER_KEY) != ERROR_SUCCESS)
        return nullptr;
    std::u16string path;
    if (key.QueryString(u"", &path) != ERROR_SUCCESS || path.empty()) return nullptr;
    platform::DynamicLibrary library;
    if (!library.Open(platform::ToUtf8(path))) return nullptr;
    auto entry = reinterpret_cast<OxNtv2DriverEntryFn>(library.Symbol(OX_NTV2_DRIVER_ENTRY));
    if (!entry) return nullptr;
    const OxNtv2Driver* driver = entry(OX_NTV2_DRIVER_VERSION);
    if (!driver || driver->size < sizeof(OxNtv2Driver) || driver->version != OX_NTV2_DRIVER_VERSION)
        return nullptr;
    // A driver is never unloaded: boards opened through it may outlive any one renderer.
    library.Leak();
    g_driver = driver;
    return g_driver;
}

}  // namespace orvex::aja
