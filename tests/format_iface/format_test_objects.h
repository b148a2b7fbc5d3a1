// Small COM objects that serve IOXFormat through IMFormatImpl, for the tests.
#pragma once

#include "com/object.h"
#include "com/ptr.h"
#include "formats/format_impl.h"

// Answers from its own lists; reachable as IOXFormat or only by the private identifier.
template <bool kPrivateOnly>
class CFormatObject : public CComObjectRootEx<CComMultiThreadModel>,
                      public IMFormatImpl<CFormatObject<kPrivateOnly>> {
public:
    BEGIN_COM_MAP(CFormatObject)
    COM_INTERFACE_ENTRY_IID(kPrivateOnly ? IID_IMPrivFormat : IidOf<IOXFormat>(), IOXFormat)
    END_COM_MAP()

    CComPtr<IUnknown> FormatDelegateGet() { return delegate; }
    CComPtr<IUnknown> delegate;
};
using CFormatOnly = CFormatObject<false>;

template <class T>
CComPtr<CComObject<T>> MakeObject() {
    CComObject<T>* p = nullptr;
    CComObject<T>::CreateInstance(&p);
    return CComPtr<CComObject<T>>(p);
}
