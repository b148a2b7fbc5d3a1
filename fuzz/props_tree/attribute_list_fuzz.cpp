// The attribute-list reader on arbitrary text; what it keeps must write and read back to the
// same attributes.
#include "../fuzz_text.h"
#include "com/ptr.h"
#include "props/xml_node.h"
#include "props/xml_text.h"
#include "tree_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    XMLParse::XMLNodePtr node = XMLParse::CoXMLNode::Create(u"fuzz");
    const std::u16string text = FuzzText(data, size);
    XMLParse::ParseAttributeList(text, node, true, size % 2 == 1);
    CComBSTR list;
    node->AttributesListGet(&list);
    XMLParse::XMLNodePtr again = XMLParse::CoXMLNode::Create(u"fuzz");
    XMLParse::ParseAttributeList(list.View(), again);
    if (!tree_check::SameTree(*node, *again)) __builtin_trap();
    return 0;
}
