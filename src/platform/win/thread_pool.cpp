// Work items on the system thread pool.
#include <windows.h>

#include <memory>

#include "platform/thread_pool.h"

namespace orvex::platform {
namespace {

void CALLBACK RunWork(PTP_CALLBACK_INSTANCE, void* context) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(context));
    try {
        (*work)();
    } catch (...) {
        // A work item's failure stays with it; the pool thread goes on.
    }
}

}  // namespace

bool QueueWorkItem(std::function<void()> work) {
    if (!work) return false;
    auto item = std::make_unique<std::function<void()>>(std::move(work));
    if (!::TrySubmitThreadpoolCallback(&RunWork, item.get(), nullptr)) return false;
    item.release();
    return true;
}

int ProcessorCount() {
    const DWORD n = ::GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
    return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace orvex::platform
