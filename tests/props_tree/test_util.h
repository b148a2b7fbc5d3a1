// Small helpers shared by the attribute tree tests.
#pragma once

#include <string>

#include "com/ptr.h"
#include "com/runtime.h"
#include "props/xml_node.h"

namespace props_test {

inline CComBSTR B(const char16_t* s) {
    return CComBSTR(std::u16string_view(s));
}
// For an out parameter: frees what the string held, as a caller must before reusing it.
inline BSTR* Out(CComBSTR& b) {
    b.Empty();
    return &b;
}
inline std::string U8(BSTR b) {
    return orvex::com::ToUtf8(orvex::com::View(b));
}
inline std::string U8(std::u16string_view s) {
    return orvex::com::ToUtf8(s);
}

inline XMLParse::XMLNodePtr NewRoot(const char16_t* name = u"root") {
    return XMLParse::CoXMLNode::Create(name);
}

}  // namespace props_test
