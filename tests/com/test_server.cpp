#include "com/test_server.h"
#include "com/object.h"

namespace {

class CTestCounter : public CComObjectRootEx<CComMultiThreadModel>,
                     public CComCoClass<CTestCounter>,
                     public ITestCounter {
public:
    BEGIN_COM_MAP(CTestCounter)
    COM_INTERFACE_ENTRY(ITestCounter)
    END_COM_MAP()

    STDMETHOD(Increment)(int* pnValue) override {
        if (!pnValue) return E_POINTER;
        *pnValue = ++value_;
        return S_OK;
    }

private:
    int value_ = 0;
};

}  // namespace

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!(rclsid == CLSID_TestCounter)) return CLASS_E_CLASSNOTAVAILABLE;
    return CComCreator<CComObject<CComClassFactory>>::CreateInstance(
        reinterpret_cast<void*>(&CTestCounter::_CreatorClass::CreateInstance), riid, ppv);
}
