// Helpers shared by the platform tests.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "platform/registry.h"

namespace orvex::platform::test {

// A fresh folder, removed with its contents at the end of the scope.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("orvex-platform-" + std::to_string(CurrentProcessId()) + "-" +
                 std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string str() const { return path_.string(); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Polls `done` until it holds or a generous real-time deadline passes.
template <typename F>
bool WaitUntil(F done, Ticks limit = 60 * kTicksPerSecond) {
    const Ticks deadline = RealNow() + limit;
    while (!done()) {
        if (RealNow() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<BYTE> Bytes(std::initializer_list<int> list) {
    std::vector<BYTE> v;
    for (int b : list) v.push_back(static_cast<BYTE>(b));
    return v;
}

// "<prefix><i>", as the helper process names its values.
inline std::u16string Name(const std::string& prefix, int i) {
    const std::string n = prefix + std::to_string(i);
    return std::u16string(n.begin(), n.end());
}

inline void MakeDir(const std::string& path) {
    std::filesystem::create_directories(path);
}

}  // namespace orvex::platform::test
