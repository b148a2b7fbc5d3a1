#include "backend/registry_settings.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "backend/output_state.h"
#include "backend/settings_schema.h"
#include "props/value_check.h"
#include "props/xml_node.h"
#include "props/xml_schema.h"

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

// A dotted value name reaches into existing child nodes; the rest names the property. False
// when the property's schema refuses the value (props/value_check.h): the tree keeps its own.
bool SetDotted(CoXMLNode* node, std::u16string_view name, std::u16string_view value) {
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
    if (!cur->ResolveAttrPath(name.substr(start), true, holder, &attr)) return true;
    if (!props::BoundsRefusal(XMLParse::FindSchemaEntry(holder, attr), value).empty()) return false;
    holder->SetAttr(attr, value);
    return true;
}

// ASCII upper case: value names compare without case.
std::u16string Folded(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    return out;
}

// The values as the renderer read them, by folded name. Written back, a value is set only
// while it still stands as read (or, not read, while it is absent), so that a value another
// process wrote in between is never overwritten with this renderer's older copy; a value the
// schema refused is left as the user wrote it.
struct ReadValues {
    std::unordered_map<std::u16string, platform::RegistryValue> read;
    std::unordered_set<std::u16string> refused;
};

// Writes through `key`, unconditionally, or against what was read.
class ValueWriter {
public:
    ValueWriter(RegistryKey& key, const ReadValues* read) : key_(key), read_(read) {}

    void Put(std::u16string_view name, DWORD type, std::vector<BYTE> data) {
        if (!read_) {
            key_.SetValue(name, type, data.data(), data.size());
            return;
        }
        const std::u16string folded = Folded(name);
        if (read_->refused.contains(folded)) return;
        const auto it = read_->read.find(folded);
        if (it == read_->read.end()) {
            key_.SetValueIf(name, nullptr, type, data.data(), data.size());
        } else if (it->second.type != type || it->second.data != data) {
            key_.SetValueIf(name, &it->second, type, data.data(), data.size());
        }
    }
    void PutText(std::u16string_view name, std::u16string_view text) {
        std::vector<BYTE> data;
        data.reserve(text.size() * 2 + 2);
        for (char16_t c : text) {
            data.push_back(static_cast<BYTE>(c & 0xFF));
            data.push_back(static_cast<BYTE>(c >> 8));
        }
        data.insert(data.end(), {0, 0});
        Put(name, platform::kRegSz, std::move(data));
    }
    void PutNumber(std::u16string_view name, DWORD type, std::uint64_t number) {
        const int bytes = type == platform::kRegDword ? 4 : 8;
        std::vector<BYTE> data;
        for (int i = 0; i < bytes; ++i) data.push_back(static_cast<BYTE>(number >> (8 * i)));
        Put(name, type, std::move(data));
    }

private:
    RegistryKey& key_;
    const ReadValues* read_;
};

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

// What the output opened is the renderer's to say, not a setting: never saved or loaded.
bool IsOutputState(std::u16string_view name) {
    for (const auto& entry : kOutputDefaults)
        if (Folded(name) == Folded(entry[0])) return true;
    return false;
}

void SaveNode(ValueWriter& out, CoXMLNode* node, std::u16string_view prefix, bool top) {
    // Only the saved node's own text goes to the default value: children's texts would
    // overwrite it one after the other.
    if (top) {
        std::u16string text = node->Value();
        if (!text.empty()) out.PutText(u"", text);
    }
    for (const auto& a : node->Attributes()) {
        if (top && prefix.empty() && IsOutputState(a.name)) continue;
        std::u16string name = prefix.empty() ? a.name : std::u16string(prefix) + u"." + a.name;
        std::uint64_t number = 0;
        const DWORD type = RegistryTypeOf(a.value, &number);
        if (type == platform::kRegSz)
            out.PutText(name, a.value);
        else
            out.PutNumber(name, type, number);
    }
    for (const auto& child : node->ElementChildren()) {
        std::u16string name = child->Name();
        std::u16string child_prefix = prefix.empty() ? name : std::u16string(prefix) + u"." + name;
        SaveNode(out, child, child_prefix, false);
    }
}

HRESULT Save(CoXMLNode* source, platform::RegRoot root, std::u16string_view key_path,
             std::u16string_view prefix, const ReadValues* read) {
    RegistryKey key;
    if (key.Create(root, key_path) != 0) return S_FALSE;
    // One flushed rewrite for the whole tree rather than one per value.
    key.BeginBatch();
    ValueWriter out(key, read);
    SaveNode(out, source, prefix, true);
    return key.CommitBatch() == 0 ? S_OK : S_FALSE;
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
    DeclareSharedSettings(target);
    ReadValues read;
    {
        RegistryKey key;
        if (key.Open(root, key_path) == 0) {
            std::u16string name, text;
            platform::RegistryValue value;
            for (DWORD i = 0;; ++i) {
                if (key.EnumValue(i, &name, &value.type, &value.data) != 0) break;
                const std::u16string folded = Folded(name);
                read.read.emplace(folded, value);
                if (name.empty() || name.size() > kMaxValueName || IsOutputState(name)) continue;
                if (LoadValue(value.type, value.data, &text) && !SetDotted(target, name, text))
                    read.refused.insert(folded);
            }
        }
    }
    if (write_back) Save(target, root, key_path, {}, &read);
    return S_OK;
}

HRESULT RegistrySave(IMNode* node, platform::RegRoot root, std::u16string_view key_path,
                     std::u16string_view prefix) {
    CoXMLNode* source = CoXMLNode::From(node);
    if (!source) return E_POINTER;
    return Save(source, root, key_path, prefix, nullptr);
}

}  // namespace orvex::backend
