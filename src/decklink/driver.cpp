#include "decklink/driver.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

#include "com/runtime.h"
#include "decklink/linux_driver.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"

namespace orvex::decklink {
namespace {

using GetClassObjectFn = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);

std::mutex g_load_lock;
// Registered libraries loaded so far, by path; guarded by g_load_lock. The libraries stay
// loaded; the map goes with this module when it is unloaded.
std::map<std::string, GetClassObjectFn> g_registered;

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

// The library registered for the iterator class ("" when none is).
std::string RegisteredLibrary() {
    const std::u16string key =
        u"CLSID\\" + com::GuidToString(CLSID_CDeckLinkIterator) + u"\\InprocServer32";
    platform::RegistryKey server;
    std::u16string path;
    if (server.Open(platform::RegRoot::kClassesRoot, key) != ERROR_SUCCESS ||
        server.QueryString(u"", &path) != ERROR_SUCCESS)
        return {};
    return com::ToUtf8(path);
}

HRESULT CreateRegistered(const std::string& path, IDeckLinkIterator** iterator,
                         std::string* reason) {
    GetClassObjectFn get = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_load_lock);
        if (auto it = g_registered.find(path); it != g_registered.end()) {
            get = it->second;
        } else {
            platform::DynamicLibrary library;
            if (!library.Open(path)) {
                *reason = "the registered driver does not load: " + library.Error();
                return CO_E_DLLNOTFOUND;
            }
            get = reinterpret_cast<GetClassObjectFn>(library.Symbol("DllGetClassObject"));
            if (!get) {
                *reason = "the registered driver " + path + " has no DllGetClassObject";
                return CO_E_ERRORINDLL;
            }
            // A driver is never unloaded: its threads and objects may outlive any one renderer.
            library.Leak();
            g_registered[path] = get;
        }
    }
    CComPtr<IClassFactory> factory;
    HRESULT hr =
        get(CLSID_CDeckLinkIterator, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(hr) && !factory) hr = E_UNEXPECTED;
    if (SUCCEEDED(hr))
        hr = factory->CreateInstance(nullptr, IID_IDeckLinkIterator,
                                     reinterpret_cast<void**>(iterator));
    if (SUCCEEDED(hr) && !*iterator) hr = E_UNEXPECTED;
    if (FAILED(hr)) {
        *reason = "the registered driver " + path + " made no iterator: " + Hex(hr);
        if (*iterator) (*iterator)->Release();
        *iterator = nullptr;
    }
    return hr;
}

}  // namespace

HRESULT CreateDeckLinkIterator(IDeckLinkIterator** iterator, const std::string& library_setting,
                               std::string* description) {
    if (!iterator || !description) return E_POINTER;
    *iterator = nullptr;
    std::string registered_reason = "none registered";
    if (const std::string path = RegisteredLibrary(); !path.empty()) {
        if (SUCCEEDED(CreateRegistered(path, iterator, &registered_reason))) {
            *description = "registered driver " + path;
            return S_OK;
        }
    }
    std::string library = kLinuxDriverLibrary;
    if (const char* named = std::getenv(kDriverLibraryVariable); named && *named)
        library = named;
    else if (!library_setting.empty())
        library = library_setting;
    std::string linux_reason;
    const HRESULT hr = CreateLinuxLayoutIterator(library, iterator, &linux_reason);
    if (SUCCEEDED(hr)) {
        *description = linux_reason;
        return hr;
    }
    *description = "no driver: " + registered_reason;
    if (!linux_reason.empty()) *description += "; " + linux_reason;
    return hr;
}

}  // namespace orvex::decklink
