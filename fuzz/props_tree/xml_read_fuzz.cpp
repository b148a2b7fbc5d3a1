// The XML reader on arbitrary text; whatever it keeps must write and read back as the same
// tree.
#include "../fuzz_text.h"
#include "com/ptr.h"
#include "props/xml_node.h"
#include "props/xml_text.h"
#include "tree_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    XMLParse::XMLNodePtr node = XMLParse::CoXMLNode::Create(u"fuzz");
    XMLParse::ParseXml(FuzzText(data, size), node, true);
    std::u16string xml = XMLParse::WriteXml(*node);
    XMLParse::XMLNodePtr again = XMLParse::CoXMLNode::Create(u"again");
    if (XMLParse::ParseXml(xml, again, true) != S_OK) __builtin_trap();
    if (!tree_check::SameTree(*node, *again)) __builtin_trap();
    CComBSTR list;
    node->AttributesListGet(&list);
    return 0;
}
