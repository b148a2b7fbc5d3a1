// The attribute-list reader on arbitrary text.
#include "com/ptr.h"
#include "fuzz_text.h"
#include "props/xml_node.h"
#include "props/xml_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    XMLParse::XMLNodePtr node = XMLParse::CoXMLNode::Create(u"fuzz");
    const std::u16string text = FuzzText(data, size);
    XMLParse::ParseAttributeList(text, node, true, size % 2 == 1);
    CComBSTR list;
    node->AttributesListGet(&list);
    // What was written is read back to the same attributes.
    XMLParse::XMLNodePtr again = XMLParse::CoXMLNode::Create(u"again");
    XMLParse::ParseAttributeList(list.View(), again);
    if (again->AttrCount() > node->AttrCount()) __builtin_trap();
    return 0;
}
