// A tiny in-process server used by the runtime tests: one class answering ITestCounter.
#pragma once

#include "com/types.h"

struct ITestCounter : IUnknown {
    STDMETHOD(Increment)(int* pnValue) = 0;

protected:
    ~ITestCounter() = default;
};
ORVEX_DECLARE_IID(ITestCounter, "a7b1f1de-58c6-4a0e-9a43-5c0d5c3f0a11");
inline constexpr CLSID CLSID_TestCounter = MakeGuid("a7b1f1de-58c6-4a0e-9a43-5c0d5c3f0a12");
