// The schema of the settings the renderer classes keep in their shared registry key: for each
// setting its type, bounds, options and help, declared in every renderer's property tree so
// that hosts and tools can check a value before they set it, and so that the renderers refuse
// values out of bounds (props/value_check.h). The key is shared, so every renderer declares
// the settings of all three classes.
#pragma once

#include <span>

#include "props/xml_node.h"

namespace orvex::backend {

struct SettingSchema {
    const char16_t* name;
    const char16_t* type;  // "int", "double", "bool", "option_fixed" or "string"
    const char16_t* min = nullptr;
    const char16_t* max = nullptr;
    const char16_t* values = nullptr;  // options, separated by "|"
    const char16_t* help = nullptr;
};

std::span<const SettingSchema> SharedSettings();

// Writes an entry for each shared setting under the root's "attributes_info" node, leaving
// alone entries a renderer declared itself.
void DeclareSharedSettings(XMLParse::CoXMLNode* root);

}  // namespace orvex::backend
