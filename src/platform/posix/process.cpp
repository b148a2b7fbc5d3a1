#include "platform/process.h"

#include <unistd.h>

namespace orvex::platform {

std::uint32_t CurrentProcessId() {
    return static_cast<std::uint32_t>(::getpid());
}

}  // namespace orvex::platform
