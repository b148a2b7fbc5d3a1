#include "support/temp_registry.h"

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace orvex::test {

void TempRegistryEnvironment::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvex-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder from " + pattern);
    }
    dir_ = pattern;
    const std::filesystem::path home = dir_ / "home";
    std::filesystem::create_directories(home / ".config");
    // A test's helper process (the same executable, started by the test) shares its parent's
    // claims, which it inherits through ORVEX_TEST_RUNTIME_DIR.
    std::filesystem::path run = dir_ / "run";
    if (const char* parent = std::getenv("ORVEX_TEST_RUNTIME_DIR"); parent && parent[0] == '/')
        run = parent;
    std::filesystem::create_directories(run);

    for (Saved& s : saved_) {
        if (const char* v = std::getenv(s.name)) s.value = v;
    }
    ::setenv("ORVEX_REGISTRY_DIR", dir_.c_str(), 1);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    ::setenv("ORVEX_TEST_RUNTIME_DIR", run.c_str(), 1);
}

void TempRegistryEnvironment::TearDown() {
    for (const Saved& s : saved_) {
        if (s.value)
            ::setenv(s.name, s.value->c_str(), 1);
        else
            ::unsetenv(s.name);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

TempRegistryEnvironment* const g_temp_registry = static_cast<TempRegistryEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new TempRegistryEnvironment));

}  // namespace orvex::test
