// Entry points of libOXRenderer: class objects of the three renderer classes, module
// locking and registration.
#include <mutex>
#include <string>

#include "aja/co_ox_renderer_aja.h"
#include "com/module_entry.h"
#include "com/ptr.h"
#include "com/runtime.h"
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

HRESULT CreateClassObject(ClassEntry& entry, IUnknown** out) {
    using Factory = CComObjectCached<CComClassFactory>;
    auto* factory = new (std::nothrow) Factory();
    if (!factory) return E_OUTOFMEMORY;
    factory->SetVoid(reinterpret_cast<void*>(entry.creator));
    return orvex::com::ConstructAndQuery(factory, IID_IUnknown, reinterpret_cast<void**>(out));
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
    for (ClassEntry& e : g_classes) OrvexRegisterProcessClass(*e.clsid, &DllGetClassObject);
    g_initialized.store(true, std::memory_order_release);
    return true;
}

void ModuleDetach() {
    g_initialized.store(false, std::memory_order_release);
    for (ClassEntry& e : g_classes) {
        OrvexRevokeProcessClass(*e.clsid, &DllGetClassObject);
        if (IUnknown* cf = e.class_object.exchange(nullptr)) cf->Release();
    }
}

bool ModuleInitialized() {
    return g_initialized.load(std::memory_order_acquire);
}

}  // namespace orvex::module

using namespace orvex::module;

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!ModuleInitialized()) return E_UNEXPECTED;
    for (ClassEntry* e = ClassTableBegin(); e != ClassTableEnd(); ++e) {
        if (!(*e->clsid == rclsid)) continue;
        IUnknown* cf = e->class_object.load(std::memory_order_acquire);
        if (!cf) {
            std::lock_guard lock(g_class_object_lock);
            cf = e->class_object.load(std::memory_order_acquire);
            if (!cf) {
                HRESULT hr = CreateClassObject(*e, &cf);
                if (FAILED(hr)) return hr;
                e->class_object.store(cf, std::memory_order_release);
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

// The module's full path with every single quote doubled, as the registration scripts'
// "Module" and "Module_Raw" replacements carry it inside single-quoted strings.
HRESULT ModuleReplacement(std::u16string* out) {
    constexpr std::size_t kMaxPath = 260;
    const std::u16string path = orvex::com::ToUtf16(
        orvex::platform::ModulePathOf(reinterpret_cast<const void*>(&DllGetClassObject)));
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
