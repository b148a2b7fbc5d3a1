// A module's class objects: each made on its first request, cached until the module
// detaches, and listed in the process class table while the module is loaded. An entry type
// has the members `clsid` (const CLSID*), `creator` (_CREATORFUNC) and `class_object`
// (std::atomic<IUnknown*>).
#pragma once

#include <atomic>
#include <mutex>
#include <new>
#include <span>

#include "com/object.h"
#include "com/runtime.h"

namespace orvex::com {

// DllGetClassObject's lookup: the first entry whose CLSID matches, its class object made
// under `lock` when missing (tested again inside), then queried for riid.
template <class Entry>
HRESULT GetCachedClassObject(Entry* begin, Entry* end, std::mutex& lock, REFCLSID rclsid,
                             REFIID riid, void** ppv) {
    for (Entry& e : std::span(begin, end)) {
        if (!(*e.clsid == rclsid)) continue;
        IUnknown* cf = e.class_object.load(std::memory_order_acquire);
        if (!cf) {
            std::lock_guard guard(lock);
            cf = e.class_object.load(std::memory_order_acquire);
            if (!cf) {
                using Factory = CComObjectCached<CComClassFactory>;
                auto* factory = new (std::nothrow) Factory();
                if (!factory) return E_OUTOFMEMORY;
                factory->SetVoid(reinterpret_cast<void*>(e.creator));
                HRESULT hr =
                    ConstructAndQuery(factory, IID_IUnknown, reinterpret_cast<void**>(&cf));
                if (FAILED(hr)) return hr;
                e.class_object.store(cf, std::memory_order_release);
            }
        }
        return cf->QueryInterface(riid, ppv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// Called when the module attaches. On Windows the system finds the module's classes through
// its registration (regsvr32), and no COM call may be made under the loader lock.
template <class Entry>
void RegisterModuleClasses([[maybe_unused]] Entry* begin, [[maybe_unused]] Entry* end,
                           [[maybe_unused]] LPFNGETCLASSOBJECT get_class_object) {
#if !defined(_WIN32)
    for (Entry& e : std::span(begin, end)) OrvexRegisterProcessClass(*e.clsid, get_class_object);
#endif
}

// Takes the module's classes out of the process table and drops the cached class objects.
template <class Entry>
void RevokeModuleClasses(Entry* begin, Entry* end,
                         [[maybe_unused]] LPFNGETCLASSOBJECT get_class_object) {
    for (Entry& e : std::span(begin, end)) {
#if !defined(_WIN32)
        OrvexRevokeProcessClass(*e.clsid, get_class_object);
#endif
        if (IUnknown* cf = e.class_object.exchange(nullptr)) cf->Release();
    }
}

}  // namespace orvex::com
