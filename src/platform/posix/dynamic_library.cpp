#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace orvex::platform {

bool DynamicLibrary::Open(const std::string& path, Scope scope) {
    Close();
    error_.clear();
    if (path.empty()) {
        // dlopen would hand out the main program instead.
        error_ = "empty library path";
        return false;
    }
    handle_ =
        ::dlopen(path.c_str(), RTLD_NOW | (scope == Scope::kGlobal ? RTLD_GLOBAL : RTLD_LOCAL));
    if (handle_ == nullptr) {
        const char* message = ::dlerror();
        error_ = message != nullptr ? message : "cannot load " + path;
        return false;
    }
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (handle_ == nullptr || name == nullptr) return nullptr;
    return ::dlsym(handle_, name);
}

void DynamicLibrary::Close() {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = nullptr;
}

void DynamicLibrary::Leak() {
    handle_ = nullptr;
}

}  // namespace orvex::platform
