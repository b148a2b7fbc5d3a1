// For the helper process: become an ordinary user, so that priority fallbacks are exercised
// even when the tests run with full rights, and die as if killed. The build picks the
// implementation file.
#pragma once

namespace orvex::platform::test {

// True when the process now runs without the right to raise priorities.
bool DropPrivileges();

// Whether an ordinary user is barred from raising thread priorities at all (on Windows every
// user may take every level within the process's priority class).
bool PrivilegesLimitPriorities();

// Ends the process at once, as a kill from outside would: no destructor or exit handler runs.
[[noreturn]] void DieAbruptly();

}  // namespace orvex::platform::test
