#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/registry_format.h"
#include "support/stress.h"
#include "test_util.h"

namespace orvex::platform {
namespace {

using test::Bytes;
using test::Name;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

constexpr std::u16string_view kKey = u"Software\\OrvexTest\\Key";
constexpr std::u16string_view kShared = u"Software\\OrvexTest\\Shared";

class Registry : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = tmp_ / "reg";
        SetEnvVar("ORVEX_REGISTRY_DIR", dir_);
    }
    void TearDown() override { UnsetEnvVar("ORVEX_REGISTRY_DIR"); }
    std::string UserFile() const { return dir_ + "/HKEY_CURRENT_USER.reg"; }
    void WriteUserFile(const std::string& text) {
        test::MakeDir(dir_);
        WriteFile(UserFile(), text);
    }
    // A key of the current user's root, opened (or created); the test fails when it cannot be.
    static RegistryKey Key(std::u16string_view path, bool create = false) {
        RegistryKey key;
        EXPECT_EQ(create ? key.Create(RegRoot::kCurrentUser, path)
                         : key.Open(RegRoot::kCurrentUser, path),
                  ERROR_SUCCESS);
        return key;
    }

    TempDir tmp_;
    std::string dir_;
};

std::vector<BYTE> Utf16(std::u16string_view s, bool terminate = true) {
    std::vector<BYTE> v;
    for (char16_t c : s) {
        v.push_back(static_cast<BYTE>(c & 0xFF));
        v.push_back(static_cast<BYTE>(c >> 8));
    }
    if (terminate) v.insert(v.end(), {0, 0});
    return v;
}

// A DWORD value, or 0xBAD when it cannot be read as one.
DWORD Dword(const RegistryKey& key, std::u16string_view name) {
    DWORD v = 0;
    return key.QueryDword(name, &v) == ERROR_SUCCESS ? v : 0xBADu;
}

constexpr const char* kHeader = "Windows Registry Editor Version 5.00\n\n";

struct Sample {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
};

TEST_F(Registry, EveryValueTypeRoundTripsThroughTheFile) {
    std::vector<BYTE> long_binary(300);
    for (std::size_t i = 0; i < long_binary.size(); ++i) long_binary[i] = static_cast<BYTE>(i);
    const std::vector<Sample> samples = {
        {u"", kRegSz, Utf16(u"default")},
        {u"Text", kRegSz, Utf16(u"quote \" back\\slash \u00e9\u4e2d \U0001F600")},
        {u"Empty", kRegSz, Utf16(u"")},
        {u"Lines", kRegSz, Utf16(u"two\r\nlines\ttab")},
        {u"Unterminated", kRegSz, Utf16(u"abc", false)},
        {u"Odd", kRegSz, Bytes({0x41, 0x00, 0x42})},
        {u"Expand", kRegExpandSz, Utf16(u"%HOME%\\x")},
        {u"Dw", kRegDword, Bytes({0x1a, 0, 0, 0})},
        {u"DwMax", kRegDword, Bytes({0xff, 0xff, 0xff, 0xff})},
        {u"ShortDw", kRegDword, Bytes({1, 2, 3})},
        {u"Qw", kRegQword, Bytes({1, 2, 3, 4, 5, 6, 7, 0x88})},
        {u"Bin", kRegBinary, long_binary},
        {u"NoBytes", kRegBinary, {}},
        {u"None", kRegNone, Bytes({9})},
        {u"Multi", 7, Utf16(std::u16string(u"a\0b\0", 4))},
        {u"name \"with\" \\ and\nnewline\x01 ]", kRegSz, Utf16(u"v")},
        {std::u16string(u"nul\0inside", 10), kRegDword, Bytes({5, 0, 0, 0})},
        {u"\u00c4\u00f6 \U0001F600 \xD800 lone", kRegQword, Bytes({0, 0, 0, 0, 0, 0, 0, 0})},
    };
    {
        RegistryKey key = Key(kKey, true);
        for (const Sample& s : samples)
            ASSERT_EQ(key.SetValue(s.name, s.type, s.data.data(), s.data.size()), ERROR_SUCCESS);
    }
    const std::string text = ReadFile(UserFile());
    EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    // The last: long lists wrap.
    for (const char* line : {"[HKEY_CURRENT_USER\\Software\\OrvexTest]\n", "@=\"default\"\n",
                             "\"Text\"=\"quote \\\" back\\\\slash \xC3\xA9",
                             "\"Dw\"=dword:0000001a\n", "\"Qw\"=hex(b):01,02,03,04,05,06,07,88\n",
                             "\"Expand\"=hex(2):25,00,48,00", "\"Bin\"=hex:00,01,02", ",\\\n  "})
        EXPECT_NE(text.find(line), std::string::npos) << line;

    // A fresh key reads everything back from the file, in the order written.
    RegistryKey key = Key(u"software\\ORVEXTEST\\key");
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::u16string name;
        DWORD type = 0;
        std::vector<BYTE> data;
        ASSERT_EQ(key.EnumValue(static_cast<DWORD>(i), &name, &type, &data), ERROR_SUCCESS);
        EXPECT_EQ(name, samples[i].name) << i;
        EXPECT_EQ(type, samples[i].type) << i;
        EXPECT_EQ(data, samples[i].data) << i;
    }
    EXPECT_EQ(key.EnumValue(static_cast<DWORD>(samples.size()), nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);

    // Conveniences, and names that differ only in case are one value.
    std::u16string text_value;
    ASSERT_EQ(key.QueryString(u"EXPAND", &text_value), ERROR_SUCCESS);
    EXPECT_EQ(text_value, u"%HOME%\\x");
    EXPECT_EQ(Dword(key, u"dw"), 0x1au);
    DWORD dw = 0;
    EXPECT_EQ(key.QueryDword(u"ShortDw", &dw), ERROR_INVALID_DATA);
    EXPECT_EQ(key.QueryString(u"Dw", &text_value), ERROR_INVALID_DATA);
    EXPECT_EQ(key.QueryDword(u"Missing", &dw), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(key.SetDword(u"DW", 7), ERROR_SUCCESS);
    ASSERT_EQ(key.SetQword(u"Qw", 0x1122334455667788ull), ERROR_SUCCESS);
    std::u16string name;
    ASSERT_EQ(key.EnumValue(7, &name, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(name, u"Dw");  // updated in place, keeping its spelling
    EXPECT_EQ(Dword(key, u"Dw"), 7u);
    std::vector<BYTE> data;
    ASSERT_EQ(key.QueryValue(u"Qw", nullptr, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Bytes({0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11}));
}

TEST_F(Registry, KeysNestCompareWithoutCaseAndDeleteAsTrees) {
    RegistryKey missing;
    EXPECT_EQ(missing.Open(RegRoot::kCurrentUser, u"Software\\Nothing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing.QueryDword(u"x", nullptr), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(missing.IsOpen());

    RegistryKey a, b, c;
    ASSERT_EQ(a.Create(RegRoot::kCurrentUser, u"\\Software\\Vendor\\Alpha\\"), ERROR_SUCCESS);
    ASSERT_EQ(b.Create(RegRoot::kCurrentUser, u"software\\vendor\\Beta\\Deep"), ERROR_SUCCESS);
    ASSERT_EQ(c.Create(RegRoot::kCurrentUser, u"SOFTWARE\\VENDOR\\ALPHA"), ERROR_SUCCESS);
    ASSERT_EQ(a.SetDword(u"v", 1), ERROR_SUCCESS);
    EXPECT_EQ(c.QueryDword(u"V", nullptr), ERROR_SUCCESS);  // same key

    RegistryKey vendor;
    ASSERT_EQ(vendor.Open(RegRoot::kCurrentUser, u"Software\\Vendor"), ERROR_SUCCESS);
    std::u16string name;
    ASSERT_EQ(vendor.EnumKey(0, &name), ERROR_SUCCESS);
    EXPECT_EQ(name, u"Alpha");
    ASSERT_EQ(vendor.EnumKey(1, &name), ERROR_SUCCESS);
    EXPECT_EQ(name, u"Beta");
    EXPECT_EQ(vendor.EnumKey(2, &name), ERROR_NO_MORE_ITEMS);

    // The roots are separate files.
    RegistryKey classes;
    EXPECT_EQ(classes.Open(RegRoot::kClassesRoot, u"Software\\Vendor"), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(classes.Create(RegRoot::kClassesRoot, u"CLSID\\{X}\\InprocServer32"), ERROR_SUCCESS);
    ASSERT_EQ(classes.SetString(u"", u"/lib/x.so"), ERROR_SUCCESS);
    EXPECT_TRUE(FileExists(dir_ + "/HKEY_CLASSES_ROOT.reg"));

    EXPECT_EQ(a.DeleteValue(u"nope"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(a.DeleteValue(u"V"), ERROR_SUCCESS);
    EXPECT_EQ(a.QueryDword(u"v", nullptr), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(b.SetDword(u"deep", 1), ERROR_SUCCESS);
    EXPECT_EQ(vendor.DeleteTree(u"gamma"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(vendor.DeleteTree(u"BETA"), ERROR_SUCCESS);
    EXPECT_EQ(b.QueryDword(u"deep", nullptr), ERROR_KEY_DELETED);
    EXPECT_EQ(b.SetDword(u"deep", 2), ERROR_KEY_DELETED);  // no resurrection by a stale key
    ASSERT_EQ(vendor.EnumKey(1, &name), ERROR_NO_MORE_ITEMS);

    // An empty subkey clears the key but keeps it.
    ASSERT_EQ(vendor.SetDword(u"top", 1), ERROR_SUCCESS);
    EXPECT_EQ(vendor.DeleteTree(u""), ERROR_SUCCESS);
    EXPECT_EQ(vendor.EnumKey(0, &name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(vendor.EnumValue(0, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(vendor.SetDword(u"again", 1), ERROR_SUCCESS);

    EXPECT_EQ(RegistryDeleteTree(RegRoot::kCurrentUser, u"Software\\Vendor"), ERROR_SUCCESS);
    EXPECT_EQ(RegistryDeleteTree(RegRoot::kCurrentUser, u"Software\\Vendor"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegistryDeleteTree(RegRoot::kCurrentUser, u""), ERROR_ACCESS_DENIED);
    EXPECT_EQ(a.Create(RegRoot::kCurrentUser, u"Bad\nName"), ERROR_INVALID_PARAMETER);
}

TEST_F(Registry, BatchedChangesShowThroughTheKeyAndLandTogether) {
    RegistryKey key = Key(kKey, true);
    ASSERT_EQ(key.SetDword(u"old", 1), ERROR_SUCCESS);
    RegistryKey other = Key(kKey);
    const std::string before = ReadFile(UserFile());

    key.BeginBatch();
    for (int i = 0; i < 20; ++i) ASSERT_EQ(key.SetDword(Name("b", i), i), ERROR_SUCCESS);
    ASSERT_EQ(key.DeleteValue(u"old"), ERROR_SUCCESS);
    DWORD v = 0;
    EXPECT_EQ(Dword(key, u"b19"), 19u);
    EXPECT_EQ(key.QueryDword(u"old", &v), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(other.QueryDword(u"b19", &v), ERROR_FILE_NOT_FOUND);  // not written yet
    EXPECT_EQ(ReadFile(UserFile()), before);

    ASSERT_EQ(key.CommitBatch(), ERROR_SUCCESS);
    EXPECT_EQ(Dword(other, u"b19"), 19u);
    EXPECT_EQ(other.QueryDword(u"old", &v), ERROR_FILE_NOT_FOUND);

    // Failures surface at the commit; dropped batches leave the file alone.
    key.BeginBatch();
    ASSERT_EQ(key.DeleteValue(u"never there"), ERROR_SUCCESS);
    ASSERT_EQ(key.SetDword(u"after", 1), ERROR_SUCCESS);
    EXPECT_EQ(key.CommitBatch(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(other.QueryDword(u"after", &v), ERROR_SUCCESS);
    key.BeginBatch();
    ASSERT_EQ(key.SetDword(u"dropped", 1), ERROR_SUCCESS);
    key.Close();
    EXPECT_EQ(other.QueryDword(u"dropped", &v), ERROR_FILE_NOT_FOUND);
}

TEST_F(Registry, HandEditedUtf16FileSurvivesARewrite) {
    const std::string original =
        "Windows Registry Editor Version 5.00\r\n"
        "; exported by hand\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Edited]\r\n"
        "; a comment inside\r\n"
        "\"Keep\"=\"as   written\"\r\n"
        "\"Strange\"=unknown:thing\r\n"
        "\"Wrapped\"=hex:01,02,\\\r\n"
        "  03,04\r\n"
        "\"Unclosed=\"x\r\n"
        "@=\"d\"\r\n"
        "\r\n"
        "[-HKEY_CURRENT_USER\\Software\\Removed]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Edited\\Child]\r\n"
        "\"n\"=dword:00000010\r\n";
    std::u16string wide = FromUtf8(original);
    std::string bytes = "\xFF\xFE";
    for (char16_t c : wide) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    WriteUserFile(bytes);
    RegistryKey key = Key(u"Software\\Edited");
    std::vector<BYTE> data;
    ASSERT_EQ(key.QueryValue(u"Wrapped", nullptr, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, Bytes({1, 2, 3, 4}));
    EXPECT_EQ(key.QueryValue(u"Strange", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(key.SetDword(u"Added", 0x1a), ERROR_SUCCESS);

    // Written back as UTF-8, every line as it stood, the new value at the end of its section.
    std::string expected = original;
    for (std::size_t at; (at = expected.find("\r\n")) != std::string::npos;) expected.erase(at, 1);
    expected.insert(expected.find("\n\n[-HKEY"), "\n\"Added\"=dword:0000001a");
    EXPECT_EQ(ReadFile(UserFile()), expected);
}

TEST_F(Registry, MalformedFilesNeverBreakReadersOrWriters) {
    std::string junk = "\x01\x02garbage\n[\n]\n[HKEY_CURRENT_USER\\J]\n\"a\"=hex(zz):01\n";
    junk += "\"b\"=dword:123456789\n\"c\"=hex:1,2,345\n\"d\"=\"\\";
    junk += "\n\xC3\x28\xF0\x90\n\"e\"=hex:01,\\\n";  // a continuation that never ends
    junk += "\"" + std::string(1 << 18, 'x') + "\"=dword:1\n";
    WriteUserFile(junk);
    RegistryKey key = Key(u"J");
    for (const char16_t* n : {u"a", u"b", u"c", u"d", u"e"})
        EXPECT_EQ(key.QueryValue(n, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Dword(key, std::u16string(1 << 18, u'x')), 1u);
    ASSERT_EQ(key.SetDword(u"fine", 2), ERROR_SUCCESS);
    const std::string text = ReadFile(UserFile());
    for (const char* kept : {"\x01\x02garbage\n", "\"a\"=hex(zz):01\n", "\n\xC3\x28\xF0\x90\n",
                             "\"fine\"=dword:00000002"})
        EXPECT_NE(text.find(kept), std::string::npos) << kept;
}

TEST_F(Registry, FolderFollowsTheEnvironment) {
    UnsetEnvVar("ORVEX_REGISTRY_DIR");
    SetEnvVar("XDG_CONFIG_HOME", tmp_ / "xdg");
    RegistryKey key;
    const LONG created = key.Create(RegRoot::kCurrentUser, u"Software\\X");
    UnsetEnvVar("XDG_CONFIG_HOME");
    ASSERT_EQ(created, ERROR_SUCCESS);
    EXPECT_TRUE(FileExists(tmp_ / "xdg/orvex/HKEY_CURRENT_USER.reg"));
}

// Two other processes and two threads of this one add values to one key at once, each value a
// rewrite of the file; ThreadSanitizer needs only a few to see a race.
TEST_F(Registry, ConcurrentWritersLoseNothing) {
    constexpr int kValues = orvex::test::kUnderThreadSanitizer ? 5 : 25;
    for (const char* p : {"p", "q"})
        ASSERT_TRUE(LaunchDetached(PLATFORM_TEST_HELPER,
                                   {"reg-write", dir_, p, std::to_string(kValues), tmp_ / p}));
    std::atomic<bool> writing{true};
    std::atomic<int> failures{0};
    // A reader watches the count: a torn or stale-replaced file would make it drop.
    std::thread reader([&] {
        RegistryKey key;
        std::size_t seen = 0;
        while (writing) {
            if (key.IsOpen() || key.Open(RegRoot::kCurrentUser, kShared) == ERROR_SUCCESS) {
                std::size_t n = 0;
                while (key.EnumValue(static_cast<DWORD>(n), nullptr, nullptr, nullptr) ==
                       ERROR_SUCCESS) {
                    ++n;
                }
                // Values only get added, so a later file has at least as many.
                if (n + 1 < seen) ++failures;
                seen = std::max(seen, n);
            }
        }
    });
    std::vector<std::thread> writers;
    for (const char* prefix : {"r", "s"}) {
        writers.emplace_back([&, prefix] {
            RegistryKey key = Key(kShared, true);
            for (int i = 0; i < kValues; ++i)
                if (key.SetDword(Name(prefix, i), static_cast<DWORD>(i)) != ERROR_SUCCESS)
                    ++failures;
        });
    }
    for (auto& w : writers) w.join();
    EXPECT_TRUE(test::WaitUntil([&] { return FileExists(tmp_ / "p") && FileExists(tmp_ / "q"); }));
    writing = false;
    reader.join();
    EXPECT_EQ(failures, 0);
    RegistryKey key = Key(kShared);
    DWORD count = 0;
    while (key.EnumValue(count, nullptr, nullptr, nullptr) == ERROR_SUCCESS) ++count;
    EXPECT_EQ(count, 4u * kValues);
    for (const char* prefix : {"p", "q", "r", "s"})
        for (int i = 0; i < kValues; ++i) EXPECT_EQ(Dword(key, Name(prefix, i)), DWORD(i));
}

// The text of a file with one key, Software\Junk, holding `body` and then "end"=dword:1.
std::string JunkFile(const std::string& body) {
    return std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\Junk]\n" + body +
           "\"end\"=dword:00000001\n";
}

// Runs of continued lines that never make a value, a megabyte each: an attempt per line over
// the rest of the run would take far longer than the test may run.
TEST_F(Registry, ContinuedLinesThatNeverParseAreReadInOnePass) {
    const char* const shapes[] = {
        "\"a\\",            // a name that never closes
        "@=\"\\",           // a string that never closes
        "\"a\"=hex:01,\\",  // a hex list broken by the next line
        "\"a\"=hex(\\",     // a type that never closes
    };
    for (const char* shape : shapes) {
        SCOPED_TRACE(shape);
        std::string body;
        while (body.size() < 1024 * 1024) {
            body += shape;
            body += '\n';
        }
        const std::string original = JunkFile(body);
        WriteUserFile(original);
        RegistryKey key = Key(u"Software\\Junk");
        EXPECT_EQ(key.QueryValue(u"a", nullptr, nullptr), ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(Dword(key, u"end"), 1u);
        ASSERT_EQ(key.SetDword(u"new", 2), ERROR_SUCCESS);
        // Kept as it was (compared whole: a failure would print megabytes).
        EXPECT_TRUE(ReadFile(UserFile()) == original + "\"new\"=dword:00000002\n");
    }
}

TEST_F(Registry, ManyValuesAndSubkeysAreListedFromOneParse) {
    constexpr int kValues = 50000, kSubkeys = 5000;
    std::string text = std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\Many]\n";
    for (int i = 0; i < kValues; ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "\"v%d\"=dword:%08x\n", i, i);
        text += line;
    }
    // A later section of the same key assigns v0 again: it then stands last.
    text += "\n[HKEY_CURRENT_USER\\SOFTWARE\\many]\n\"V0\"=dword:ffffffff\n";
    for (int i = 0; i < kSubkeys; ++i) {
        text += "[HKEY_CURRENT_USER\\Software\\Many\\Sub" + std::to_string(i) + "]\n";
    }
    text += "[HKEY_CURRENT_USER\\Software\\Many\\SUB7\\Deep]\n";  // not a second Sub7
    WriteUserFile(text);
    RegistryKey key = Key(u"Software\\Many");
    std::u16string name;
    std::vector<BYTE> data;
    for (int i = 0; i < kValues; ++i) {
        ASSERT_EQ(key.EnumValue(static_cast<DWORD>(i), &name, nullptr, &data), ERROR_SUCCESS);
        const int n = (i + 1) % kValues;
        ASSERT_EQ(name, n == 0 ? u"V0" : Name("v", n)) << i;
        ASSERT_EQ(data, n == 0 ? Bytes({255, 255, 255, 255}) : Bytes({n & 255, n >> 8, 0, 0}));
    }
    EXPECT_EQ(key.EnumValue(kValues, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    for (int i = 0; i < kSubkeys; ++i) {
        ASSERT_EQ(key.EnumKey(static_cast<DWORD>(i), &name), ERROR_SUCCESS);
        ASSERT_EQ(name, Name("Sub", i));
    }
    EXPECT_EQ(key.EnumKey(kSubkeys, &name), ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, FilesAboveTheCeilingAreRefusedAndNeverWrittenOver) {
    const std::string head =
        std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\Big]\n\"v\"=dword:00000001\n;";
    const auto padded = [&](std::uint64_t size) {
        return head + std::string(size - head.size() - 1, 'x') + "\n";
    };
    RegistryKey early = Key(u"Software\\Big", true);  // opened while the file was small

    // Exactly at the ceiling the file reads, but a change that would grow it is refused.
    const std::string full = padded(kRegistryFileMaxBytes);
    WriteUserFile(full);
    RegistryKey key = Key(u"Software\\Big");
    EXPECT_EQ(Dword(key, u"v"), 1u);
    EXPECT_EQ(key.SetDword(u"more", 1), ERROR_FILE_TOO_LARGE);
    EXPECT_TRUE(ReadFile(UserFile()) == full);

    // One byte more and every call on the root is refused; nothing touches the file.
    const std::string over = padded(kRegistryFileMaxBytes + 1);
    WriteFile(UserFile(), over);
    RegistryKey other;
    const std::function<LONG()> calls[] = {
        [&] { return other.Open(RegRoot::kCurrentUser, u"Software\\Big"); },
        [&] { return other.Create(RegRoot::kCurrentUser, u"Software\\Other"); },
        [&] { return RegistryDeleteTree(RegRoot::kCurrentUser, u"Software\\Big"); },
        [&] { return early.QueryDword(u"v", nullptr); },
        [&] { return early.EnumValue(0, nullptr, nullptr, nullptr); },
        [&] { return early.EnumKey(0, nullptr); },
        [&] { return early.SetDword(u"v", 2); },
        [&] { return early.DeleteValue(u"v"); },
        [&] { return early.DeleteTree(u""); },
        [&] {
            early.BeginBatch();
            early.SetDword(u"v", 3);
            return early.CommitBatch();
        },
    };
    for (std::size_t i = 0; i < std::size(calls); ++i)
        EXPECT_EQ(calls[i](), ERROR_FILE_TOO_LARGE) << i;
    EXPECT_FALSE(other.IsOpen());
    EXPECT_TRUE(ReadFile(UserFile()) == over);
    EXPECT_FALSE(FileExists(UserFile() + ".tmp"));

    // A pipe in the file's place is refused rather than waited on.
    ASSERT_EQ(std::remove(UserFile().c_str()), 0);
    ASSERT_EQ(::mkfifo(UserFile().c_str(), 0600), 0);
    EXPECT_EQ(other.Open(RegRoot::kCurrentUser, u"Software\\Big"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(early.SetDword(u"v", 2), ERROR_ACCESS_DENIED);
}

std::int64_t Nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Waits until the file's times lie well behind the clock that stamps files, so that what is
// read from it now is kept.
bool WaitUntilSettled(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    const std::int64_t changed = std::max(Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim));
    return test::WaitUntil([&] {
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
        return Nanoseconds(now) > changed + 100'000'000;
    });
}

void SetTimes(const std::string& path, const struct stat& to) {
    const timespec times[2] = {to.st_atim, to.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(Registry, ReadersSeeEveryChangeToTheFile) {
    const auto file = [](int value) {
        return std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\OrvexTest\\Shared]\n" +
               "\"v\"=dword:0000000" + std::to_string(value) + "\n";
    };
    // Changes that leave the modification time (and for some the size) as it was: the file
    // rewritten in place, replaced by another file, or grown in place.
    const struct { bool replace, grow; } cases[] = {{false, false}, {true, false}, {false, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "replace " << c.replace << " grow " << c.grow);
        WriteUserFile(file(1));
        ASSERT_TRUE(WaitUntilSettled(UserFile()));
        RegistryKey key = Key(kShared);
        EXPECT_EQ(Dword(key, u"v"), 1u);
        struct stat before {};
        ASSERT_EQ(::stat(UserFile().c_str(), &before), 0);
        const std::string written = c.replace ? UserFile() + ".new" : UserFile();
        WriteFile(written, file(2) + (c.grow ? "; more\n" : ""));
        SetTimes(written, before);
        if (c.replace) {
            ASSERT_EQ(std::rename(written.c_str(), UserFile().c_str()), 0);
        }
        EXPECT_EQ(Dword(key, u"v"), 2u);
    }

    // Same-size rewrites in place straight after each read, within one timestamp tick.
    RegistryKey key = Key(kShared);
    for (int i = 0; i < 40; ++i) {
        WriteFile(UserFile(), file(i % 10));
        ASSERT_EQ(Dword(key, u"v"), static_cast<DWORD>(i % 10)) << i;
    }
}

// Descriptors of this process open on `path`.
int OpenCount(const std::string& path) {
    int count = 0;
    std::error_code ec;
    const auto wanted = std::filesystem::canonical(path, ec);
    for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
        std::error_code link_ec;
        if (std::filesystem::read_symlink(fd.path(), link_ec) == wanted) ++count;
    }
    return count;
}

// A library with a registry store of its own lets go of what the store keeps when it is
// unloaded: the file it holds open and the parsed text (which the leak checker would see).
TEST_F(Registry, AnUnloadedLibraryKeepsNothingOfTheFileItRead) {
    WriteUserFile(std::string(kHeader) + "[HKEY_CURRENT_USER\\Software\\OrvexTest\\Shared]\n" +
                  "\"v\"=dword:00000007\n");
    ASSERT_TRUE(WaitUntilSettled(UserFile()));
    const int before = OpenCount(UserFile());
    {
        DynamicLibrary plugin;
        ASSERT_TRUE(plugin.Open(PLATFORM_TEST_PLUGIN)) << plugin.Error();
        auto read =
            reinterpret_cast<long long (*)(const char16_t*)>(plugin.Symbol("PluginReadDword"));
        ASSERT_NE(read, nullptr);
        ASSERT_EQ(read(u"Software\\OrvexTest\\Shared"), 7);
        EXPECT_EQ(OpenCount(UserFile()), before + 1);  // kept while the plugin lives
    }
    EXPECT_EQ(OpenCount(UserFile()), before);
}

TEST(RegistryText, ValueSyntaxIsStrict) {
    regfile::Value v;
    EXPECT_TRUE(regfile::ParseValue("\"a\" = dword:1a", &v));
    EXPECT_EQ(v.data, Bytes({0x1a, 0, 0, 0}));
    EXPECT_TRUE(regfile::ParseValue("@=hex(7):61,00,00,00,00,00", &v));
    EXPECT_EQ(v.type, 7u);
    EXPECT_TRUE(v.name.empty());
    EXPECT_TRUE(regfile::ParseValue("\"\\x01\\q\"=hex:", &v));
    EXPECT_EQ(v.name, u"\x01\\q");
    EXPECT_TRUE(v.data.empty());
    for (const char* bad : {"\"a\"=-", "\"a\"=\"x\" tail", "\"a\"=dword:", "\"a\"=hex(",
                            "\"a\"=hex(123456789):00", "\"a\"", "\"a=\"b\"", "x=\"y\""}) {
        EXPECT_FALSE(regfile::ParseValue(bad, &v)) << bad;
    }
}

}  // namespace
}  // namespace orvex::platform
