#include "sim/common/rig_reader.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/registry.h"
#include "platform/text.h"

namespace orvex::sim {

bool ReadRigText(const char* env_var, const std::u16string& registry_key,
                 const std::function<std::string_view(std::string_view)>& preset,
                 std::string* setting, std::string* text, std::string* error) {
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
    *text = std::string(preset(*setting));
    if (!text->empty()) return true;
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(*setting, ec);
    if (ec) return *error = "cannot read the rig file " + *setting, false;
    if (size > kMaxRigFileBytes) return *error = "the rig file is larger than 16 MiB", false;
    std::ifstream in(*setting, std::ios::binary);
    if (!in) return *error = "cannot read the rig file " + *setting, false;
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

bool RigAttributes::Has(const char* name) const {
    return node_->HasAttr(platform::FromUtf8(name));
}

std::string RigAttributes::Text(const char* name, std::string fallback) const {
    std::u16string v;
    return node_->GetAttr(platform::FromUtf8(name), &v) ? platform::ToUtf8(v) : fallback;
}

bool RigAttributes::Fail(const std::string& what) {
    if (error_->empty()) *error_ = what;
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
        return Fail(std::string("bad boolean for ") + name + ": " + v);
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
        return Fail(std::string("bad number for ") + name + ": " + v);
    *out = x;
    return true;
}

bool RigAttributes::Double(const char* name, double lo, double hi, double* out) {
    if (!Has(name)) return true;
    const std::string v = Text(name);
    char* end = nullptr;
    const double x = std::strtod(v.c_str(), &end);
    if (v.empty() || *end || !std::isfinite(x) || x < lo || x > hi)
        return Fail(std::string("bad number for ") + name + ": " + v);
    *out = x;
    return true;
}

}  // namespace orvex::sim
