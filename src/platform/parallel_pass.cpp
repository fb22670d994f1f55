#include "platform/parallel_pass.h"

#include "platform/thread_starts.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <numeric>
#include <system_error>
#include <thread>

namespace fw {

std::size_t threadsWanted(std::size_t maxThreads, std::size_t tasks) {
    const std::size_t cores = std::max(1u, std::thread::hardware_concurrency());
    return std::min({maxThreads, cores, tasks});
}

std::vector<std::thread> startThreads(std::size_t wanted, std::size_t threadsThatStart,
                                      const std::function<void(std::size_t worker)>& work) {
    std::vector<std::thread> threads;
    try {
        threads.reserve(wanted);
        while (threads.size() < wanted) {
            if (threads.size() >= threadsThatStart)
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            const std::size_t worker = threads.size();
            threads.emplace_back([&work, worker] { work(worker); });
        }
    } catch (const std::system_error&) {
    } catch (const std::bad_alloc&) {
    }
    return threads;
}

namespace {

class Pass {
public:
    explicit Pass(const ParallelPass& p) : p_(p), order_(p.sizes.size()) {
        std::iota(order_.begin(), order_.end(), 0);
        std::stable_sort(order_.begin(), order_.end(),
                         [&](std::size_t a, std::size_t b) { return p.sizes[a] > p.sizes[b]; });
    }

    bool run(std::string* why) {
        const std::function<void(std::size_t)> each = [this](std::size_t worker) { work(worker); };
        std::vector<std::thread> workers =
            startThreads(threadsWanted(p_.maxThreads, order_.size()), p_.threadsThatStart, each);
        if (workers.empty()) {
            work(0);
        } else {
            waitForWorkers(workers.size());
            for (std::thread& t : workers) t.join();
        }
        tick();
        if (failed_.load()) *why = outOfMemory;
        return !failed_.load();
    }

private:
    void work(std::size_t worker) {
        try {
            for (std::size_t k; !failed_.load() && (k = next_.fetch_add(1)) < order_.size();) {
                p_.work(order_[k], worker);
                std::lock_guard lock(mutex_);
                ++ended_;
                changed_.notify_all();
            }
        } catch (const std::bad_alloc&) {
            failed_.store(true);
        }
        std::lock_guard lock(mutex_);
        ++idle_;
        changed_.notify_all();
    }

    void tick() {
        try {
            if (p_.tick) p_.tick();
        } catch (const std::bad_alloc&) {
            failed_.store(true);
        }
    }

    void waitForWorkers(std::size_t threads) {
        std::unique_lock lock(mutex_);
        for (std::size_t seen = 0; idle_ < threads;) {
            changed_.wait_for(lock, std::chrono::milliseconds(100), [&] { return ended_ != seen || idle_ == threads; });
            seen = ended_;
            lock.unlock();
            tick();
            lock.lock();
        }
    }

    const ParallelPass& p_;
    std::vector<std::size_t> order_;
    std::atomic<std::size_t> next_{0};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t ended_ = 0, idle_ = 0;
    std::atomic<bool> failed_{false};  // memory ran out: no task is begun any more
};

}  // namespace

bool runParallelPass(const ParallelPass& pass, std::string* why) {
    return runUnlessOutOfMemory(why, [&] { return Pass(pass).run(why); });
}

}  // namespace fw
