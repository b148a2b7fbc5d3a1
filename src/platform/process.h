// Starting other programs and asking about files.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace orvex::platform {

// Starts the program at `path` (UTF-8) with `args` and returns without waiting; the program
// runs on its own and leaves nothing for this process to collect. False when it could not be
// started (missing, not executable, no resources).
bool LaunchDetached(const std::string& path, const std::vector<std::string>& args = {});

// The folders that installed programs live in, the 32-bit programs' folder first (Windows:
// "C:\Program Files (x86)" and "C:\Program Files"); none on systems without them.
std::vector<std::string> ProgramFolders();

// True when a file or folder exists at `path`.
bool FileExists(const std::string& path);

// Sets or removes a variable of this process's environment (children inherit it).
bool SetEnvVar(const std::string& name, const std::string& value);
bool UnsetEnvVar(const std::string& name);

// This process's identifier.
unsigned long CurrentProcessId();

// Bytes of the C runtime's heap now allocated (for leak and growth checks in tests).
std::size_t HeapBytesInUse();

}  // namespace orvex::platform
