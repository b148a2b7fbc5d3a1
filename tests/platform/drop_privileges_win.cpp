#include <windows.h>

#include "drop_privileges.h"

namespace orvex::platform::test {

bool DropPrivileges() {
    return false;
}

bool PrivilegesLimitPriorities() {
    return false;
}

void DieAbruptly() {
    ::TerminateProcess(::GetCurrentProcess(), 137);
    for (;;) ::Sleep(INFINITE);
}

}  // namespace orvex::platform::test
