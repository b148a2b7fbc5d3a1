// Entry points of libOXFrame: class objects of the frame factories, and their registration.
// On Linux the classes are listed in the process class table when the library loads, so hosts
// and other modules of the process reach them by CLSID without registration; on Windows the
// system finds them through the keys that DllRegisterServer writes.
#include <atomic>
#include <iterator>
#include <mutex>

#include "com/class_objects.h"
#include "com/module_entry.h"
#include "com/ptr.h"
#include "com/runtime.h"
#include "frame/frame_factory.h"
#include "platform/module_info.h"
#include "platform/registry.h"

namespace {

struct ClassEntry {
    const CLSID* clsid;
    _CREATORFUNC creator;
    const char16_t* description;
    std::atomic<IUnknown*> class_object{nullptr};
};

ClassEntry g_classes[] = {
    {&CLSID_OXFactory, &orvex::frame::CCoOXFactory::_CreatorClass::CreateInstance,
     u"Tessaly OXFactory Class"},
    {&CLSID_MFactoryPriv, &orvex::frame::CCoMFactoryPriv::_CreatorClass::CreateInstance,
     u"Tessaly MFactoryPriv Class"},
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

std::u16string ClassKey(const ClassEntry& e) {
    return u"CLSID\\" + orvex::com::GuidToString(*e.clsid);
}

}  // namespace

// Under HKEY_CLASSES_ROOT, for each class: CLSID\{clsid} (default value the description) and
// its InprocServer32 (default value this library's path, ThreadingModel "Free"). The first
// failure stops the walk and is returned.
ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer() {
    using orvex::platform::RegistryKey;
    using orvex::platform::RegRoot;
    const std::string path =
        orvex::platform::ModulePathOf(reinterpret_cast<const void*>(&DllGetClassObject));
    if (path.empty()) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    for (const ClassEntry& e : g_classes) {
        RegistryKey key, server;
        LONG err = key.Create(RegRoot::kClassesRoot, ClassKey(e));
        if (err == ERROR_SUCCESS) err = key.SetString(u"", e.description);
        if (err == ERROR_SUCCESS)
            err = server.Create(RegRoot::kClassesRoot, ClassKey(e) + u"\\InprocServer32");
        if (err == ERROR_SUCCESS) err = server.SetString(u"", orvex::com::ToUtf16(path));
        if (err == ERROR_SUCCESS) err = server.SetString(u"ThreadingModel", u"Free");
        if (err != ERROR_SUCCESS) return HRESULT_FROM_WIN32(err);
    }
    return S_OK;
}

// Removes the class keys; keys already gone count as removed.
ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    HRESULT first = S_OK;
    for (const ClassEntry& e : g_classes) {
        const LONG err = orvex::platform::RegistryDeleteTree(orvex::platform::RegRoot::kClassesRoot,
                                                             ClassKey(e));
        if (err != ERROR_SUCCESS && err != ERROR_FILE_NOT_FOUND && SUCCEEDED(first))
            first = HRESULT_FROM_WIN32(err);
    }
    return first;
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
