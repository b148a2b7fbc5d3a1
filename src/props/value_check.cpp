#include "props/value_check.h"

#include <cmath>

#include "platform/text.h"
#include "props/text_scan.h"
#include "props/xml_node.h"

namespace orvex::props {
namespace {

using detail::IsSpace;

// The number the text holds from end to end (blanks around it allowed): decimal digits with
// an optional sign for whole numbers, else what strtod reads, finite. Nothing otherwise.
bool ReadNumber(std::u16string_view text, bool whole, double* out) {
    while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
    if (text.empty()) return false;
    if (whole) {
        std::size_t i = text[0] == u'+' || text[0] == u'-' ? 1 : 0;
        if (i == text.size()) return false;
        double v = 0;
        for (; i < text.size(); ++i) {
            if (!detail::IsDigit(text[i])) return false;
            v = v * 10 + (text[i] - u'0');
        }
        *out = text[0] == u'-' ? -v : v;
        return true;
    }
    const detail::DoubleScan scan = detail::ScanDouble(text);
    if (!scan.read || scan.end != text.size() || !std::isfinite(scan.value)) return false;
    *out = scan.value;
    return true;
}

std::string Narrow(std::u16string_view text) {
    return platform::ToUtf8(text);
}

}  // namespace

std::string ValueRefusal(const ValueRule& rule, std::u16string_view value) {
    const bool whole = rule.type == u"int";
    if (whole || rule.type == u"double" || !rule.min.empty() || !rule.max.empty()) {
        double v = 0;
        if (!ReadNumber(value, whole, &v)) return whole ? "not a whole number" : "not a number";
        // Whole numbers are stored in 32 bits.
        if (whole && (v < -2147483648.0 || v > 2147483647.0)) return "not a 32-bit number";
        double bound = 0;
        if (!rule.min.empty() && ReadNumber(rule.min, false, &bound) && v < bound)
            return "below the least value " + Narrow(rule.min);
        if (!rule.max.empty() && ReadNumber(rule.max, false, &bound) && v > bound)
            return "above the greatest value " + Narrow(rule.max);
        return {};
    }
    if (rule.type == u"bool") {
        for (std::u16string_view word :
             {u"true", u"false", u"1", u"0", u"yes", u"no", u"on", u"off"})
            if (platform::EqualsNoCase(value, word)) return {};
        return "not true or false";
    }
    if (rule.type == u"option_fixed" && !rule.options.empty()) {
        std::string list;
        for (const std::u16string& option : rule.options) {
            if (option == value) return {};
            list += (list.empty() ? "" : ", ") + Narrow(option);
        }
        return "not one of: " + list;
    }
    return {};
}

std::string BoundsRefusal(XMLParse::CoXMLNode* entry, std::u16string_view value) {
    if (!entry) return {};
    ValueRule rule;
    entry->GetAttr(u"min", &rule.min);
    entry->GetAttr(u"max", &rule.max);
    if (rule.min.empty() && rule.max.empty()) return {};
    entry->GetAttr(u"type", &rule.type);
    return ValueRefusal(rule, value);
}

}  // namespace orvex::props
