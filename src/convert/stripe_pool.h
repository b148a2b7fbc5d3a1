// The stripe workers of the conversion: a small pool of threads of its own that lends itself
// to one striped call at a time (fork and join). A call returns only when every stripe it
// handed out has finished and no worker refers to it any more, so nothing of a conversion
// runs or waits in a queue after it returns. The workers are joined when the module may be
// unloaded (StopStripeWorkers) and when the library's statics are torn down; calls after the
// latter run on the caller alone.
#pragma once

#include <functional>

namespace orvex::convert {

// Threads that may work on one call at once, the caller included: min(4, processors).
int StripeThreads();

// Runs task(0) .. task(count - 1), each exactly once, on the caller and on the pool's idle
// workers, and returns when all have finished. The caller takes tasks too, so the call
// never waits for a worker that has not started: when the pool is busy with another call,
// or shut down, or the machine gives its workers no processor, the caller runs every task
// itself. `task` must not throw.
void RunStripes(int count, const std::function<void(int)>& task);

// Joins the workers once the call they may be serving has finished; the next striped call
// starts them again. The module calls it when it answers that it may be unloaded: a library
// must not be unloaded with threads of its own still running in it, and joining them while
// the system unloads it (under its loader lock on Windows) could wait for ever.
void StopStripeWorkers();

}  // namespace orvex::convert
