#include "decklink/driver.h"

#include <mutex>
#include <string>

#include "com/runtime.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"

namespace orvex::decklink {
namespace {

using GetClassObjectFn = HRESULT(STDMETHODCALLTYPE*)(REFCLSID, REFIID, void**);

std::mutex g_load_lock;
GetClassObjectFn g_get_class_object = nullptr;  // set once, under g_load_lock

// Loads the library registered for the iterator class. Called with g_load_lock held.
HRESULT LoadDriver() {
    if (g_get_class_object) return S_OK;
    const std::u16string key =
        u"CLSID\\" + com::GuidToString(CLSID_CDeckLinkIterator) + u"\\InprocServer32";
    platform::RegistryKey server;
    if (server.Open(platform::RegRoot::kClassesRoot, key) != ERROR_SUCCESS)
        return REGDB_E_CLASSNOTREG;
    std::u16string path;
    if (server.QueryString(u"", &path) != ERROR_SUCCESS || path.empty()) return REGDB_E_CLASSNOTREG;
    platform::DynamicLibrary library;
    if (!library.Open(com::ToUtf8(path))) return CO_E_DLLNOTFOUND;
    auto get = reinterpret_cast<GetClassObjectFn>(library.Symbol("DllGetClassObject"));
    if (!get) return CO_E_ERRORINDLL;
    // A driver is never unloaded: its threads and objects may outlive any one renderer.
    library.Leak();
    g_get_class_object = get;
    return S_OK;
}

}  // namespace

HRESULT CreateDeckLinkIterator(IDeckLinkIterator** iterator) {
    if (!iterator) return E_POINTER;
    *iterator = nullptr;
    GetClassObjectFn get = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_load_lock);
        HRESULT hr = LoadDriver();
        if (FAILED(hr)) return hr;
        get = g_get_class_object;
    }
    CComPtr<IClassFactory> factory;
    HRESULT hr =
        get(CLSID_CDeckLinkIterator, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    if (!factory) return E_UNEXPECTED;
    return factory->CreateInstance(nullptr, IID_IDeckLinkIterator,
                                   reinterpret_cast<void**>(iterator));
}

}  // namespace orvex::decklink
