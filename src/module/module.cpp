// Entry points of libOXRenderer: class objects of the three renderer classes, module
// locking and registration.
#include <mutex>
#include <string>

#include "aja/co_ox_renderer_aja.h"
#include "com/class_objects.h"
#include "com/module_entry.h"
#include "com/ptr.h"
#include "com/runtime.h"
#include "convert/stripe_pool.h"
#include "decklink/co_ox_renderer_bmd.h"
#include "module/class_table.h"
#include "platform/module_info.h"
#include "renderer/co_ox_renderer.h"

namespace orvex::module {
namespace {

ClassEntry g_classes[] = {
    {&CLSID_OXRenderer, 101, &CCoOXRenderer::_CreatorClass::CreateInstance, u"Orvex.OXRenderer.1",
     u"Orvex.OXRenderer", u"Tessaly OXRenderer Class"},
    {&CLSID_OXRendererBMD, 103, &CCoOXRendererBMD::_CreatorClass::CreateInstance,
     u"Orvex.OXRendererBMD.1", u"Orvex.OXRendererBMD", u"Tessaly OXRendererBMD Class"},
    {&CLSID_OXRendererAJA, 104, &CCoOXRendererAJA::_CreatorClass::CreateInstance,
     u"Orvex.OXRendererAJA.1", u"Orvex.OXRendererAJA", u"Tessaly OXRendererAJA Class"},
};

std::atomic<bool> g_initialized{false};
// Guards the lazy creation of class objects (the second test is inside it).
std::mutex g_class_object_lock;

// The class object lookup behind DllGetClassObject. The process table and the module path
// take this function, not the exported name: another loaded module exports the same name,
// and on ELF a reference to an exported function may bind to whichever module defines it
// first.
HRESULT STDMETHODCALLTYPE GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!ModuleInitialized()) return E_UNEXPECTED;
    return com::GetCachedClassObject(ClassTableBegin(), ClassTableEnd(), g_class_object_lock,
                                     rclsid, riid, ppv);
}

}  // namespace

ClassEntry* ClassTableBegin() {
    return std::begin(g_classes);
}
ClassEntry* ClassTableEnd() {
    return std::end(g_classes);
}

const char16_t* LoadResourceString(int id) {
    return id == kProjectNameResource ? u"OXRenderer" : nullptr;
}

bool ModuleAttach(void*) {
    // Hosts of this process reach the classes without a registration step.
    com::RegisterModuleClasses(std::begin(g_classes), std::end(g_classes), &GetClassObject);
    g_initialized.store(true, std::memory_order_release);
    return true;
}

void ModuleDetach() {
    g_initialized.store(false, std::memory_order_release);
    com::RevokeModuleClasses(std::begin(g_classes), std::end(g_classes), &GetClassObject);
}

bool ModuleInitialized() {
    return g_initialized.load(std::memory_order_acquire);
}

}  // namespace orvex::module

using namespace orvex::module;

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return GetClassObject(rclsid, riid, ppv);
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllCanUnloadNow() {
    if (orvex::com::ThisModule().LockCount() != 0) return S_FALSE;
    // Nothing of ours is in use: let the conversion's workers go before the library may.
    orvex::convert::StopStripeWorkers();
    return S_OK;
}

namespace {

// The module's full path with every single quote doubled, as the registration scripts'
// "Module" and "Module_Raw" replacements carry it inside single-quoted strings.
HRESULT ModuleReplacement(std::u16string* out) {
    constexpr std::size_t kMaxPath = 260;
    const std::u16string path = orvex::com::ToUtf16(
        orvex::platform::ModulePathOf(reinterpret_cast<const void*>(&GetClassObject)));
    if (path.empty()) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    if (path.size() >= kMaxPath) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    out->clear();
    for (char16_t c : path) {
        *out += c;
        if (c == u'\'') *out += c;
    }
    return S_OK;
}

}  // namespace

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer() {
    std::u16string module;
    HRESULT hr = ModuleReplacement(&module);
    if (FAILED(hr)) return hr;
    return RegisterClasses(module.c_str());
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    std::u16string module;
    HRESULT hr = ModuleReplacement(&module);
    if (FAILED(hr)) return hr;
    return UnregisterClasses();
}

ORVEX_MODULE_ENTRY(orvex::module::ModuleAttach, orvex::module::ModuleDetach)
