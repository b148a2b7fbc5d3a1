#include <windows.h>

#include "platform/dynamic_library.h"
#include "platform/win/win_text.h"

namespace orvex::platform {

bool DynamicLibrary::Open(const std::string& path, Scope) {
    Close();
    // The library's own folder is searched for its dependencies, as a host expects of a
    // driver named by full path.
    const std::wstring wide = win::Wide(path);
    HMODULE h = ::LoadLibraryExW(wide.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!h) {
        error_ = path + ": " + win::ErrorText(::GetLastError());
        return false;
    }
    handle_ = h;
    error_.clear();
    return true;
}

void* DynamicLibrary::Symbol(const char* name) const {
    if (!handle_ || !name) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void DynamicLibrary::Close() {
    if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

void DynamicLibrary::Leak() {
    handle_ = nullptr;
}

}  // namespace orvex::platform
