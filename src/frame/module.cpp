// Entry points of libOXFrame: class objects of the frame factories. The classes are listed in
// the process class table when the library loads, so hosts and other modules of the process
// reach them by CLSID without registration.
#include <atomic>
#include <iterator>
#include <mutex>

#include "com/module_entry.h"
#include "com/ptr.h"
#include "com/runtime.h"
#include "frame/frame_factory.h"

namespace {

struct ClassEntry {
    const CLSID* clsid;
    _CREATORFUNC creator;
    std::atomic<IUnknown*> class_object{nullptr};
};

ClassEntry g_classes[] = {
    {&CLSID_OXFactory, &orvex::frame::CCoOXFactory::_CreatorClass::CreateInstance},
    {&CLSID_MFactoryPriv, &orvex::frame::CCoMFactoryPriv::_CreatorClass::CreateInstance},
};

std::atomic<bool> g_initialized{false};
std::mutex g_class_object_lock;

HRESULT CreateClassObject(ClassEntry& entry, IUnknown** out) {
    using Factory = CComObjectCached<CComClassFactory>;
    auto* factory = new (std::nothrow) Factory();
    if (!factory) return E_OUTOFMEMORY;
    factory->SetVoid(reinterpret_cast<void*>(entry.creator));
    return orvex::com::ConstructAndQuery(factory, IID_IUnknown, reinterpret_cast<void**>(out));
}

}  // namespace

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!g_initialized.load(std::memory_order_acquire)) return E_UNEXPECTED;
    for (ClassEntry& e : g_classes) {
        if (!(*e.clsid == rclsid)) continue;
        IUnknown* cf = e.class_object.load(std::memory_order_acquire);
        if (!cf) {
            std::lock_guard lock(g_class_object_lock);
            cf = e.class_object.load(std::memory_order_acquire);
            if (!cf) {
                HRESULT hr = CreateClassObject(e, &cf);
                if (FAILED(hr)) return hr;
                e.class_object.store(cf, std::memory_order_release);
            }
        }
        return cf->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
    return orvex::com::ThisModule().LockCount() == 0 ? S_OK : S_FALSE;
}

namespace {

bool FrameModuleAttach(void*) {
    for (ClassEntry& e : g_classes) OrvexRegisterProcessClass(*e.clsid, &DllGetClassObject);
    g_initialized.store(true, std::memory_order_release);
    return true;
}

void FrameModuleDetach() {
    g_initialized.store(false, std::memory_order_release);
    for (ClassEntry& e : g_classes) {
        OrvexRevokeProcessClass(*e.clsid, &DllGetClassObject);
        if (IUnknown* cf = e.class_object.exchange(nullptr)) cf->Release();
    }
}

}  // namespace

ORVEX_MODULE_ENTRY(FrameModuleAttach, FrameModuleDetach)
