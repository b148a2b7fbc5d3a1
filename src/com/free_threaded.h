// Aggregation of the free-threaded marshaler, shared by every free-threaded class: the
// object's interface pointers pass between apartments of the process unmarshalled.
#pragma once

#include "com/ptr.h"
#include "com/runtime.h"

class CFreeThreadedMarshalerHolder {
protected:
    // Called first in FinalConstruct with the controlling unknown (the outer unknown when
    // aggregated).
    HRESULT CreateFreeThreadedMarshaler(IUnknown* controlling) {
        return CoCreateFreeThreadedMarshaler(controlling, &m_pUnkMarshaler);
    }
    void ReleaseFreeThreadedMarshaler() { m_pUnkMarshaler.Release(); }

public:
    CComPtr<IUnknown> m_pUnkMarshaler;  // inner unknown: answers IMarshal
};
