// Reading registry files of 100 KB, 1 MB and 10 MB, valid and malformed. Time grows with the
// size alone when the s_per_MB column stays flat down each group. Load rows go through the
// registry (a new version of the file each time, then one value read); Parse rows parse only.
// EnumValues rows list every value of a key; s_per_value stays flat as the key grows.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "backend/registry_settings.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/registry_format.h"
#include "props/xml_node.h"

namespace {

using namespace orvex::platform;

// Freed memory stays in the process: otherwise the larger sizes pay for fresh pages from the
// system on every iteration, which on a virtual machine costs more than the parsing measured.
const bool kHeapKept = [] {
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
    mallopt(M_TOP_PAD, 64 << 20);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    return true;
}();

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";

// Settings as a renderer keeps them: keys of strings, numbers and wrapped binary values.
std::string ValidText(std::size_t target) {
    std::string text = kHeader;
    for (int key = 0; text.size() < target; ++key) {
        text += "[HKEY_CURRENT_USER\\Software\\Bench\\Device" + std::to_string(key) + "]\n";
        char line[160];
        for (int v = 0; v < 8; ++v) {
            std::snprintf(line, sizeof line, "\"Setting%d\"=dword:%08x\n", v, key * 8 + v);
            text += line;
        }
        std::snprintf(line, sizeof line, "\"Name\"=\"Output %d \\\"main\\\" C:\\\\path\"\n", key);
        text += line;
        text +=
            "\"Matrix\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\\\n"
            "  14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,\\\n"
            "  2c,2d,2e,2f\n";
        text += "\"Path\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\n\n";
    }
    return text;
}

// Runs of continued lines that never make a value, of each kind that once cost an attempt
// over the rest of the run per line, between a few ordinary lines.
std::string MalformedText(std::size_t target) {
    const char* const shapes[] = {"\"a\\", "@=\"\\", "\"a\"=hex:01,\\", "\"a\"=hex(\\"};
    std::string text = kHeader;
    text += "[HKEY_CURRENT_USER\\Software\\Bench\\Junk]\n";
    for (int run = 0; text.size() < target; ++run) {
        const std::string shape = shapes[run % 4];
        for (std::size_t i = 0; i < 16384 && text.size() < target; i += shape.size() + 1) {
            text += shape;
            text += '\n';
        }
        text += "\"end\"=dword:00000001\n; a comment\n\"odd\"=unknown:value\n";
    }
    return text;
}

std::string TempFolder() {
    static const std::string dir = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "orvex-bench-registry-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        SetEnvVar("ORVEX_REGISTRY_DIR", pattern);
        std::atexit([] { std::filesystem::remove_all(dir); });
        return pattern;
    }();
    return dir;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void PerMegabyte(benchmark::State& state, std::size_t bytes) {
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
    state.counters["s_per_MB"] = benchmark::Counter(
        static_cast<double>(bytes) / 1e6,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void Parse(benchmark::State& state, std::string (*make)(std::size_t)) {
    const std::string text = make(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        regfile::Document doc = regfile::Parse(text);
        benchmark::DoNotOptimize(doc.sections.data());
    }
    PerMegabyte(state, text.size());
}

// Two files of the same text are swapped in turn into the registry's place (by hard link and
// rename, which costs no copy), so every read finds a new file and parses it.
void Load(benchmark::State& state, std::string (*make)(std::size_t), std::u16string_view key,
          std::u16string_view value) {
    const std::string text = make(static_cast<std::size_t>(state.range(0)));
    const std::string dir = TempFolder();
    const std::string path = dir + "/HKEY_CURRENT_USER.reg";
    const std::string copies[2] = {dir + "/a.reg", dir + "/b.reg"};
    for (const std::string& copy : copies) WriteText(copy, text);
    int turn = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string link = dir + "/next.reg";
        if (::link(copies[turn].c_str(), link.c_str()) != 0 ||
            std::rename(link.c_str(), path.c_str()) != 0) {
            state.SkipWithError("cannot put the file in place");
            break;
        }
        turn ^= 1;
        state.ResumeTiming();
        RegistryKey k;
        DWORD v = 0;
        if (k.Open(RegRoot::kCurrentUser, key) != ERROR_SUCCESS ||
            k.QueryDword(value, &v) != ERROR_SUCCESS) {
            state.SkipWithError("read failed");
            break;
        }
        benchmark::DoNotOptimize(v);
    }
    PerMegabyte(state, text.size());
    for (const std::string& copy : copies) std::remove(copy.c_str());
}

void BM_ParseValid(benchmark::State& state) {
    Parse(state, ValidText);
}
void BM_ParseMalformed(benchmark::State& state) {
    Parse(state, MalformedText);
}
void BM_LoadValid(benchmark::State& state) {
    Load(state, ValidText, u"Software\\Bench\\Device0", u"Setting7");
}
void BM_LoadMalformed(benchmark::State& state) {
    Load(state, MalformedText, u"Software\\Bench\\Junk", u"end");
}

void BM_EnumValues(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    std::string text = std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\Bench\\Many]\n";
    for (int i = 0; i < count; ++i) {
        text += "\"Value" + std::to_string(i) + "\"=dword:00000001\n";
    }
    const std::string dir = TempFolder();
    WriteText(dir + "/HKEY_CURRENT_USER.reg", text);
    RegistryKey key;
    if (key.Open(RegRoot::kCurrentUser, u"Software\\Bench\\Many") != ERROR_SUCCESS) {
        state.SkipWithError("open failed");
        return;
    }
    std::u16string name;
    for (auto _ : state) {
        DWORD i = 0;
        while (key.EnumValue(i, &name, nullptr, nullptr) == ERROR_SUCCESS) ++i;
        if (static_cast<int>(i) != count) state.SkipWithError("lost values");
    }
    state.counters["s_per_value"] = benchmark::Counter(
        count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// A renderer made over a settings key of n values: every value read into the property tree,
// then the tree written back. s_per_value stays flat as the key grows.
void BM_SettingsLoad(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    std::string text = std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\Bench\\Settings]\n";
    for (int i = 0; i < count; ++i) {
        text += "\"group" + std::to_string(i % 7) + ".value" + std::to_string(i) +
                "\"=dword:" + "00000001\n\"text" + std::to_string(i) + "\"=\"some words\"\n";
    }
    WriteText(TempFolder() + "/HKEY_CURRENT_USER.reg", text);
    // The store keeps a parsed file only once it is older than a timestamp tick: until then
    // every read parses it again, which would hide the cost measured here.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    for (auto _ : state) {
        state.PauseTiming();
        XMLParse::XMLNodePtr root = XMLParse::CoXMLNode::Create(u"m-props");
        state.ResumeTiming();
        orvex::backend::RegistryLoad(root, RegRoot::kCurrentUser, u"Software\\Bench\\Settings",
                                     state.range(1) != 0);
    }
    state.counters["s_per_value"] = benchmark::Counter(
        2.0 * count, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->Arg(100 << 10)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ParseValid)->Apply(Sizes);
BENCHMARK(BM_ParseMalformed)->Apply(Sizes);
BENCHMARK(BM_LoadValid)->Apply(Sizes);
BENCHMARK(BM_LoadMalformed)->Apply(Sizes);
BENCHMARK(BM_EnumValues)->Arg(4000)->Arg(40000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SettingsLoad)
    ->ArgsProduct({{500, 2000}, {0, 1}})
    ->ArgNames({"values", "write_back"})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
