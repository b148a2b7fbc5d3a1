// Small COM objects that serve IOXFormat through IMFormatImpl, for the tests.
#pragma once

#include "com/object.h"
#include "com/ptr.h"
#include "formats/format_impl.h"

// Answers from its own lists.
class CFormatOnly : public CComObjectRootEx<CComMultiThreadModel>,
                    public IMFormatImpl<CFormatOnly> {
public:
    BEGIN_COM_MAP(CFormatOnly)
    COM_INTERFACE_ENTRY(IOXFormat)
    END_COM_MAP()

    using MImageFormatEx::m_convert;
    using MImageFormatEx::m_input;
};

// Reachable only through the private format identifier, as sibling modules' objects are.
class CPrivateFormatOnly : public CComObjectRootEx<CComMultiThreadModel>,
                           public IMFormatImpl<CPrivateFormatOnly> {
public:
    BEGIN_COM_MAP(CPrivateFormatOnly)
    COM_INTERFACE_ENTRY_IID(IID_IMPrivFormat, IOXFormat)
    END_COM_MAP()
};

// Forwards to whatever `delegate` holds.
class CForwarder : public CComObjectRootEx<CComMultiThreadModel>, public IMFormatImpl<CForwarder> {
public:
    BEGIN_COM_MAP(CForwarder)
    COM_INTERFACE_ENTRY(IOXFormat)
    END_COM_MAP()

    CComPtr<IUnknown> FormatDelegateGet() { return delegate; }
    CComPtr<IUnknown> delegate;
};

template <class T>
CComPtr<CComObject<T>> MakeObject() {
    CComObject<T>* p = nullptr;
    if (FAILED(CComObject<T>::CreateInstance(&p))) return nullptr;
    return CComPtr<CComObject<T>>(p);
}
