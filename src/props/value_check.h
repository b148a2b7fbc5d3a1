// Whether a value's text fits what a property's schema entry says of it: its type ("int",
// "double", "bool", "option_fixed"; any other type takes any text), its bounds ("min", "max")
// and its option list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace XMLParse {
class CoXMLNode;
}

namespace orvex::props {

struct ValueRule {
    std::u16string type;
    std::u16string min, max;              // empty: unbounded on that side
    std::vector<std::u16string> options;  // for "option_fixed": the values it takes
};

// Empty when `value` fits `rule`, else why not, in a few words of English ("not a whole
// number", "above the greatest value 1000", "not one of: a, b").
std::string ValueRefusal(const ValueRule& rule, std::u16string_view value);

// The renderers' own check on every property they are given by name: a property whose schema
// entry (null: none) has bounds takes only numbers within them. Empty when `value` fits, else
// why not.
std::string BoundsRefusal(XMLParse::CoXMLNode* entry, std::u16string_view value);

}  // namespace orvex::props
