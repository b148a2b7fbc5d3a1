// Loading shared libraries (dlopen / LoadLibrary).
#pragma once

#include <string>
#include <utility>

namespace orvex::platform {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary() { Close(); }  // unloads
    DynamicLibrary(DynamicLibrary&& o) noexcept
        : handle_(std::exchange(o.handle_, nullptr)), error_(std::move(o.error_)) {}
    DynamicLibrary& operator=(DynamicLibrary&& o) noexcept {
        if (this != &o) {
            Close();
            handle_ = std::exchange(o.handle_, nullptr);
            error_ = std::move(o.error_);
        }
        return *this;
    }
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    bool Open(const std::string& path);  // UTF-8 path
    void* Symbol(const char* name) const;
    void Close();
    // Keeps the library loaded for the life of the process (the object forgets it).
    void Leak();
    bool IsOpen() const { return handle_ != nullptr; }
    const std::string& Error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

}  // namespace orvex::platform
