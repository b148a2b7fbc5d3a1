// Every test executable runs with the registry stand-in pointed at a fresh temporary folder,
// so that no test reads or writes the user's own settings. The environment is linked into
// each test by orvex_add_test(); including this header only gives access to the folder.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace orvex::test {

class TempRegistryEnvironment : public ::testing::Environment {
public:
    // Makes the folder and points ORVEX_REGISTRY_DIR at it. HOME and XDG_CONFIG_HOME are
    // pointed into it too, so that a test that clears ORVEX_REGISTRY_DIR still stays inside.
    // XDG_RUNTIME_DIR goes there as well: named claims (devices, formats) then belong to this
    // test process and its children, not to every test or program of the user running at once
    // (on Windows, where claims are kernel objects of the session, ORVEX_CLAIM_SCOPE does it).
    void SetUp() override;
    // Removes the folder and puts the variables back as they were.
    void TearDown() override;
    const std::filesystem::path& dir() const { return dir_; }

private:
    struct Saved {
        const char* name;
        std::optional<std::string> value;
    };

    std::filesystem::path dir_;
    Saved saved_[6] = {{"ORVEX_REGISTRY_DIR", {}},     {"HOME", {}},
                       {"XDG_CONFIG_HOME", {}},        {"XDG_RUNTIME_DIR", {}},
                       {"ORVEX_TEST_RUNTIME_DIR", {}}, {"ORVEX_CLAIM_SCOPE", {}}};
};

// The one environment of the executable.
extern TempRegistryEnvironment* const g_temp_registry;

}  // namespace orvex::test
