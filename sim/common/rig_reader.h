// What the rigs of every virtual device share: where the rig comes from (an environment
// variable, a registry value, a preset or a file) and how an element's attributes read, with
// the place of the first fault and a warning for each attribute nobody reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/common/rig_xml.h"

namespace orvex::sim {

// The largest rig read, file or text: a rig of 64 cards takes some 40 KiB.
inline constexpr std::uint64_t kMaxRigBytes = 1u << 20;

// A rig that ships under a name: <rig> around the elements of its devices.
struct RigPreset {
    RigPreset(std::string_view preset_name, std::initializer_list<std::string_view> devices);
    std::string_view name;
    std::string text;
};
// The text of the preset called `name`, or empty when there is none.
std::string_view RigPresetText(const std::vector<RigPreset>& presets, std::string_view name);

// The rig's text: the setting is the environment variable `env_var`, else the string value
// "Rig" of HKEY_CLASSES_ROOT\<registry_key>, else "default"; a preset's name gives its text,
// anything else names a file. False with `error` set when no preset and no regular file has
// that name, or the file cannot be read or is larger than kMaxRigBytes.
bool ReadRigText(const char* env_var, const std::u16string& registry_key,
                 const std::vector<RigPreset>& presets, std::string* setting, std::string* text,
                 std::string* error);

// Words of a list: commas and white space separate them.
std::vector<std::string> RigTokens(std::string_view text);
// ASCII lower case.
std::string RigLower(std::string text);

// Reads one element's attributes; the first failure is kept in `error`, with its place
// ("line 4, <card> attribute frame-memory: ..."). `known` lists every attribute the element
// may have (the reader reads no other); absent attributes leave their output as it was.
class RigAttributes {
public:
    RigAttributes(const RigXmlElement& element, std::span<const std::string_view> known,
                  std::string* error)
        : element_(element), known_(known), error_(error) {}

    bool Has(const char* name) const;
    std::string Text(const char* name, std::string fallback = {}) const;
    // A fault of the element as a whole, or of one of its attributes.
    bool Fail(const std::string& what);
    bool FailAt(const char* name, const std::string& what);
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
    // "line 7: <card> has an attribute refuse-mdoes, which is not read" for each attribute not
    // in `known`, and a warning for each attribute given again later.
    void Warnings(std::vector<std::string>* warnings) const;

private:
    const RigXmlAttribute* Find(const char* name) const;
    bool IntValue(const char* name, std::int64_t lo, std::int64_t hi, std::int64_t* out);

    const RigXmlElement& element_;
    std::span<const std::string_view> known_;
    std::string* error_;
};

// "line 3: " for an element or attribute standing on line 3.
std::string RigPlace(int line);

// Reads a rig: the root <rig> (its one attribute "record" set into `record`) around at most
// `max` elements named `kind`, which hold no elements and may have the attributes `known`;
// `read` reads each. The first fault stops the reading and stands in `error`, with its place;
// warnings of attributes not read are added to `warnings`.
bool ReadRigElements(std::string_view xml, const char* kind, std::size_t max,
                     std::span<const std::string_view> known, std::string* record,
                     std::vector<std::string>* warnings, std::string* error,
                     const std::function<bool(const RigXmlElement&)>& read);

// A device's ParseRig over ReadRigElements: `read(element, &item, error)` reads each element
// into the rig's list `list`. On a failure the rig is left empty.
template <class Rig, class Item, class Read>
bool ParseRigOf(std::string_view xml, const char* kind, std::size_t max,
                std::span<const std::string_view> known, std::vector<Item> Rig::*list, Read read,
                Rig* rig, std::string* error) {
    *rig = Rig{};
    error->clear();
    const bool ok = ReadRigElements(xml, kind, max, known, &rig->record, &rig->warnings, error,
                                    [&](const RigXmlElement& element) {
                                        Item item;
                                        if (!read(element, &item, error)) return false;
                                        (rig->*list).push_back(std::move(item));
                                        return true;
                                    });
    if (!ok) *rig = Rig{};
    return ok;
}

// The rig of the setting ReadRigText finds, parsed by `parse` (the ParseRig of a device): a
// broken setting gives an empty rig and an error that begins with the setting. Warnings go to
// the standard error stream under `device`'s name, since a misspelt attribute would otherwise
// go unnoticed; the environment variable `record_var` overrides the rig's record folder.
template <class Rig, class Parse>
Rig LoadRig(const char* device, const char* env_var, const std::u16string& registry_key,
            const std::vector<RigPreset>& presets, const char* record_var, Parse parse,
            std::string* error) {
    std::string setting, text;
    Rig rig;
    if (!ReadRigText(env_var, registry_key, presets, &setting, &text, error) ||
        !parse(text, &rig, error)) {
        *error = setting + ": " + *error;
        return {};
    }
    for (const std::string& w : rig.warnings)
        std::fprintf(stderr, "%s: %s: %s\n", device, setting.c_str(), w.c_str());
    if (const char* rec = std::getenv(record_var); rec) rig.record = rec;
    return rig;
}

}  // namespace orvex::sim
