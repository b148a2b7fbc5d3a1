// PropsSet with an empty name (attribute list, XML or text), then reads of the whole tree.
#include "com/ptr.h"
#include "fuzz_text.h"
#include "props/props_impl.h"

namespace {

class FuzzProps : public CComObjectRootEx<CComMultiThreadModel>, public IMPropsImpl<FuzzProps> {
public:
    BEGIN_COM_MAP(FuzzProps)
    COM_INTERFACE_ENTRY(IOXProps)
    END_COM_MAP()
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CComObject<FuzzProps>* raw = nullptr;
    CComObject<FuzzProps>::CreateInstance(&raw);
    CComPtr<IOXProps> props(raw);
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
    props->PropsSet(empty, xml);
    return 0;
}
