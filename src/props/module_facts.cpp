#include "props/module_facts.h"

#include <algorithm>
#include <cstdio>

#include "com/runtime.h"
#include "platform/module_info.h"
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

namespace {

// "a.b.c.d" to four 16-bit parts, most significant first; missing parts are 0.
std::uint64_t PackVersion(std::string_view text) {
    std::uint64_t packed = 0;
    std::size_t pos = 0;
    for (int part = 0; part < 4; ++part) {
        std::uint64_t v = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9')
            v = std::min<std::uint64_t>(v * 10 + static_cast<std::uint64_t>(text[pos++] - '0'),
                                        0xFFFF);
        packed = (packed << 16) | v;
        if (pos < text.size() && text[pos] == '.') ++pos;
    }
    return packed;
}

}  // namespace

const ModuleFacts& CurrentModuleFacts() {
    // Made once, from this translation unit, so the path is that of the module it is in.
    static const ModuleFacts facts = [] {
        const platform::ModuleInfo info = ORVEX_THIS_MODULE_INFO();
        const std::uint64_t version = PackVersion(info.version);
        return ModuleFacts{com::ToUtf16(info.path), version, version, info.build_date,
                           info.build_time};
    }();
    return facts;
}

}  // namespace orvex::props
