#include <windows.h>

#include <malloc.h>

#include <cstdlib>

#include "platform/process.h"
#include "platform/win/win_text.h"

namespace orvex::platform {
namespace {

// One argument as the C runtime's command-line parser reads it back: quoted when it holds
// blanks or quotes, with the backslashes before a quote doubled.
void AppendQuoted(std::wstring* line, const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        *line += arg;
        return;
    }
    *line += L'"';
    std::size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') backslashes = backslashes * 2 + 1;
        line->append(backslashes, L'\\');
        backslashes = 0;
        *line += c;
    }
    line->append(backslashes * 2, L'\\');
    *line += L'"';
}

}  // namespace

bool LaunchDetached(const std::string& path, const std::vector<std::string>& args) {
    if (path.empty()) return false;
    const std::wstring exe = win::Wide(path);
    std::wstring line;
    AppendQuoted(&line, exe);
    for (const std::string& a : args) {
        line += L' ';
        AppendQuoted(&line, win::Wide(a));
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE,
                          CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &si, &pi)) {
        return false;
    }
    // Nothing to collect: the handles go, the program runs on.
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return true;
}

std::vector<std::string> ProgramFolders() {
    return {"C:\\Program Files (x86)", "C:\\Program Files"};
}

bool FileExists(const std::string& path) {
    return !path.empty() &&
           ::GetFileAttributesW(win::Wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SetEnvVar(const std::string& name, const std::string& value) {
    if (name.empty() || name.find('=') != std::string::npos) return false;
    // Through the C runtime, which keeps its copy (getenv) and the process's in step; an
    // empty value would remove the variable there, so it is set on the process alone.
    if (value.empty()) return ::SetEnvironmentVariableW(win::Wide(name).c_str(), L"") != 0;
    return ::_wputenv_s(win::Wide(name).c_str(), win::Wide(value).c_str()) == 0;
}

bool UnsetEnvVar(const std::string& name) {
    if (name.empty() || name.find('=') != std::string::npos) return false;
    return ::_wputenv_s(win::Wide(name).c_str(), L"") == 0;
}

std::size_t HeapBytesInUse() {
    std::size_t used = 0;
    _HEAPINFO entry{};
    while (::_heapwalk(&entry) == _HEAPOK) {
        if (entry._useflag == _USEDENTRY) used += entry._size;
    }
    return used;
}

unsigned long CurrentProcessId() {
    return ::GetCurrentProcessId();
}

}  // namespace orvex::platform
