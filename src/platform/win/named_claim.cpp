// Named claims as named kernel events in the session's namespace: the event exists while a
// handle to it is open, and the system closes a dead process's handles.
#include <windows.h>

#include <cstdio>

#include "platform/named_claim.h"
#include "platform/win/win_text.h"

namespace orvex::platform {
namespace {

// "Local\orvex-claim-", the scope ORVEX_CLAIM_SCOPE when set, and the name with '\' (not
// allowed in object names) and '%' escaped;
// very long names keep a readable head and a hash of the whole.
std::wstring ObjectName(std::string_view name) {
    std::string escaped;
    for (char c : name) {
        if (c == '\\' || c == '%') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", static_cast<unsigned char>(c));
            escaped += buf;
        } else {
            escaped += c;
        }
    }
    if (escaped.size() > 200) {
        std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
        for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        char buf[24];
        std::snprintf(buf, sizeof buf, "~%016llx", static_cast<unsigned long long>(hash));
        escaped.resize(150);
        escaped += buf;
    }
    std::wstring object = L"Local\\orvex-claim-";
    // A scope keeps the claims of a process and its children apart from the rest of the
    // session (the tests run many processes at once, each with its own virtual boards).
    if (const wchar_t* scope = ::_wgetenv(L"ORVEX_CLAIM_SCOPE"); scope && scope[0]) {
        for (const wchar_t* c = scope; *c && object.size() < 64; ++c)
            object += *c == L'\\' ? L'_' : *c;
        object += L'!';
    }
    return object + win::Wide(escaped);
}

HANDLE AsHandle(std::intptr_t v) {
    return reinterpret_cast<HANDLE>(v);
}

}  // namespace

bool NamedClaim::Create(std::string_view name, bool* already_existed) {
    if (already_existed != nullptr) *already_existed = false;
    if (fd_ >= 0 || name.empty()) return false;
    const std::wstring object = ObjectName(name);
    HANDLE h = ::CreateEventW(nullptr, TRUE, FALSE, object.c_str());
    if (!h) return false;
    if (already_existed != nullptr) *already_existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    fd_ = reinterpret_cast<std::intptr_t>(h);
    path_ = win::Utf8(object);
    return true;
}

bool NamedClaim::Open(std::string_view name) {
    if (fd_ >= 0 || name.empty()) return false;
    const std::wstring object = ObjectName(name);
    HANDLE h = ::OpenEventW(SYNCHRONIZE, FALSE, object.c_str());
    if (!h) return false;
    fd_ = reinterpret_cast<std::intptr_t>(h);
    path_ = win::Utf8(object);
    return true;
}

void NamedClaim::Close() {
    if (fd_ < 0) return;
    ::CloseHandle(AsHandle(fd_));
    fd_ = -1;
    path_.clear();
}

bool NamedClaim::Exists(std::string_view name) {
    NamedClaim probe;
    return probe.Open(name);
}

}  // namespace orvex::platform
