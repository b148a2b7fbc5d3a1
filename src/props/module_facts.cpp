#include "props/module_facts.h"

#include <cstdio>

#include "props/name_fold.h"

namespace orvex::props {
namespace {

std::u16string Widen(std::string_view s) {
    return std::u16string(s.begin(), s.end());
}

std::u16string VersionText(std::uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d.%d.%d.%d", static_cast<int>((v >> 48) & 0xFFFF),
                  static_cast<int>((v >> 32) & 0xFFFF), static_cast<int>((v >> 16) & 0xFFFF),
                  static_cast<int>(v & 0xFFFF));
    return Widen(buf);
}

}  // namespace

std::optional<std::u16string> FixedPropertyText(std::u16string_view name,
                                                const ModuleFacts& facts) {
    using XMLParse::NamesEqual;
    if (NamesEqual(name, u"dll-version")) return VersionText(facts.product_version);
    if (NamesEqual(name, u"dll-file-version")) return VersionText(facts.file_version);
    if (NamesEqual(name, u"dll-path")) return facts.path;
    if (NamesEqual(name, u"dll-date")) return Widen(facts.build_date + " " + facts.build_time);
    return std::nullopt;
}

const ModuleFacts& CurrentModuleFacts() {
    static const ModuleFacts facts{u"", 0x0001000000000000ull, 0x0001000000000000ull, __DATE__,
                                   __TIME__};
    return facts;
}

}  // namespace orvex::props
