// The other process of the cross-process tests.
//   reg-write <dir> <prefix> <count> <done-file>   writes <count> values into one key
//   claim-kill <name> <held-file> <go-file>         holds a claim, then dies as if killed
//   touch <file>                                    creates a file
//   priorities <result-file>                        as an ordinary user, applies every
//                                                   priority level and reports what stood
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "drop_privileges.h"
#include "platform/clock.h"
#include "platform/named_claim.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/thread.h"
#include "test_util.h"

using namespace orvex::platform;

namespace {

void Touch(const std::string& path) {
    std::ofstream(path) << "done\n";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "touch" && argc == 3) {
        Touch(argv[2]);
        return 0;
    }
    if (mode == "reg-write" && argc == 6) {
        SetEnvVar("ORVEX_REGISTRY_DIR", argv[2]);
        const int count = std::atoi(argv[4]);
        RegistryKey key;
        if (key.Create(RegRoot::kCurrentUser, u"Software\\OrvexTest\\Shared") != ERROR_SUCCESS) {
            return 1;
        }
        for (int i = 0; i < count; ++i)
            if (key.SetDword(test::Name(argv[3], i), static_cast<DWORD>(i)) != ERROR_SUCCESS)
                return 1;
        Touch(argv[5]);
        return 0;
    }
    if (mode == "priorities" && argc == 3) {
        // Opened while the folder is still writable for us; "end" marks a complete report.
        std::ofstream out(argv[2]);
        if (!test::DropPrivileges()) out << "cannot drop privileges\n";
        // Each level on a fresh thread: raising must fall back quietly, never fail or lower.
        for (int level = 0; level <= static_cast<int>(ThreadPriority::kTimeCritical); ++level) {
            Thread thread;
            int seen = -1;
            const bool started =
                thread.Start([&] { seen = static_cast<int>(Thread::GetCurrentPriority()); }, true);
            const bool applied = started && thread.SetPriority(static_cast<ThreadPriority>(level));
            thread.Resume();
            thread.Join();
            const int normal = static_cast<int>(ThreadPriority::kNormal);
            if (!applied || seen != std::min(level, normal)) {
                out << "level " << level << " gave " << seen << (applied ? "\n" : " (refused)\n");
            }
        }
        // A thread refused real time says so.
        Thread::SetCurrentPriority(ThreadPriority::kTimeCritical);
        const std::string said = Thread::CurrentSchedulingText();
        if (test::PrivilegesLimitPriorities() &&
            said.find("real-time not permitted") == std::string::npos)
            out << "scheduling said " << said << "\n";
        out << "end\n";
        return 0;
    }
    if (mode == "claim-kill" && argc == 5) {
        NamedClaim claim;
        bool existed = true;
        if (!claim.Create(argv[2], &existed) || existed) return 1;
        Touch(argv[3]);
        if (!test::WaitUntil([&] { return FileExists(argv[4]); })) return 1;
        test::DieAbruptly();
    }
    return 2;
}
