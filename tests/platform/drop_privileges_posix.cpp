#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "drop_privileges.h"

namespace orvex::platform::test {

bool DropPrivileges() {
    // Real-time and nice headroom off first (they bind ordinary users only), then the user.
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_RTPRIO, &none);
    ::setrlimit(RLIMIT_NICE, &none);
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) return false;
    return ::geteuid() != 0;
}

bool PrivilegesLimitPriorities() {
    return true;
}

void DieAbruptly() {
    std::raise(SIGKILL);
    std::_Exit(137);
}

}  // namespace orvex::platform::test
