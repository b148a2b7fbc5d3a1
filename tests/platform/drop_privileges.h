// For the helper process: become an ordinary user, so that priority fallbacks are exercised
// even when the tests run with full rights. The build picks the implementation file.
#pragma once

namespace orvex::platform::test {

// True when the process now runs without the right to raise priorities.
bool DropPrivileges();

}  // namespace orvex::platform::test
