// The one way the tools spread work over the cores: tasks of known size,
// each done by one thread from start to end, the largest first, so the
// largest task bounds the pass rather than the sum of them all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace fw {

struct ParallelPass {
    std::vector<std::uint64_t> sizes;  // one per task; task i weighs sizes[i]
    // Does task `task` on worker `worker` (0 up to the number of threads):
    // a worker's tasks come one after another, so it may keep a buffer.
    std::function<void(std::size_t task, std::size_t worker)> work;
    // Runs on the calling thread about ten times a second and after every
    // task that ends, for progress and for reporting finished tasks.
    std::function<void()> tick;
    // Lowered further to the cores there are; 0: every task on the calling
    // thread, where starting threads would cost more than they save.
    std::size_t maxThreads = 4;
    // For tests: thread starts after this many fail, as under a process
    // limit; none started means the calling thread does every task.
    std::size_t threadsThatStart = SIZE_MAX;
};

// Returns when every task is done; no thread of the pass outlives it.
void runParallelPass(const ParallelPass& pass);

}  // namespace fw
