#include "renderer/fake_backend.h"

#include <stdexcept>
#include <utility>

#include "com/ptr.h"
#include "com/runtime.h"

namespace orvex::test {

std::vector<std::string> BackendProbe::Calls() {
    std::lock_guard hold(lock);
    return std::exchange(calls_, {});
}

void BackendProbe::Record(std::string call) {
    std::lock_guard hold(lock);
    calls_.push_back(std::move(call));
}

namespace {

std::string Text(BSTR b) {
    return b ? com::ToUtf8(com::View(b)) : "null";
}

class FakeBackend final : public IOXDevice, public IOXReceiver, public IOXProps, public IOXFormat {
public:
    explicit FakeBackend(BackendProbe* probe) : p_(probe) { ++p_->alive; }
    ~FakeBackend() { --p_->alive; }

    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOXDevice)
            *ppv = static_cast<IOXDevice*>(this);
        else if (riid == IID_IOXReceiver && p_->receiver)
            *ppv = static_cast<IOXReceiver*>(this);
        else if ((riid == IID_IOXProps && p_->props) ||
                 (riid == IID_IMPrivProps && p_->private_props))
            *ppv = static_cast<IOXProps*>(this);
        else if ((riid == IID_IOXFormat || riid == IID_IMPrivFormat) && p_->format)
            *ppv = static_cast<IOXFormat*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

    STDMETHOD(DeviceGetCount)(eOXDeviceType, int* pnCount) override {
        if (FAILED(p_->count_result)) return p_->count_result;
        *pnCount = p_->count_override ? p_->count_override : static_cast<int>(p_->devices.size());
        return S_OK;
    }
    STDMETHOD(DeviceGetByIndex)(eOXDeviceType, int i, BSTR* name, BOOL* busy) override {
        Call("DeviceGetByIndex " + std::to_string(i));
        if (i < 0 || i >= static_cast<int>(p_->devices.size())) return E_INVALID_INDEX;
        *name = CComBSTR(p_->devices[static_cast<std::size_t>(i)]).Detach();
        if (busy) *busy = 0;
        return p_->call_result;
    }
    STDMETHOD(DeviceSet)(eOXDeviceType, int i, BSTR param) override {
        Call("DeviceSet " + std::to_string(i) + " " + Text(param));
        if (FAILED(p_->set_result)) return p_->set_result;
        std::lock_guard hold(p_->lock);
        p_->chosen = i;
        return p_->call_result;
    }
    STDMETHOD(DeviceGet)(eOXDeviceType, int* index, BSTR* name) override {
        Call("DeviceGet");
        std::lock_guard hold(p_->lock);
        if (index) *index = p_->chosen;
        if (p_->chosen < 0) return S_FALSE;
        if (name) *name = CComBSTR(p_->devices[static_cast<std::size_t>(p_->chosen)]).Detach();
        return p_->call_result;
    }
    STDMETHOD(DeviceShowProps)(eOXDeviceType, BSTR type, LONGLONG wnd) override {
        return Call("DeviceShowProps " + Text(type) + " " + std::to_string(wnd));
    }
    STDMETHOD(DeviceOpen)(BSTR config, BSTR props) override {
        return Call("DeviceOpen " + Text(config) + " " + Text(props));
    }
    STDMETHOD(DeviceClose)() override { return Call("DeviceClose"); }
    STDMETHOD(DeviceGetInternal)(eOXDeviceType, IUnknown** object) override {
        Call("DeviceGetInternal");
        return QueryInterface(IID_IUnknown, reinterpret_cast<void**>(object)) == S_OK
                   ? p_->call_result
                   : E_FAIL;
    }

    STDMETHOD(ReceiverFramePut)(IOXFrame* frame, LONGLONG wait, BSTR props) override {
        return Call(std::string("ReceiverFramePut ") + (frame ? "frame " : "null ") +
                    std::to_string(wait) + " " + Text(props));
    }

    STDMETHOD(PropsSet)(BSTR name, BSTR value) override {
        Call("PropsSet " + Text(name) + " " + Text(value));
        std::lock_guard hold(p_->lock);
        p_->store[std::u16string(com::View(name))] = com::View(value);
        return p_->call_result;
    }
    STDMETHOD(PropsGet)(BSTR name, BSTR* value) override {
        Call("PropsGet " + Text(name));
        std::lock_guard hold(p_->lock);
        auto it = p_->store.find(std::u16string(com::View(name)));
        *value = it == p_->store.end() ? nullptr : CComBSTR(it->second).Detach();
        return FAILED(p_->call_result) ? p_->call_result : it == p_->store.end() ? S_FALSE : S_OK;
    }
    // The calls whose arguments the tests do not look at.
#define ORVEX_RECORDED(method, params)  \
    STDMETHOD(method) params override { \
        return Call(#method);           \
    }
    ORVEX_RECORDED(PropsGetCount, (BSTR, int*))
    ORVEX_RECORDED(PropsGetByIndex, (BSTR, int, BSTR*, BSTR*, BOOL*))
    ORVEX_RECORDED(PropsRemove, (BSTR))
    ORVEX_RECORDED(PropsInfoGet, (BSTR, eMInfoType, BSTR*))
    ORVEX_RECORDED(PropsOptionGetCount, (BSTR, int*))
    ORVEX_RECORDED(PropsOptionGetByIndex, (BSTR, int, BSTR*, BSTR*))
    ORVEX_RECORDED(PropsOptionSetByIndex, (BSTR, int))
    ORVEX_RECORDED(PropsOptionGet, (BSTR, int*, BSTR*, BSTR*))
    ORVEX_RECORDED(FormatVideoGetCount, (eMFormatType, int*))
    ORVEX_RECORDED(FormatVideoGetByIndex, (eMFormatType, int, M_VID_PROPS*, BSTR*))
    ORVEX_RECORDED(FormatVideoSet, (eMFormatType, M_VID_PROPS*))
    ORVEX_RECORDED(FormatVideoGet, (eMFormatType, M_VID_PROPS*, int*, BSTR*))
    ORVEX_RECORDED(FormatAudioGetCount, (eMFormatType, int*))
    ORVEX_RECORDED(FormatAudioGetByIndex, (eMFormatType, int, M_AUD_PROPS*, BSTR*))
    ORVEX_RECORDED(FormatAudioSet, (eMFormatType, M_AUD_PROPS*))
    ORVEX_RECORDED(FormatAudioGet, (eMFormatType, M_AUD_PROPS*, int*, BSTR*))
#undef ORVEX_RECORDED

private:
    HRESULT Call(std::string what) {
        p_->Record(std::move(what));
        if (p_->throws) throw std::runtime_error("backend fault");
        return p_->call_result;
    }

    BackendProbe* p_;
    std::atomic<ULONG> refs_{1};
};

struct Listed {
    CLSID clsid;
    BackendProbe* probe;
};
std::mutex g_listed_lock;
std::vector<Listed> g_listed;

class Factory final : public IClassFactory {
public:
    explicit Factory(BackendProbe* probe) : p_(probe) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (!(riid == IID_IUnknown || riid == IID_IClassFactory)) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHOD(CreateInstance)(IUnknown* outer, REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (FAILED(p_->create_result)) return p_->create_result;
        if (p_->makes_directory) {
            CComPtr<IUnknown> directory;
            CoCreateInstance(CLSID_OXRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(&directory));
        }
        auto* object = new FakeBackend(p_);
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    STDMETHOD(LockServer)(BOOL) override { return S_OK; }

private:
    BackendProbe* p_;
    std::atomic<ULONG> refs_{1};
};

HRESULT STDMETHODCALLTYPE GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    *ppv = nullptr;
    BackendProbe* probe = nullptr;
    {
        std::lock_guard hold(g_listed_lock);
        for (const Listed& l : g_listed)
            if (l.clsid == rclsid) probe = l.probe;
    }
    if (!probe) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new Factory(probe);
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

}  // namespace

void List(REFCLSID clsid, BackendProbe* probe) {
    {
        std::lock_guard hold(g_listed_lock);
        g_listed.push_back({clsid, probe});
    }
    OrvexRegisterProcessClass(clsid, &GetClassObject);
}

void UnlistAll() {
    std::lock_guard hold(g_listed_lock);
    for (const Listed& l : g_listed) OrvexRevokeProcessClass(l.clsid, &GetClassObject);
    g_listed.clear();
}

}  // namespace orvex::test
