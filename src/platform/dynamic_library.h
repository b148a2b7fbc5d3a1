// Loading shared libraries (dlopen / LoadLibrary).
#pragma once

#include <string>

namespace orvex::platform {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();  // unloads
    DynamicLibrary(DynamicLibrary&& o) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& o) noexcept;
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
