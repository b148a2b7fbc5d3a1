// Trees made from a byte string, and a structural comparison of two trees: shared by the
// round-trip fuzz targets and the round-trip property test.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "props/xml_node.h"

namespace tree_check {

// Characters that the text forms treat specially, and some they do not.
inline constexpr char16_t kAlphabet[] = {
    u' ',   u'\t',  u'\r',  u'\n',  u'\'',  u'"',   u'<',   u'>', u'&', u'=',   u'/',
    u'\\',  u';',   u',',   u'!',   u'?',   u'-',   u':',   u'[', u']', u'#',   u'x',
    u'b',   u'r',   u't',   u'a',   u'A',   u'Z',   u'0',   u'.', 0,    0xFFEE, 0xFFEF,
    0xD800, 0xDC00, 0x00A0, 0x00E9, 0x4E2D, 0xFDD0, 0xFFFD, u'_', u'*'};

class ByteSource {
public:
    ByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool More() const { return at_ < size_; }
    std::uint8_t Next() { return at_ < size_ ? data_[at_++] : 0; }

    std::u16string Text(bool name) {
        std::size_t length = Next() % 10;
        if (name && length == 0) length = 1;
        std::u16string text;
        for (std::size_t i = 0; i < length; ++i) {
            std::uint8_t b = Next();
            if (b < std::size(kAlphabet))
                text.push_back(kAlphabet[b]);
            else if (b < 200)
                text.push_back(static_cast<char16_t>(u'a' + b % 26));
            else
                text.push_back(static_cast<char16_t>(Next() << 8 | Next()));
        }
        return text;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// Builds a tree by a small program read from the bytes: add a child and enter it, leave,
// set an attribute, set the value, add text after the last child.
inline XMLParse::XMLNodePtr BuildTree(const std::uint8_t* data, std::size_t size) {
    ByteSource in(data, size);
    XMLParse::XMLNodePtr root = XMLParse::CoXMLNode::Create(in.Text(true));
    std::vector<XMLParse::XMLNodePtr> path{root};
    while (in.More() && path.size() < 64) {
        XMLParse::CoXMLNode* at = path.back();
        switch (in.Next() % 6) {
            case 0:
                if (path.size() < 12)
                    if (XMLParse::XMLNodePtr child = at->AppendChild(in.Text(true)))
                        path.push_back(child);
                break;
            case 1:
                if (path.size() > 1) path.pop_back();
                break;
            case 2:
            case 3: {
                std::u16string name = in.Text(true);
                at->SetAttr(name, in.Text(false));
                break;
            }
            case 4:
                at->SetValue(in.Text(false));
                break;
            default:
                at->AddText(in.Text(false));
                break;
        }
    }
    return root;
}

// Tag names are read with their ASCII letters in lower case; the tree folds case anyway.
inline std::u16string TagName(std::u16string name) {
    for (auto& c : name)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return name;
}

// Whether two trees hold the same names (tags up to ASCII case), attributes in the same
// order, the same value and the same non-empty text runs and elements in the same order.
inline bool SameTree(const XMLParse::CoXMLNode& a, const XMLParse::CoXMLNode& b) {
    if (TagName(a.Name()) != TagName(b.Name()) || a.Value() != b.Value()) return false;
    const auto aa = a.Attributes(), ba = b.Attributes();
    if (aa.size() != ba.size()) return false;
    for (std::size_t i = 0; i < aa.size(); ++i)
        if (aa[i].name != ba[i].name || aa[i].value != ba[i].value) return false;
    auto content = [](const XMLParse::CoXMLNode& n) {
        std::vector<XMLParse::XMLNodePtr> all = n.Children();
        std::erase_if(all, [](const XMLParse::XMLNodePtr& c) {
            return c->IsTextRun() && c->TextUnlocked().empty();
        });
        return all;
    };
    const auto ac = content(a), bc = content(b);
    if (ac.size() != bc.size()) return false;
    for (std::size_t i = 0; i < ac.size(); ++i) {
        if (ac[i]->IsTextRun() != bc[i]->IsTextRun()) return false;
        if (ac[i]->IsTextRun() ? ac[i]->TextUnlocked() != bc[i]->TextUnlocked()
                               : !SameTree(*ac[i], *bc[i]))
            return false;
    }
    return true;
}

}  // namespace tree_check
