// The text form of registry files (the .reg export format), parsed into sections and
// entries. Lines the parser does not understand are kept verbatim where they stood, and values
// that were not changed are written back as they were read, so hand edits survive rewrites.
#pragma once

#include "platform/text.h"

#include <string>
#include <string_view>
#include <vector>

#include "orvex/com.h"
#include "platform/registry.h"

namespace orvex::platform::regfile {

inline constexpr std::string_view kSignature = "Windows Registry Editor Version 5.00";

struct Value {
    std::u16string name;  // empty: the key's default value ("@")
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct Entry {
    bool is_value = false;
    Value value;      // when is_value
    std::string raw;  // the text as read (lines joined by '\n'); empty for new values
};

struct Section {
    std::u16string path;  // as written, with the root: HKEY_CURRENT_USER\Software\...
    std::string header;   // the header line as read; empty for new sections
    std::vector<Entry> entries;
};

struct Document {
    std::vector<std::string> preamble;  // lines before the first section, signature excluded
    std::vector<Section> sections;
};

// Accepts UTF-8 (with or without BOM) and UTF-16LE with BOM. Never fails: what it cannot
// read stays as raw text. Takes time linear in the size of the text, however it is broken.
Document Parse(std::string_view bytes);
std::string Serialize(const Document& doc);

// One value assignment ("name"=data, possibly spanning continued lines joined by '\n').
bool ParseValue(std::string_view text, Value* out);
std::string FormatValue(const Value& value);

}  // namespace orvex::platform::regfile
