// The module's class table, class object cache and registration.
#pragma once

#include <atomic>

#include "com/object.h"

namespace orvex::module {

struct ClassEntry {
    const CLSID* clsid;
    int script_id;  // registration script resource
    _CREATORFUNC creator;
    const char16_t* prog_id;
    const char16_t* version_independent_prog_id;
    const char16_t* description;
    std::atomic<IUnknown*> class_object{nullptr};  // cached, made on first request
};

// Resource string 100: the project name.
inline constexpr int kProjectNameResource = 100;
const char16_t* LoadResourceString(int id);

ClassEntry* ClassTableBegin();
ClassEntry* ClassTableEnd();

// Process attach / detach.
bool ModuleAttach(void* instance);
void ModuleDetach();
bool ModuleInitialized();

// Registration of the classes under HKEY_CLASSES_ROOT; `module_path` is the module's full
// path as the server's InprocServer32 value.
HRESULT RegisterClasses(const char16_t* module_path);
HRESULT UnregisterClasses();

}  // namespace orvex::module

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow();
ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer();
ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer();
