#include "decklink/linux_driver.h"

#include <map>
#include <mutex>

#include "decklink/api/layout_bridge.h"
#include "platform/dynamic_library.h"
#include "platform/module_info.h"

namespace orvex::decklink {
namespace {

struct Loaded {
    linux_layout::CreateIteratorFunction create = nullptr;
    const char* entry = nullptr;
};

std::mutex g_lock;
std::map<std::string, Loaded> g_loaded;  // by name asked; goes with this module when unloaded

// Loads `library` and finds its entry point, under g_lock.
HRESULT LoadLocked(const std::string& library, Loaded* out, std::string* reason) {
    if (auto it = g_loaded.find(library); it != g_loaded.end()) {
        *out = it->second;
        return S_OK;
    }
    platform::DynamicLibrary handle;
    // Loaded the way the vendor's own clients load it, so that one copy serves them all.
    if (!handle.Open(library, platform::DynamicLibrary::Scope::kGlobal)) {
        *reason = handle.Error();
        return CO_E_DLLNOTFOUND;
    }
    Loaded found;
    for (const char* entry : linux_layout::kIteratorEntryPoints) {
        if (void* symbol = handle.Symbol(entry)) {
            found.create = reinterpret_cast<linux_layout::CreateIteratorFunction>(symbol);
            found.entry = entry;
            break;
        }
    }
    if (!found.create) {
        *reason = library + " exports none of CreateDeckLinkIteratorInstance_0004, _0003, _0002";
        return CO_E_ERRORINDLL;
    }
    // A driver is never unloaded: its threads and objects may outlive any one renderer.
    handle.Leak();
    g_loaded[library] = found;
    *out = found;
    return S_OK;
}

}  // namespace

HRESULT CreateLinuxLayoutIterator(const std::string& library, IDeckLinkIterator** iterator,
                                  std::string* description) {
    if (!iterator || !description) return E_POINTER;
    *iterator = nullptr;
    description->clear();
    Loaded loaded;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        if (HRESULT hr = LoadLocked(library, &loaded, description); FAILED(hr)) return hr;
    }
    std::string file = platform::ModulePathOf(reinterpret_cast<const void*>(loaded.create));
    if (file.empty()) file = library;
    linux_layout::IDeckLinkIterator* native = loaded.create();
    if (!native) {
        *description = std::string(loaded.entry) + " of " + file + " returned no iterator";
        return E_FAIL;
    }
    *iterator = decklink_layout::PresentAsWindows(native);
    if (!*iterator) return E_OUTOFMEMORY;
    *description = file + " (" + loaded.entry + ")";
    return S_OK;
}

}  // namespace orvex::decklink
