// The process work-item pool (the system thread pool's stand-in), and processor facts.
#pragma once

#include <functional>

namespace orvex::platform {

// Queues `work` to run once on a pool thread. False when it could not be queued.
bool QueueWorkItem(std::function<void()> work);

// Logical processors available to the process (at least 1).
int ProcessorCount();

}  // namespace orvex::platform
