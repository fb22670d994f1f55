#include "platform/parallel_pass.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <system_error>
#include <thread>

namespace fw {
namespace {

class Pass {
public:
    explicit Pass(const ParallelPass& p) : p_(p), order_(p.sizes.size()) {
        std::iota(order_.begin(), order_.end(), 0);
        std::stable_sort(order_.begin(), order_.end(),
                         [&](std::size_t a, std::size_t b) { return p.sizes[a] > p.sizes[b]; });
    }

    void run() {
        const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
        const std::size_t wanted = std::min({p_.maxThreads, cores, order_.size()});
        std::vector<std::thread> workers;
        while (workers.size() < wanted && start(workers)) {}
        if (workers.empty()) {
            work(0);
        } else {
            waitForWorkers(workers.size());
            for (std::thread& t : workers) t.join();
        }
        if (p_.tick) p_.tick();
    }

private:
    // A thread that cannot be started (a process limit, no memory for its
    // stack) leaves the work to those that could.
    bool start(std::vector<std::thread>& workers) {
        try {
            if (workers.size() >= p_.threadsThatStart)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            const std::size_t worker = workers.size();
            workers.emplace_back([this, worker] { work(worker); });
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

    void work(std::size_t worker) {
        for (std::size_t k; (k = next_.fetch_add(1)) < order_.size();) {
            p_.work(order_[k], worker);
            std::lock_guard lock(mutex_);
            ++ended_;
            changed_.notify_all();
        }
        std::lock_guard lock(mutex_);
        ++idle_;
        changed_.notify_all();
    }

    void waitForWorkers(std::size_t threads) {
        std::unique_lock lock(mutex_);
        for (std::size_t seen = 0; idle_ < threads;) {
            changed_.wait_for(lock, std::chrono::milliseconds(100), [&] { return ended_ != seen || idle_ == threads; });
            seen = ended_;
            lock.unlock();
            if (p_.tick) p_.tick();
            lock.lock();
        }
    }

    const ParallelPass& p_;
    std::vector<std::size_t> order_;
    std::atomic<std::size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t ended_ = 0, idle_ = 0;
};

}  // namespace

void runParallelPass(const ParallelPass& pass) { Pass(pass).run(); }

}  // namespace fw
