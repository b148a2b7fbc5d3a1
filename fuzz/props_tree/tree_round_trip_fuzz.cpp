// Trees built from the input by tree_check::BuildTree: the XML written for them, read back,
// gives the same tree.
#include "props/xml_text.h"
#include "tree_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    XMLParse::XMLNodePtr tree = tree_check::BuildTree(data, size);
    const std::u16string xml = XMLParse::WriteXml(*tree);
    XMLParse::XMLNodePtr again = XMLParse::CoXMLNode::Create(u"again");
    if (XMLParse::ParseXml(xml, again, true) != S_OK) __builtin_trap();
    if (!tree_check::SameTree(*tree, *again)) __builtin_trap();
    return 0;
}
