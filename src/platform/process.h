// Facts about the running process.
#pragma once

#include <cstdint>

namespace orvex::platform {

// The system's identifier of this process (GetCurrentProcessId / getpid).
std::uint32_t CurrentProcessId();

}  // namespace orvex::platform
