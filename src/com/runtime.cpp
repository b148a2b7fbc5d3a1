// Apartment bookkeeping, the process class table and class lookup through the registry.
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "com/runtime.h"
#include "platform/dynamic_library.h"
#include "platform/registry.h"

namespace {

struct ProcessClass {
    CLSID clsid;
    LPFNGETCLASSOBJECT get_class_object;
};

// Never destroyed: a module that cannot be unloaded revokes its classes from its own
// finaliser, which runs after this library's static objects are gone.
std::shared_mutex& ClassTableLock() {
    static auto* lock = new std::shared_mutex;
    return *lock;
}
std::vector<ProcessClass>& ClassTable() {
    static auto* table = new std::vector<ProcessClass>;
    return *table;
}

// Libraries loaded for registered in-process servers stay loaded for the life of the
// process: objects they made may outlive any reference we could count here.
std::mutex& LibraryLock() {
    static std::mutex lock;
    return lock;
}
std::map<std::string, LPFNGETCLASSOBJECT>& LoadedServers() {
    static std::map<std::string, LPFNGETCLASSOBJECT> servers;
    return servers;
}

struct Apartment {
    int count = 0;
    DWORD model = 0;
};
thread_local Apartment t_apartment;

LPFNGETCLASSOBJECT FindProcessClass(REFCLSID clsid) {
    std::shared_lock lock(ClassTableLock());
    for (const ProcessClass& c : ClassTable())
        if (c.clsid == clsid) return c.get_class_object;
    return nullptr;
}

HRESULT FindRegisteredServer(REFCLSID clsid, LPFNGETCLASSOBJECT* out) {
    using namespace orvex::platform;
    *out = nullptr;
    std::u16string key = u"CLSID\\" + orvex::com::GuidToString(clsid) + u"\\InprocServer32";
    RegistryKey reg;
    if (reg.Open(RegRoot::kClassesRoot, key) != ERROR_SUCCESS) return REGDB_E_CLASSNOTREG;
    std::u16string path16;
    if (reg.QueryString(u"", &path16) != ERROR_SUCCESS || path16.empty())
        return REGDB_E_CLASSNOTREG;
    std::string path = orvex::com::ToUtf8(path16);

    std::lock_guard lock(LibraryLock());
    auto it = LoadedServers().find(path);
    if (it != LoadedServers().end()) {
        *out = it->second;
        return S_OK;
    }
    DynamicLibrary lib;
    if (!lib.Open(path)) return CO_E_DLLNOTFOUND;
    auto fn = reinterpret_cast<LPFNGETCLASSOBJECT>(lib.Symbol("DllGetClassObject"));
    if (!fn) return CO_E_ERRORINDLL;
    lib.Leak();
    LoadedServers().emplace(path, fn);
    *out = fn;
    return S_OK;
}

}  // namespace

extern "C" {

// Threads need not call CoInitializeEx before using objects: every thread is taken to be
// in the multithreaded apartment. The calls are counted so that pairs balance as hosts
// expect, and a change of model is refused as the system does.
HRESULT CoInitializeEx(void*, DWORD dwCoInit) {
    DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    if (t_apartment.count > 0) {
        if (t_apartment.model != model) return RPC_E_CHANGED_MODE;
        ++t_apartment.count;
        return S_FALSE;
    }
    t_apartment.count = 1;
    t_apartment.model = model;
    return S_OK;
}

void CoUninitialize() {
    if (t_apartment.count > 0) --t_apartment.count;
}

HRESULT OrvexRegisterProcessClass(REFCLSID rclsid, LPFNGETCLASSOBJECT pfn) {
    if (!pfn) return E_INVALIDARG;
    std::unique_lock lock(ClassTableLock());
    for (const ProcessClass& c : ClassTable())
        if (c.clsid == rclsid && c.get_class_object == pfn) return S_FALSE;
    ClassTable().push_back({rclsid, pfn});
    return S_OK;
}

HRESULT OrvexRevokeProcessClass(REFCLSID rclsid, LPFNGETCLASSOBJECT pfn) {
    std::unique_lock lock(ClassTableLock());
    auto& table = ClassTable();
    for (auto it = table.begin(); it != table.end(); ++it) {
        if (it->clsid == rclsid && it->get_class_object == pfn) {
            table.erase(it);
            return S_OK;
        }
    }
    return S_FALSE;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, void*, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(dwClsContext & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)))
        return REGDB_E_CLASSNOTREG;  // only in-process servers exist here
    LPFNGETCLASSOBJECT fn = FindProcessClass(rclsid);
    if (!fn) {
        HRESULT hr = FindRegisteredServer(rclsid, &fn);
        if (FAILED(hr)) return hr;
    }
    return fn(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                         void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter && !(riid == IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

}  // extern "C"
