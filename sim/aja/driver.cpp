// Entry points of the virtual AJA board library: the driver table of ntv2driver.h, self-
// registration under HKEY_CLASSES_ROOT\Orvex.NTV2Driver, and the control functions of
// sim_control.h.
#include <cstring>
#include <memory>

#include "aja/ntv2/ntv2driver.h"
#include "com/module_entry.h"
#include "orvex/com.h"
#include "platform/module_info.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "sim/aja/board.h"
#include "sim/aja/sim_control.h"

namespace {

using orvex::sim::aja::Board;
using orvex::sim::aja::CurrentBoards;

// A handle keeps its board alive across a rig reset.
using Handle = std::shared_ptr<Board>;

std::shared_ptr<Board> BoardAt(int32_t index) {
    auto boards = CurrentBoards();
    if (index < 0 || static_cast<std::size_t>(index) >= boards.size()) return nullptr;
    return boards[static_cast<std::size_t>(index)];
}

Board* Of(void* handle) {
    return handle ? static_cast<Handle*>(handle)->get() : nullptr;
}

int32_t BoardCount() {
    return static_cast<int32_t>(CurrentBoards().size());
}

int32_t BoardInfo(int32_t index, OxNtv2BoardInfo* info) {
    auto b = BoardAt(index);
    if (!b || !info) return OX_NTV2_E_INVALID;
    *info = b->Info();
    return OX_NTV2_OK;
}

int32_t Open(int32_t index, void** handle) {
    if (!handle) return OX_NTV2_E_INVALID;
    *handle = nullptr;
    auto b = BoardAt(index);
    if (!b) return OX_NTV2_E_INVALID;
    if (const int32_t r = b->Open(); r != OX_NTV2_OK) return r;
    *handle = new Handle(std::move(b));
    return OX_NTV2_OK;
}

void Close(void* handle) {
    if (!handle) return;
    Of(handle)->Close();
    delete static_cast<Handle*>(handle);
}

int32_t ReadRegister(void* h, uint32_t reg, uint32_t* value) {
    return h ? Of(h)->ReadRegister(reg, value) : OX_NTV2_E_INVALID;
}

int32_t WriteRegister(void* h, uint32_t reg, uint32_t value) {
    return h ? Of(h)->WriteRegister(reg, value) : OX_NTV2_E_INVALID;
}

int32_t AutoCirculate(void* h, uint32_t command, uint32_t crosspoint, const OxNtv2AcInit* init,
                      uint64_t start_time) {
    return h ? Of(h)->AutoCirculate(command, crosspoint, init, start_time) : OX_NTV2_E_INVALID;
}

int32_t Status(void* h, uint32_t crosspoint, AUTOCIRCULATE_STATUS_STRUCT* status) {
    return h ? Of(h)->Status(crosspoint, status) : OX_NTV2_E_INVALID;
}

int32_t Transfer(void* h, const AUTOCIRCULATE_TRANSFER_STRUCT* transfer,
                 const AUTOCIRCULATE_TASK_STRUCT* tasks,
                 AUTOCIRCULATE_TRANSFER_STATUS_STRUCT* status) {
    return h ? Of(h)->Transfer(transfer, tasks, status) : OX_NTV2_E_INVALID;
}

int32_t WaitOutputVertical(void* h, uint32_t channel, uint32_t timeout_ms) {
    return h ? Of(h)->WaitOutputVertical(channel, timeout_ms) : OX_NTV2_E_INVALID;
}

const OxNtv2Driver kDriver = {sizeof(OxNtv2Driver),
                              OX_NTV2_DRIVER_VERSION,
                              &BoardCount,
                              &BoardInfo,
                              &Open,
                              &Close,
                              &ReadRegister,
                              &WriteRegister,
                              &AutoCirculate,
                              &Status,
                              &Transfer,
                              &WaitOutputVertical};

}  // namespace

ORVEX_EXPORT const OxNtv2Driver* OxNtv2DriverEntry(uint32_t version) {
    return version == OX_NTV2_DRIVER_VERSION ? &kDriver : nullptr;
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllRegisterServer() {
    static const char anchor = 0;
    const std::string path = orvex::platform::ModulePathOf(&anchor);
    if (path.empty()) return E_UNEXPECTED;
    orvex::platform::RegistryKey key;
    LONG err = key.Create(orvex::platform::RegRoot::kClassesRoot, OX_NTV2_DRIVER_KEY);
    if (err == ERROR_SUCCESS) err = key.SetString(u"", orvex::platform::FromUtf8(path));
    return HRESULT_FROM_WIN32(err);
}

ORVEX_EXPORT HRESULT STDMETHODCALLTYPE DllUnregisterServer() {
    LONG err = orvex::platform::RegistryDeleteTree(orvex::platform::RegRoot::kClassesRoot,
                                                   OX_NTV2_DRIVER_KEY);
    return err == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(err);
}

ORVEX_EXPORT void OxSimAjaSetTimeSource(OxSimAjaNowFunction now,
                                        OxSimAjaSleepUntilFunction sleep_until, void* context) {
    orvex::sim::aja::SetTimeSource(now, sleep_until, context);
}

ORVEX_EXPORT int32_t OxSimAjaReset() {
    orvex::sim::aja::ResetRig();
    return 0;
}

ORVEX_EXPORT int32_t OxSimAjaBoardCount(char* error, int32_t error_size) {
    const auto count = static_cast<int32_t>(CurrentBoards().size());
    if (error && error_size > 0) {
        const std::string e = orvex::sim::aja::RigError();
        const std::size_t n =
            std::min<std::size_t>(e.size(), static_cast<std::size_t>(error_size - 1));
        std::memcpy(error, e.data(), n);
        error[n] = 0;
    }
    return count;
}

ORVEX_EXPORT int32_t OxSimAjaSetFault(int32_t board, const char* name, double value) {
    auto b = BoardAt(board);
    if (!b || !name) return -1;
    return b->SetFault(name, value);
}

ORVEX_EXPORT int32_t OxSimAjaStats(int32_t board, int32_t channel, OxSimAjaChannelStats* stats) {
    auto b = BoardAt(board);
    if (!b || !stats || channel < 0 || channel >= 8) return -1;
    *stats = b->Stats(channel);
    return 0;
}

ORVEX_EXPORT int32_t OxSimAjaRegister(int32_t board, uint32_t reg, uint32_t* value) {
    auto b = BoardAt(board);
    if (!b || !value || reg >= OX_NTV2_REG_COUNT) return -1;
    *value = b->PeekRegister(reg);
    return 0;
}

ORVEX_EXPORT int32_t OxSimAjaFlush(int32_t board) {
    auto b = BoardAt(board);
    if (!b) return -1;
    b->Flush();
    return 0;
}

namespace {
bool SimAttach(void*) {
    return true;
}
void SimDetach() {
    orvex::sim::aja::ResetRig();  // closes the recordings
}
}  // namespace

ORVEX_MODULE_ENTRY(SimAttach, SimDetach)
