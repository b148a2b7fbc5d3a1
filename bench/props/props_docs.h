// The documents that the props benchmarks parse and write: renderer-like settings, a schema
// block and many small nodes, at 2 KB and 1 MB.
#pragma once

#include <cstddef>
#include <string>

namespace props_bench {

inline std::string SettingsElement(int i) {
    std::string n = std::to_string(i);
    return "<setting_" + n + " type='int' default='" + n + "' min='0' max='100' values='a|b|c'>" +
           "Help text for setting " + n + " &amp; more</setting_" + n + ">";
}

inline std::string MakeDocument(std::size_t target_bytes) {
    std::string doc = "<m-props version='1' output.time_sync='true' device.init_first='0'>";
    doc += "<attributes_info>";
    for (int i = 0; i < 8; ++i) doc += SettingsElement(i);
    doc += "</attributes_info>";
    for (int i = 0; doc.size() + 200 < target_bytes; ++i) {
        std::string n = std::to_string(i);
        doc += "<stat id='" + n + "' late='" + n + "' dropped=\"0\"><frames>" + n +
               "</frames><note>frame &lt;" + n + "&gt; ok</note><empty/></stat>";
    }
    doc += "</m-props>";
    return doc;
}

inline const std::string& Doc2K() {
    static const std::string doc = MakeDocument(2 * 1024);
    return doc;
}
inline const std::string& Doc1M() {
    static const std::string doc = MakeDocument(1024 * 1024);
    return doc;
}

}  // namespace props_bench
