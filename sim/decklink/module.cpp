// Entry points of the virtual DeckLink card library in the Windows layout: the class object of
// the iterator class and self-registration under HKEY_CLASSES_ROOT. The control functions of
// sim_control.h are in control.cpp.
#include <atomic>
#include <cstring>
#include <iterator>
#include <mutex>

#include "com/class_objects.h"
#include "com/module_entry.h"
#include "com/runtime.h"
#include "platform/module_info.h"
#include "platform/registry.h"
#include "sim/decklink/objects.h"
#include "sim/decklink/sim_control.h"

namespace {

using namespace orvex::sim::decklink;

struct ClassEntry {
    const CLSID* clsid;
    _CREATORFUNC creator;
    std::atomic<IUnknown*> class_object{nullptr};
};

ClassEntry g_classes[] = {{&CLSID_CDeckLinkIterator, &SimIterator::Create}};
std::mutex g_class_object_lock;

std::u16string ClassKey() {
    return u"CLSID\\" + orvex::com::GuidToString(CLSID_CDeckLinkIterator);
}

}  // namespace

// The card library is reached only through the registry, as a driver is: it does not list its
// class in the process class table.
ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    return orvex::com::GetCachedClassObject(std::begin(g_classes), std::end(g_classes),
                                            g_class_object_lock, rclsid, riid, ppv);
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
    return orvex::com::ThisModule().LockCount() == 0 ? S_OK : S_FALSE;
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer() {
    static const char anchor = 0;
    const std::string path = orvex::platform::ModulePathOf(&anchor);
    if (path.empty()) return E_UNEXPECTED;
    orvex::platform::RegistryKey key;
    LONG err = key.Create(orvex::platform::RegRoot::kClassesRoot, ClassKey());
    if (err == ERROR_SUCCESS) err = key.SetString(u"", u"Orvex virtual DeckLink card");
    orvex::platform::RegistryKey server;
    if (err == ERROR_SUCCESS)
        err =
            server.Create(orvex::platform::RegRoot::kClassesRoot, ClassKey() + u"\\InprocServer32");
    if (err == ERROR_SUCCESS) err = server.SetString(u"", orvex::com::ToUtf16(path));
    if (err == ERROR_SUCCESS) err = server.SetString(u"ThreadingModel", u"Both");
    return HRESULT_FROM_WIN32(err);
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    LONG err =
        orvex::platform::RegistryDeleteTree(orvex::platform::RegRoot::kClassesRoot, ClassKey());
    return err == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(err);
}

namespace {
bool SimAttach(void*) {
    return true;
}
void SimDetach() {
    orvex::com::RevokeModuleClasses(std::begin(g_classes), std::end(g_classes), &DllGetClassObject);
    DestroyRig();  // closes the recordings of cards nobody holds any more
}
}  // namespace

ORVEX_MODULE_ENTRY(SimAttach, SimDetach)
