// Points the registry stand-in at a fresh temporary folder for the life of a test
// executable, so that no test reads or writes the user's own settings.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace orvex::test {

class TempRegistryEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        std::random_device rd;
        dir_ = std::filesystem::temp_directory_path() /
               ("orvex-test-registry-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        ::setenv("ORVEX_REGISTRY_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

// Registers the environment once per executable.
inline TempRegistryEnvironment* const g_temp_registry = static_cast<TempRegistryEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new TempRegistryEnvironment));

}  // namespace orvex::test
