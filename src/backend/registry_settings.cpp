#include "backend/registry_settings.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "props/xml_node.h"

namespace orvex::backend {
namespace {

using platform::RegistryKey;
using XMLParse::CoXMLNode;
using XMLParse::XMLNodePtr;

// Registry value names are at most this long; longer ones are skipped.
constexpr std::size_t kMaxValueName = 519;

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c == 0 || c > 0x7E) {
            out.push_back('\x7F');  // cannot be part of a number, so the text stays text
            continue;
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

std::u16string Widen(const char* s) {
    std::u16string out;
    for (; *s; ++s) out.push_back(static_cast<unsigned char>(*s));
    return out;
}

// A dotted value name reaches into existing child nodes; the rest names the property.
void SetDotted(CoXMLNode* node, std::u16string_view name, std::u16string_view value) {
    XMLNodePtr cur(node);
    std::size_t start = 0;
    for (std::size_t dot; (dot = name.find(u'.', start)) != std::u16string_view::npos;) {
        XMLNodePtr child = cur->FindChild(name.substr(start, dot - start));
        if (!child || child->IsSchema()) break;
        cur = child;
        start = dot + 1;
    }
    XMLNodePtr holder;
    std::u16string_view attr;
    if (cur->ResolveAttrPath(name.substr(start), true, holder, &attr)) holder->SetAttr(attr, value);
}

bool LoadValue(DWORD type, const std::vector<BYTE>& data, std::u16string* text) {
    char buf[32];
    switch (type) {
        case platform::kRegDword: {
            if (data.size() != 4) return false;
            std::int32_t v;
            std::memcpy(&v, data.data(), 4);
            std::snprintf(buf, sizeof buf, "%" PRId32, v);
            *text = Widen(buf);
            return true;
        }
        case platform::kRegQword: {
            if (data.size() != 8) return false;
            std::int64_t v;
            std::memcpy(&v, data.data(), 8);
            std::snprintf(buf, sizeof buf, "%" PRId64, v);
            *text = Widen(buf);
            return true;
        }
        case platform::kRegSz:
        case platform::kRegExpandSz: {
            // Text without its terminating zero was not written by us nor by a registry
            // editor; it is skipped rather than guessed at.
            if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 ||
                data[data.size() - 2] != 0)
                return false;
            text->resize(data.size() / 2 - 1);
            std::memcpy(text->data(), data.data(), text->size() * 2);
            text->resize(std::char_traits<char16_t>::length(text->c_str()));
            return true;
        }
        default:
            return false;
    }
}

void SaveNode(RegistryKey& key, CoXMLNode* node, std::u16string_view prefix, bool top) {
    // Only the saved node's own text goes to the default value: children's texts would
    // overwrite it one after the other.
    if (top) {
        std::u16string text = node->Value();
        if (!text.empty()) key.SetString(u"", text);
    }
    for (const auto& a : node->Attributes()) {
        std::u16string name = prefix.empty() ? a.name : std::u16string(prefix) + u"." + a.name;
        std::uint64_t number = 0;
        switch (RegistryTypeOf(a.value, &number)) {
            case platform::kRegDword:
                key.SetDword(name, static_cast<DWORD>(number));
                break;
            case platform::kRegQword:
                key.SetQword(name, number);
                break;
            default:
                key.SetString(name, a.value);
        }
    }
    for (const auto& child : node->ElementChildren()) {
        std::u16string name = child->Name();
        std::u16string child_prefix = prefix.empty() ? name : std::u16string(prefix) + u"." + name;
        SaveNode(key, child, child_prefix, false);
    }
}

}  // namespace

DWORD RegistryTypeOf(std::u16string_view text, std::uint64_t* number) {
    if (text.empty()) return platform::kRegSz;
    const std::string narrow = Narrow(text);
    char buf[32];
    long long a = std::strtoll(narrow.c_str(), nullptr, 10);
    if (a > std::numeric_limits<std::int32_t>::max()) a = std::numeric_limits<std::int32_t>::max();
    if (a < std::numeric_limits<std::int32_t>::min()) a = std::numeric_limits<std::int32_t>::min();
    std::snprintf(buf, sizeof buf, "%d", static_cast<int>(a));
    if (a >= 0 && narrow == buf) {
        *number = static_cast<std::uint64_t>(a);
        return platform::kRegDword;
    }
    long long b = std::strtoll(narrow.c_str(), nullptr, 0);
    std::snprintf(buf, sizeof buf, "0x%016llX", b);
    if (b >= 0 && narrow == buf) {
        *number = static_cast<std::uint64_t>(b);
        return platform::kRegQword;
    }
    return platform::kRegSz;
}

HRESULT RegistryLoad(IMNode* node, platform::RegRoot root, std::u16string_view key_path,
                     bool write_back) {
    CoXMLNode* target = CoXMLNode::From(node);
    if (!target) return E_POINTER;
    {
        RegistryKey key;
        if (key.Open(root, key_path) == 0) {
            std::u16string name, text;
            std::vector<BYTE> data;
            for (DWORD i = 0;; ++i) {
                DWORD type = 0;
                if (key.EnumValue(i, &name, &type, &data) != 0) break;
                if (name.empty() || name.size() > kMaxValueName) continue;
                if (LoadValue(type, data, &text)) SetDotted(target, name, text);
            }
        }
    }
    if (write_back) RegistrySave(node, root, key_path);
    return S_OK;
}

HRESULT RegistrySave(IMNode* node, platform::RegRoot root, std::u16string_view key_path,
                     std::u16string_view prefix) {
    CoXMLNode* source = CoXMLNode::From(node);
    if (!source) return E_POINTER;
    RegistryKey key;
    if (key.Create(root, key_path) != 0) return S_FALSE;
    // One flushed rewrite for the whole tree rather than one per value.
    key.BeginBatch();
    SaveNode(key, source, prefix, true);
    return key.CommitBatch() == 0 ? S_OK : S_FALSE;
}

}  // namespace orvex::backend
