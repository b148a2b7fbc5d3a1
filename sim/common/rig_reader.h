// What the rigs of every virtual device share: where the rig comes from (an environment
// variable, a registry value, a preset or a file) and how an element's attributes read.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "props/xml_node.h"

namespace orvex::sim {

// The largest rig file read.
inline constexpr std::uint64_t kMaxRigFileBytes = 16u << 20;

// The rig's text: the setting is the environment variable `env_var`, else the string value
// "Rig" of HKEY_CLASSES_ROOT\<registry_key>, else "default"; `preset` turns a preset name into
// its text (empty for none), otherwise the setting is a file's path. False with `error` set
// when the file cannot be read or is larger than kMaxRigFileBytes (checked before reading).
bool ReadRigText(const char* env_var, const std::u16string& registry_key,
                 const std::function<std::string_view(std::string_view)>& preset,
                 std::string* setting, std::string* text, std::string* error);

// A rig that ships under a name: <rig> around the elements of its devices.
struct RigPreset {
    RigPreset(std::string_view preset_name, std::initializer_list<std::string_view> devices);
    std::string_view name;
    std::string text;
};
// The text of the preset called `name`, or empty when there is none.
std::string_view RigPresetText(const std::vector<RigPreset>& presets, std::string_view name);

// Words of a list: commas and white space separate them.
std::vector<std::string> RigTokens(std::string_view text);
// ASCII lower case.
std::string RigLower(std::string text);

// Reads one element's attributes; the first failure is kept in `error`. Absent attributes
// leave their output as it was and succeed.
class RigAttributes {
public:
    RigAttributes(XMLParse::CoXMLNode* node, std::string* error) : node_(node), error_(error) {}

    bool Has(const char* name) const;
    std::string Text(const char* name, std::string fallback = {}) const;
    bool Fail(const std::string& what);
    // true/1/yes, false/0/no or empty, in any case.
    bool Bool(const char* name, bool* out);
    // A C number (decimal, 0x hex, 0 octal) in [lo, hi].
    template <class T>
    bool Int(const char* name, std::int64_t lo, std::int64_t hi, T* out) {
        std::int64_t v = 0;
        if (!IntValue(name, lo, hi, &v)) return false;
        if (Has(name)) *out = static_cast<T>(v);
        return true;
    }
    bool Double(const char* name, double lo, double hi, double* out);

private:
    bool IntValue(const char* name, std::int64_t lo, std::int64_t hi, std::int64_t* out);

    XMLParse::CoXMLNode* node_;
    std::string* error_;
};

}  // namespace orvex::sim
