// The Windows form of the test environment: each test process keeps its settings and class
// registrations in a key of its own, HKEY_CURRENT_USER\Software\Orvex Tests\<pid>-<n>, which
// the registry layer takes as both roots (ORVEX_REGISTRY_KEY) and which is deleted at exit.
// The folder of dir() is made as elsewhere, for tests that write files. The main thread
// joins the multithreaded apartment for the whole run, so every thread of the test process
// may use COM objects without initialising COM itself.
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "com/runtime.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "support/temp_registry.h"

namespace orvex::test {
namespace {

std::string g_key;
bool g_com = false;

}  // namespace

void TempRegistryEnvironment::SetUp() {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::string id =
        std::to_string(platform::CurrentProcessId()) + "-" + std::to_string(stamp);
    dir_ = std::filesystem::temp_directory_path() / ("orvex-test-" + id);
    std::filesystem::create_directories(dir_ / "home" / ".config");
    for (Saved& s : saved_) {
        if (const char* v = std::getenv(s.name)) s.value = v;
    }
    // Claims are the session's kernel objects: scoped to this test process, and to the helper
    // processes it starts, which inherit the scope.
    if (!std::getenv("ORVEX_CLAIM_SCOPE")) platform::SetEnvVar("ORVEX_CLAIM_SCOPE", id);
    g_key = "Software\\Orvex Tests\\" + id;
    platform::SetEnvVar("ORVEX_REGISTRY_KEY", g_key);
    platform::SetEnvVar("ORVEX_REGISTRY_DIR", dir_.string());
    platform::SetEnvVar("HOME", (dir_ / "home").string());
    platform::SetEnvVar("XDG_CONFIG_HOME", (dir_ / "home" / ".config").string());
    g_com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

void TempRegistryEnvironment::TearDown() {
    if (g_com) CoUninitialize();
    g_com = false;
    platform::UnsetEnvVar("ORVEX_REGISTRY_KEY");
    platform::RegistryDeleteTree(platform::RegRoot::kCurrentUser, com::ToUtf16(g_key));
    for (const Saved& s : saved_) {
        if (s.value)
            platform::SetEnvVar(s.name, *s.value);
        else
            platform::UnsetEnvVar(s.name);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

TempRegistryEnvironment* const g_temp_registry = static_cast<TempRegistryEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new TempRegistryEnvironment));

}  // namespace orvex::test
