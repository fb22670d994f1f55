// How both forms of the parallel pass start their threads.
#pragma once

#include <cstddef>
#include <functional>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/parallel_pass.h"

namespace fw {

// No more threads than cores, tasks or `maxThreads` allow.
std::size_t threadsWanted(std::size_t maxThreads, std::size_t tasks);

// Starts up to `wanted` threads running `work(worker)`, worker 0 up. A
// thread that cannot be started (a process limit, no memory for its
// stack or its state) leaves the work to those that could; for tests,
// starts after `threadsThatStart` fail the same way. `work` lets no
// exception out: one leaving a thread ends the process.
std::vector<std::thread> startThreads(std::size_t wanted, std::size_t threadsThatStart,
                                      const std::function<void(std::size_t worker)>& work);

// Runs a pass; memory that runs out before any of its threads started
// fails it as memory that runs out in one of them does.
template <class Run>
bool runUnlessOutOfMemory(std::string* why, Run&& run) {
    try {
        return run();
    } catch (const std::bad_alloc&) {
        *why = outOfMemory;
        return false;
    }
}

}  // namespace fw
