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

    // Where the library's own symbols go: kLocal keeps them to this handle; kGlobal offers
    // them to libraries loaded later (POSIX; Windows has one kind).
    enum class Scope { kLocal, kGlobal };
    // A UTF-8 path; a bare file name is looked up the system's usual way.
    bool Open(const std::string& path, Scope scope = Scope::kLocal);
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
