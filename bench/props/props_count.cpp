// One operation of the props benchmark, repeated a given number of times, for instruction
// counts under callgrind: the work sits in the Once... functions, so that
//   valgrind --tool=callgrind --toggle-collect='*Once*' bench_props_count parse-ours 2k 20
// counts only it. The documents are those of bench_props.
#include <malloc.h>
#include <pugixml.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "com/runtime.h"
#include "props/xml_node.h"
#include "props/xml_text.h"
#include "props_docs.h"

namespace {

struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, std::size_t size) override {
        out.append(static_cast<const char*>(data), size);
    }
};

[[gnu::noinline]] void OnceParseOurs(const std::u16string& doc) {
    XMLParse::XMLNodePtr node = XMLParse::CoXMLNode::Create(u"m-props");
    if (FAILED(XMLParse::ParseXml(doc, node, true))) std::abort();
}

[[gnu::noinline]] void OnceParsePugi(const std::string& doc) {
    pugi::xml_document d;
    if (!d.load_buffer(doc.data(), doc.size())) std::abort();
}

[[gnu::noinline]] std::size_t OnceWriteOurs(const XMLParse::CoXMLNode& node) {
    std::u16string out;
    XMLParse::WriteXml(node, 0, &out);
    return out.size();
}

[[gnu::noinline]] std::size_t OnceWritePugi(const pugi::xml_document& d) {
    StringWriter writer;
    d.save(writer, "\t", pugi::format_default | pugi::format_no_declaration);
    return writer.out.size();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr,
                     "usage: %s parse-ours|parse-pugi|write-ours|write-pugi 2k|1m|tiny count\n",
                     argv[0]);
        return 2;
    }
    // As in bench_props: freed memory stays in the process.
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    mallopt(M_TOP_PAD, 64 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    const std::string op = argv[1];
    // "tiny" shows what every parse costs whatever its document.
    static const std::string tiny = "<m-props a='1'><b/></m-props>";
    const std::string& utf8 = std::strcmp(argv[2], "1m") == 0     ? props_bench::Doc1M()
                              : std::strcmp(argv[2], "tiny") == 0 ? tiny
                                                                  : props_bench::Doc2K();
    const int count = std::atoi(argv[3]);
    const std::u16string utf16 = orvex::com::ToUtf16(utf8);
    XMLParse::XMLNodePtr node = XMLParse::CoXMLNode::Create(u"m-props");
    pugi::xml_document d;
    if (op == "write-ours" && FAILED(XMLParse::ParseXml(utf16, node, true))) return 1;
    if (op == "write-pugi" && !d.load_buffer(utf8.data(), utf8.size())) return 1;
    std::size_t sum = 0;
    for (int i = 0; i < count; ++i) {
        if (op == "parse-ours")
            OnceParseOurs(utf16);
        else if (op == "parse-pugi")
            OnceParsePugi(utf8);
        else if (op == "write-ours")
            sum += OnceWriteOurs(*node);
        else if (op == "write-pugi")
            sum += OnceWritePugi(d);
        else
            return 2;
    }
    std::printf("%s %s x%d (%zu characters written)\n", argv[1], argv[2], count, sum);
    return 0;
}
