#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <queue>
#include <thread>
#include <utility>

#include "platform/parallel_pass.h"
#include "platform/thread_starts.h"

namespace fw {

// The worker on the chain with the most bytes left bounds the pass: it
// only takes, unless every buffer waits to be given. Every other worker
// gives first, so the bytes that worker took reach their place on another
// core. A worker keeps its chain until a free one has clearly more left.
PieceStep choosePieceStep(const PieceView& v) {
    if (v.allFinished) return PieceStep::quit;
    const bool critical = v.holds && v.heldLeft >= v.largestFree && v.heldLeft >= v.largestOther;
    if (v.giveWaiting && !critical) return PieceStep::give;
    const bool keep = v.holds && v.largestFree <= v.heldLeft + pieceSwitchMargin;
    if ((keep || v.largestFree > 0) && v.bufferFree) return keep ? PieceStep::take : PieceStep::switchAndTake;
    if (v.giveWaiting) return PieceStep::give;
    return PieceStep::wait;
}

namespace {

constexpr std::size_t none = SIZE_MAX;
// Buffers per worker: one being taken, the rest waiting to be given.
constexpr std::size_t buffersPerWorker = 4;

class PieceRun {
public:
    explicit PieceRun(const PiecePass& p) : p_(p), tasks_(p.sizes.size()) {
        for (std::size_t i = 0; i < tasks_.size(); ++i) {
            tasks_[i].left = std::max<std::uint64_t>(p.sizes[i], 1);
            free_.push({tasks_[i].left, i});
        }
    }

    bool run(std::string* why) {
        const std::size_t wanted = threadsWanted(p_.maxThreads, tasks_.size());
        held_.assign(std::max<std::size_t>(wanted, 1), none);
        maxBuffers_ = buffersPerWorker * held_.size();
        // One buffer, and room to list every buffer, before any thread
        // takes memory for its stack: so the pass can always go on, however
        // few more buffers can be had, and needs no memory for itself.
        gives_.reserve(maxBuffers_);
        buffers_.reserve(maxBuffers_);
        buffers_.push_back(buffer());
        const std::function<void(std::size_t)> each = [this](std::size_t worker) { work(worker, false); };
        std::vector<std::thread> workers = startThreads(wanted, p_.threadsThatStart, each);
        if (workers.empty()) {
            held_.assign(1, none);
            work(0, true);
        } else {
            waitForWorkers();
            for (std::thread& t : workers) t.join();
        }
        std::unique_lock lock(mutex_);
        tick(lock);
        if (failed_) *why = outOfMemory;
        return !failed_;
    }

private:
    struct Task {
        std::uint64_t left = 0;    // bytes expected still to be taken, at least 1 until the chain ends
        bool ended = false;        // the last piece was taken
        std::size_t givesOut = 0;  // pieces taken and not yet given
    };
    struct Give {
        std::size_t task;
        PieceTaken piece;
        std::unique_ptr<std::uint8_t[]> buffer;
    };
    // Free tasks by bytes left, ties in task order.
    struct ByLeft {
        bool operator()(const std::pair<std::uint64_t, std::size_t>& a,
                        const std::pair<std::uint64_t, std::size_t>& b) const {
            return a.first != b.first ? a.first < b.first : a.second > b.second;
        }
    };

    PieceView view(std::size_t worker) const {
        PieceView v;
        const std::size_t mine = held_[worker];
        v.holds = mine != none;
        v.heldLeft = v.holds ? tasks_[mine].left : 0;
        v.largestFree = free_.empty() ? 0 : free_.top().first;
        for (std::size_t w = 0; w < held_.size(); ++w)
            if (w != worker && held_[w] != none) v.largestOther = std::max(v.largestOther, tasks_[held_[w]].left);
        v.giveWaiting = !gives_.empty();
        v.bufferFree = !buffers_.empty() || made_ < maxBuffers_;
        v.allFinished = finished_ == tasks_.size() || failed_;
        return v;
    }

    // Memory that runs out here, in a callback or for the pass's own
    // state, ends the pass for every worker rather than the process.
    void work(std::size_t worker, bool ticking) {
        std::unique_lock lock(mutex_);
        try {
            steps(worker, ticking, lock);
        } catch (const std::bad_alloc&) {
            if (!lock.owns_lock()) lock.lock();
            fail();
        }
    }

    void fail() {
        failed_ = true;
        changed_.notify_all();
    }

    void tick(std::unique_lock<std::mutex>& lock) {
        if (!p_.tick) return;
        lock.unlock();
        try {
            p_.tick();
        } catch (const std::bad_alloc&) {
            lock.lock();
            return fail();
        }
        lock.lock();
    }

    void steps(std::size_t worker, bool ticking, std::unique_lock<std::mutex>& lock) {
        auto lastTick = std::chrono::steady_clock::now();
        for (;;) {
            if (ticking && std::chrono::steady_clock::now() - lastTick > std::chrono::milliseconds(100)) {
                tick(lock);
                lastTick = std::chrono::steady_clock::now();
            }
            switch (choosePieceStep(view(worker))) {
                case PieceStep::quit: return;
                case PieceStep::wait:
                    ++waiting_;
                    changed_.wait(lock);
                    --waiting_;
                    break;
                case PieceStep::give: give(lock); break;
                case PieceStep::switchAndTake:
                    if (held_[worker] != none) free_.push({tasks_[held_[worker]].left, held_[worker]});
                    held_[worker] = free_.top().second;
                    free_.pop();
                    take(worker, lock);
                    break;
                case PieceStep::take: take(worker, lock); break;
            }
        }
    }

    // A buffer, or none when memory ran out for a further one: the pass
    // then makes do with those it has, which come back as they are given.
    std::unique_ptr<std::uint8_t[]> buffer() {
        if (!buffers_.empty()) {
            std::unique_ptr<std::uint8_t[]> b = std::move(buffers_.back());
            buffers_.pop_back();
            return b;
        }
        std::unique_ptr<std::uint8_t[]> b;
        try {
            if (made_ < p_.buffersThatFit) b = std::make_unique_for_overwrite<std::uint8_t[]>(p_.pieceSize);
        } catch (const std::bad_alloc&) {
        }
        if (b) {
            ++made_;
            return b;
        }
        if (made_ == 0) throw std::bad_alloc();
        maxBuffers_ = made_;
        return nullptr;
    }

    void take(std::size_t worker, std::unique_lock<std::mutex>& lock) {
        const std::size_t t = held_[worker];
        std::unique_ptr<std::uint8_t[]> b = buffer();
        if (!b) return;
        lock.unlock();
        const PieceTaken piece = p_.take(t, b.get());
        lock.lock();
        Task& task = tasks_[t];
        task.left = piece.last ? 0 : std::max<std::uint64_t>(task.left - std::min(task.left, piece.size), 1);
        if (piece.size > 0 && p_.give) {
            gives_.push_back({t, piece, std::move(b)});
            ++task.givesOut;
        } else {
            buffers_.push_back(std::move(b));
        }
        if (piece.last) {
            task.ended = true;
            held_[worker] = none;
            if (task.givesOut == 0) finish(t, lock);
        }
        wake();
    }

    void give(std::unique_lock<std::mutex>& lock) {
        Give g = std::move(gives_.front());
        gives_.erase(gives_.begin());
        lock.unlock();
        p_.give(g.task, g.piece, g.buffer.get());
        lock.lock();
        buffers_.push_back(std::move(g.buffer));
        Task& task = tasks_[g.task];
        if (--task.givesOut == 0 && task.ended) finish(g.task, lock);
        wake();
    }

    void finish(std::size_t t, std::unique_lock<std::mutex>& lock) {
        lock.unlock();
        if (p_.finish) p_.finish(t);
        lock.lock();
        ++finished_;
        finishedNow_ = true;
    }

    // Waking costs a switch of threads per piece: only those waiting are
    // woken, and the calling thread, for its ticks, only when a task ended.
    void wake() {
        if (waiting_ > 0 || finishedNow_) changed_.notify_all();
        finishedNow_ = false;
    }

    void waitForWorkers() {
        std::unique_lock lock(mutex_);
        for (std::size_t seen = 0; finished_ < tasks_.size() && !failed_;) {
            changed_.wait_for(lock, std::chrono::milliseconds(100),
                              [&] { return finished_ != seen || failed_; });
            seen = finished_;
            tick(lock);
        }
    }

    const PiecePass& p_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Task> tasks_;
    std::priority_queue<std::pair<std::uint64_t, std::size_t>, std::vector<std::pair<std::uint64_t, std::size_t>>,
                        ByLeft> free_;
    std::vector<std::size_t> held_;  // per worker: the task whose chain it holds, or none
    std::vector<Give> gives_;  // in the order taken; never more than the buffers
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers_;
    std::size_t made_ = 0, maxBuffers_ = 0;
    std::size_t finished_ = 0;
    std::size_t waiting_ = 0;     // workers in a wait
    bool finishedNow_ = false;    // a task ended since the last wake
    bool failed_ = false;         // memory ran out: nothing more is taken or given
};

}  // namespace

bool runPiecePass(const PiecePass& pass, std::string* why) {
    if (pass.sizes.empty()) return true;
    return runUnlessOutOfMemory(why, [&] { return PieceRun(pass).run(why); });
}

}  // namespace fw
