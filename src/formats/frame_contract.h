// What the renderers need of incoming frames: the internal frame interface IMFrame_I of a
// frame that lives in this process, obtained through the SDK's frame factories.
#pragma once

#include "com/ptr.h"
#include "orvex/ids.h"

namespace orvex::formats {

// Obtains IMFrame_I for `object`:
//  1. an IOXFrame is made local by the public factory (OXFrameMakeLocal, no forced clone);
//     no factory gives E_UNEXPECTED, a failing OXFrameMakeLocal its code;
//  2. else a private frame source is made local by the private factory; an object that is
//     neither gives E_NOINTERFACE;
//  3. the local frame is queried for IMFrame_I (its failure is returned).
HRESULT FrameInternalGet(IUnknown* object, IMFrame_I** out);

// Keeps the SDK's frame factories for the process while it lives. The factories are made on
// first need (a failed creation is retried on the next) and shared by every holder; the last
// holder to go releases them. A factory reference locks the library that serves it, and a
// host may unload that library as soon as its DllCanUnloadNow says S_OK, so nothing keeps one
// past the objects that use it: each renderer holds one of these for its whole life. Without
// a holder every call makes its factory afresh and keeps nothing.
class FrameFactoryHold {
public:
    FrameFactoryHold();
    ~FrameFactoryHold();
    FrameFactoryHold(const FrameFactoryHold&) = delete;
    FrameFactoryHold& operator=(const FrameFactoryHold&) = delete;
};

// The SDK's frame factories (see FrameFactoryHold); empty when creation failed.
CComPtr<IOXFactory> FrameFactory();
CComPtr<IMFactory_I> FrameFactoryPriv();

}  // namespace orvex::formats
