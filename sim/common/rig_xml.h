// The XML of rig files, read strictly and within bounds: one root element whose elements carry
// attributes and other elements, nothing else but white space, comments and processing
// instructions. Every element and attribute keeps the line it stands on, so that a rig reader
// can say where a value is wrong; a text that is not such XML is refused with the first fault
// and where it stands ("line 3, column 17: ...").
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace orvex::sim {

// Elements nest at most this deep (the root is level 1), and a rig has at most this many
// elements: rigs need two levels and a few dozen elements.
inline constexpr int kMaxRigDepth = 8;
inline constexpr std::size_t kMaxRigElements = 10000;

struct RigXmlAttribute {
    std::string name;
    std::string value;  // with its character and entity references decoded
    int line = 0;
};

struct RigXmlElement {
    std::string name;
    int line = 0;
    std::vector<RigXmlAttribute> attributes;  // in the order written
    std::vector<RigXmlElement> children;

    // The attribute called `name`, or null; of one given twice (which XML does not allow, but
    // rigs written by hand have relied on) the last.
    const RigXmlAttribute* Find(std::string_view attribute) const;
};

// Parses `text` (UTF-8, an optional byte order mark) into `root`. False with `error` set to
// the first fault and its place; the text must be UTF-8 without control characters other
// than tab and line ends, and may hold no document type declaration (so no entity but the
// five predefined ones).
bool ParseRigXml(std::string_view text, RigXmlElement* root, std::string* error);

}  // namespace orvex::sim
