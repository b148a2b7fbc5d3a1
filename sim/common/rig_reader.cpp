#include "sim/common/rig_reader.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/registry.h"
#include "platform/text.h"

namespace orvex::sim {

bool ReadRigText(const char* env_var, const std::u16string& registry_key,
                 const std::vector<RigPreset>& presets, std::string* setting, std::string* text,
                 std::string* error) {
    error->clear();
    setting->clear();
    if (const char* env = std::getenv(env_var); env && *env) {
        *setting = env;
    } else {
        platform::RegistryKey key;
        std::u16string value;
        if (key.Open(platform::RegRoot::kClassesRoot, registry_key) == ERROR_SUCCESS &&
            key.QueryString(u"Rig", &value) == ERROR_SUCCESS)
            *setting = platform::ToUtf8(value);
    }
    if (setting->empty()) *setting = "default";
    for (const RigPreset& p : presets) {
        if (p.name == *setting) {
            *text = p.text;
            return true;
        }
    }
    std::error_code ec;
    const auto status = std::filesystem::status(*setting, ec);
    if (ec || !std::filesystem::exists(status)) {
        std::string names;
        for (const RigPreset& p : presets)
            names += (names.empty() ? "" : ", ") + std::string(p.name);
        return *error = "no rig preset or file of that name (presets: " + names + ")", false;
    }
    if (!std::filesystem::is_regular_file(status)) return *error = "not a regular file", false;
    const std::uintmax_t size = std::filesystem::file_size(*setting, ec);
    if (ec) return *error = "cannot read the file", false;
    if (size > kMaxRigBytes) return *error = "larger than a rig may be (1 MiB)", false;
    std::ifstream in(*setting, std::ios::binary);
    if (!in) return *error = "cannot read the file", false;
    text->resize(static_cast<std::size_t>(size));
    in.read(text->data(), static_cast<std::streamsize>(size));
    text->resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

RigPreset::RigPreset(std::string_view preset_name, std::initializer_list<std::string_view> devices)
    : name(preset_name), text("<rig>") {
    for (std::string_view d : devices) text += d;
    text += "</rig>";
}

std::string_view RigPresetText(const std::vector<RigPreset>& presets, std::string_view name) {
    for (const RigPreset& p : presets)
        if (p.name == name) return p.text;
    return {};
}

std::vector<std::string> RigTokens(std::string_view text) {
    std::vector<std::string> out;
    std::string cur;
    for (char c : text) {
        if (c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            if (!cur.empty()) out.push_back(std::move(cur));
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(std::move(cur));
    return out;
}

std::string RigLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string RigPlace(int line) {
    return "line " + std::to_string(line) + ": ";
}

const RigXmlAttribute* RigAttributes::Find(const char* name) const {
    // Reading an attribute left out of the table would leave it warned about when it is set.
    assert(std::find(known_.begin(), known_.end(), std::string_view(name)) != known_.end());
    return element_.Find(name);
}

bool RigAttributes::Has(const char* name) const {
    return Find(name) != nullptr;
}

std::string RigAttributes::Text(const char* name, std::string fallback) const {
    const RigXmlAttribute* a = Find(name);
    return a ? a->value : fallback;
}

bool RigAttributes::Fail(const std::string& what) {
    if (error_->empty()) *error_ = RigPlace(element_.line) + "<" + element_.name + "> " + what;
    return false;
}

bool RigAttributes::FailAt(const char* name, const std::string& what) {
    const RigXmlAttribute* a = Find(name);
    if (error_->empty())
        *error_ = RigPlace(a ? a->line : element_.line) + "<" + element_.name + "> attribute " +
                  name + ": " + what;
    return false;
}

bool RigAttributes::Bool(const char* name, bool* out) {
    if (!Has(name)) return true;
    const std::string v = RigLower(Text(name));
    if (v == "true" || v == "1" || v == "yes")
        *out = true;
    else if (v == "false" || v == "0" || v == "no" || v.empty())
        *out = false;
    else
        return FailAt(name, "not true or false: " + Text(name));
    return true;
}

bool RigAttributes::IntValue(const char* name, std::int64_t lo, std::int64_t hi,
                             std::int64_t* out) {
    if (!Has(name)) return true;
    const std::string v = Text(name);
    errno = 0;
    char* end = nullptr;
    const long long x = std::strtoll(v.c_str(), &end, 0);
    if (v.empty() || *end || errno || x < lo || x > hi)
        return FailAt(name, "not a whole number from " + std::to_string(lo) + " to " +
                                std::to_string(hi) + ": " + v);
    *out = x;
    return true;
}

bool RigAttributes::Double(const char* name, double lo, double hi, double* out) {
    if (!Has(name)) return true;
    const std::string v = Text(name);
    char* end = nullptr;
    const double x = std::strtod(v.c_str(), &end);
    if (v.empty() || *end || !std::isfinite(x) || x < lo || x > hi) {
        char range[64];
        std::snprintf(range, sizeof range, "%g to %g", lo, hi);
        return FailAt(name, std::string("not a number from ") + range + ": " + v);
    }
    *out = x;
    return true;
}

void RigAttributes::Warnings(std::vector<std::string>* warnings) const {
    for (const RigXmlAttribute& a : element_.attributes) {
        const std::string where = RigPlace(a.line) + "<" + element_.name + "> ";
        if (std::find(known_.begin(), known_.end(), a.name) == known_.end())
            warnings->push_back(where + "has an attribute " + a.name + ", which is not read");
        else if (element_.Find(a.name) != &a)
            warnings->push_back(where + "gives " + a.name + " again later; the last is read");
    }
}

bool ReadRigElements(std::string_view xml, const char* kind, std::size_t max,
                     std::span<const std::string_view> known, std::string* record,
                     std::vector<std::string>* warnings, std::string* error,
                     const std::function<bool(const RigXmlElement&)>& read) {
    static constexpr std::string_view kRigAttributes[] = {"record"};
    if (xml.size() > kMaxRigBytes) return *error = "larger than a rig may be (1 MiB)", false;
    RigXmlElement root;
    if (!ParseRigXml(xml, &root, error)) return false;
    if (root.name != "rig")
        return *error =
                   RigPlace(root.line) + "the root element must be <rig>, not <" + root.name + ">",
               false;
    RigAttributes top(root, kRigAttributes, error);
    *record = top.Text("record");
    top.Warnings(warnings);
    std::size_t count = 0;
    for (const RigXmlElement& child : root.children) {
        const std::string where = RigPlace(child.line);
        if (child.name != kind)
            return *error = where + "unknown element <" + child.name + "> in the rig (it holds <" +
                            kind + "> elements)",
                   false;
        if (++count > max)
            return *error = where + "more than " + std::to_string(max) + " " + kind + "s", false;
        if (!child.children.empty())
            return *error = RigPlace(child.children[0].line) + "<" + child.children[0].name +
                            "> in a <" + kind + ">, which holds none",
                   false;
        if (!read(child)) return false;
        RigAttributes(child, known, error).Warnings(warnings);
    }
    return true;
}

}  // namespace orvex::sim
