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

// The SDK's frame factories, each created once per process on first need and kept for the
// life of the process; empty when creation failed, which is retried on the next call.
CComPtr<IOXFactory> FrameFactory();
CComPtr<IMFactory_I> FrameFactoryPriv();

}  // namespace orvex::formats
