// The process class list on Windows: the system's table of registered class objects
// (CoRegisterClassObject), so that a host of this process creates a listed class through
// CoCreateInstance without a registry entry. Listing needs COM initialised on the calling
// thread, and the system serves a class object registered from the multithreaded apartment
// to that apartment. A module's own classes are found through its registration instead
// (DllRegisterServer): the loader lock forbids COM calls at attach time.
//
// Each module that links this keeps its own list of what it listed; a revoke matches the
// CLSID and the function that listed it.
#include <mutex>
#include <vector>

#include "com/runtime.h"

extern "C" {
__declspec(dllimport) HRESULT STDMETHODCALLTYPE
    CoRegisterClassObject(REFCLSID rclsid, IUnknown* pUnk, DWORD dwClsContext, DWORD flags,
                          DWORD* lpdwRegister);
__declspec(dllimport) HRESULT STDMETHODCALLTYPE CoRevokeClassObject(DWORD dwRegister);
}

namespace {

constexpr DWORD kRegclsMultipleUse = 1;

struct Listed {
    CLSID clsid;
    LPFNGETCLASSOBJECT fn;
    DWORD cookie;
};

std::mutex& ListLock() {
    static auto* lock = new std::mutex;
    return *lock;
}
std::vector<Listed>& List() {
    static auto* list = new std::vector<Listed>;
    return *list;
}

}  // namespace

extern "C" {

HRESULT OrvexRegisterProcessClass(REFCLSID rclsid, LPFNGETCLASSOBJECT pfn) {
    if (!pfn) return E_INVALIDARG;
    std::lock_guard lock(ListLock());
    for (const Listed& l : List())
        if (l.clsid == rclsid && l.fn == pfn) return S_FALSE;
    IUnknown* factory = nullptr;
    HRESULT hr = pfn(rclsid, IID_IUnknown, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    DWORD cookie = 0;
    hr = CoRegisterClassObject(rclsid, factory, CLSCTX_INPROC_SERVER, kRegclsMultipleUse, &cookie);
    factory->Release();
    if (FAILED(hr)) return hr;
    List().push_back({rclsid, pfn, cookie});
    return S_OK;
}

HRESULT OrvexRevokeProcessClass(REFCLSID rclsid, LPFNGETCLASSOBJECT pfn) {
    std::lock_guard lock(ListLock());
    auto& list = List();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->clsid == rclsid && it->fn == pfn) {
            CoRevokeClassObject(it->cookie);
            list.erase(it);
            return S_OK;
        }
    }
    return S_FALSE;
}

}  // extern "C"
