// Entry points of libOXFrame: class objects of the frame factories. The classes are listed in
// the process class table when the library loads, so hosts and other modules of the process
// reach them by CLSID without registration.
#include <atomic>
#include <iterator>
#include <mutex>

#include "com/class_objects.h"
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

}  // namespace

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!g_initialized.load(std::memory_order_acquire)) return E_UNEXPECTED;
    return orvex::com::GetCachedClassObject(std::begin(g_classes), std::end(g_classes),
                                            g_class_object_lock, rclsid, riid, ppv);
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
    return orvex::com::ThisModule().LockCount() == 0 ? S_OK : S_FALSE;
}

namespace {

bool FrameModuleAttach(void*) {
    orvex::com::RegisterModuleClasses(std::begin(g_classes), std::end(g_classes),
                                      &DllGetClassObject);
    g_initialized.store(true, std::memory_order_release);
    return true;
}

void FrameModuleDetach() {
    g_initialized.store(false, std::memory_order_release);
    orvex::com::RevokeModuleClasses(std::begin(g_classes), std::end(g_classes), &DllGetClassObject);
}

}  // namespace

ORVEX_MODULE_ENTRY(FrameModuleAttach, FrameModuleDetach)
