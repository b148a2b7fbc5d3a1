// PropsSet with an empty name (attribute list, XML or text), then reads of the whole tree:
// its text, written to another object, gives the same tree.
#include "../fuzz_text.h"
#include "com/ptr.h"
#include "props/props_impl.h"
#include "tree_check.h"

namespace {

class FuzzProps : public CComObjectRootEx<CComMultiThreadModel>, public IMPropsImpl<FuzzProps> {
public:
    BEGIN_COM_MAP(FuzzProps)
    COM_INTERFACE_ENTRY(IOXProps)
    END_COM_MAP()
};

CComPtr<IOXProps> Make(CComObject<FuzzProps>** raw) {
    CComObject<FuzzProps>::CreateInstance(raw);
    return CComPtr<IOXProps>(*raw);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CComObject<FuzzProps>* first = nullptr;
    CComPtr<IOXProps> props = Make(&first);
    CComBSTR value(FuzzText(data, size));
    CComBSTR empty(u"");
    props->PropsSet(empty, value);
    CComBSTR xml;
    props->PropsGet(empty, &xml);
    int count = 0;
    props->PropsGetCount(empty, &count);
    for (int i = 0; i < count && i < 64; ++i) {
        CComBSTR name, v;
        BOOL node = 0;
        props->PropsGetByIndex(empty, i, &name, &v, &node);
    }
    CComObject<FuzzProps>* second = nullptr;
    CComPtr<IOXProps> copy = Make(&second);
    if (copy->PropsSet(empty, xml) != S_OK) __builtin_trap();
    if (!tree_check::SameTree(*first->PropsRoot(), *second->PropsRoot())) __builtin_trap();
    return 0;
}
