// Backend classes of a test, listed in the process class table under their own CLSIDs. Each
// class has a probe that says how its objects behave (devices, failing or throwing calls,
// which interfaces they answer) and records what they were asked.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "orvex/ids.h"
#include "orvex/interfaces.h"

namespace orvex::test {

inline constexpr CLSID kFakeA = MakeGuid("5d0c6f1a-1111-4c3e-9a51-7be0a2c40001");
inline constexpr CLSID kFakeB = MakeGuid("5d0c6f1a-1111-4c3e-9a51-7be0a2c40002");
inline constexpr CLSID kFakeC = MakeGuid("5d0c6f1a-1111-4c3e-9a51-7be0a2c40003");

struct BackendProbe {
    // Behaviour, set before the class is listed.
    std::vector<std::u16string> devices;
    HRESULT create_result = S_OK;  // what making an object returns
    HRESULT count_result = S_OK;   // what DeviceGetCount returns
    int count_override = 0;        // when not 0, the count reported instead of devices.size()
    HRESULT call_result = S_OK;    // when failing, every other call returns it
    HRESULT set_result = S_OK;     // when failing, DeviceSet returns it
    bool throws = false;           // every call but the count throws
    bool receiver = true;          // answers IOXReceiver
    bool props = true;             // answers IOXProps
    bool private_props = true;     // answers the private props identifier
    bool format = true;            // answers IOXFormat and the private format identifier
    bool makes_directory = false;  // makes (and drops) a generic renderer while it is made

    // What happened.
    std::atomic<int> alive{0};
    std::vector<std::string> Calls();  // and forgets them
    void Record(std::string call);
    std::map<std::u16string, std::u16string> store;  // guarded by lock
    int chosen = -1;                                 // guarded by lock
    std::mutex lock;

private:
    std::vector<std::string> calls_;
};

// Lists `clsid` in the process class table with `probe`'s behaviour, until Unlist.
void List(REFCLSID clsid, BackendProbe* probe);
void UnlistAll();

}  // namespace orvex::test
