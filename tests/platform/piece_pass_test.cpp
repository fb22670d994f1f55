// The piece pass: each chain's pieces taken in order and one at a time,
// every piece handed on once with the bytes it was taken with, a task
// finished only after its last piece is given, few buffers in memory, and
// the rule that keeps the core on the longest chain free of writing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/parallel_pass.h"

namespace {

bool passes(const fw::PiecePass& pass) {
    std::string why;
    return fw::runPiecePass(pass, &why);
}

using fw::PieceStep;
using fw::PieceView;

constexpr std::uint64_t MiB = 1u << 20;

PieceView seen(bool holds, std::uint64_t heldLeft, std::uint64_t largestFree, std::uint64_t largestOther,
               bool giveWaiting, bool bufferFree = true) {
    PieceView v;
    v.holds = holds;
    v.heldLeft = heldLeft;
    v.largestFree = largestFree;
    v.largestOther = largestOther;
    v.giveWaiting = giveWaiting;
    v.bufferFree = bufferFree;
    return v;
}

TEST(PieceStep, TheLongestChainTakesAndTheOthersWrite) {
    struct Case {
        const char* what;
        PieceView view;
        PieceStep step;
    };
    const Case cases[] = {
        {"longest chain, a give waiting: it keeps taking", seen(true, 700 * MiB, 64 * MiB, 200 * MiB, true),
         PieceStep::take},
        {"shorter chain, a give waiting: it writes first", seen(true, 200 * MiB, 64 * MiB, 700 * MiB, true),
         PieceStep::give},
        {"longest chain, every buffer waiting to be given: it writes", seen(true, 700 * MiB, 0, 0, true, false),
         PieceStep::give},
        {"no chain held, a free one: takes it", seen(false, 0, 32 * MiB, 700 * MiB, false),
         PieceStep::switchAndTake},
        {"a free chain far longer: switches", seen(true, 10 * MiB, 64 * MiB, 0, false), PieceStep::switchAndTake},
        {"a free chain only a little longer: keeps its own", seen(true, 60 * MiB, 64 * MiB, 0, false),
         PieceStep::take},
        {"nothing to take, a give waiting: writes", seen(false, 0, 0, 700 * MiB, true), PieceStep::give},
        {"nothing to take or give: waits", seen(false, 0, 0, 700 * MiB, false), PieceStep::wait},
        {"a chain to take but no buffer and no give: waits", seen(true, 5 * MiB, 0, 0, false, false),
         PieceStep::wait},
    };
    for (const Case& c : cases) EXPECT_EQ(choosePieceStep(c.view), c.step) << c.what;
    PieceView done = seen(true, 700 * MiB, 64 * MiB, 0, true);
    done.allFinished = true;
    EXPECT_EQ(choosePieceStep(done), PieceStep::quit);
}

// A recorder of everything the pass asks for, checking each rule as it goes.
struct Recorder {
    std::vector<std::uint64_t> sizes;
    std::size_t pieceSize;
    std::uint64_t endEarly = UINT64_MAX;  // task 0 ends its chain at this offset
    std::vector<std::uint64_t> next;
    std::vector<std::unique_ptr<std::atomic<bool>>> taking;
    std::vector<std::unique_ptr<std::atomic<std::size_t>>> taken, given;
    std::vector<int> finished;
    std::atomic<std::size_t> inFlight{0}, mostInFlight{0};
    std::atomic<bool> broken{false};
    std::mutex m;

    Recorder(std::vector<std::uint64_t> s, std::size_t piece) : sizes(std::move(s)), pieceSize(piece) {
        next.assign(sizes.size(), 0);
        finished.assign(sizes.size(), 0);
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            taking.push_back(std::make_unique<std::atomic<bool>>(false));
            taken.push_back(std::make_unique<std::atomic<std::size_t>>(0));
            given.push_back(std::make_unique<std::atomic<std::size_t>>(0));
        }
    }
    static std::uint8_t mark(std::size_t task, std::uint64_t at) { return static_cast<std::uint8_t>(task * 31 + at / 7); }

    fw::PiecePass pass() {
        fw::PiecePass p;
        p.sizes = sizes;
        p.pieceSize = pieceSize;
        p.take = [this](std::size_t t, std::uint8_t* buffer) {
            if (taking[t]->exchange(true) || finished[t] != 0) broken = true;
            fw::PieceTaken piece;
            piece.at = next[t];
            const std::uint64_t end = t == 0 ? std::min(sizes[t], endEarly) : sizes[t];
            piece.size = static_cast<std::size_t>(std::min<std::uint64_t>(end - next[t], pieceSize));
            std::memset(buffer, mark(t, piece.at), piece.size);
            next[t] += piece.size;
            piece.last = next[t] == end;
            if (piece.size > 0) {
                ++*taken[t];
                const std::size_t now = ++inFlight;
                for (std::size_t most = mostInFlight; now > most && !mostInFlight.compare_exchange_weak(most, now);) {}
            }
            std::this_thread::yield();
            taking[t]->store(false);
            return piece;
        };
        p.give = [this](std::size_t t, const fw::PieceTaken& piece, const std::uint8_t* bytes) {
            for (std::size_t k = 0; k < piece.size; ++k)
                if (bytes[k] != mark(t, piece.at)) broken = true;
            ++*given[t];
            --inFlight;
        };
        p.finish = [this](std::size_t t) {
            std::lock_guard lock(m);
            if (*given[t] != *taken[t]) broken = true;
            ++finished[t];
        };
        return p;
    }
};

TEST(PiecePass, EveryPieceIsTakenInOrderOnceAndGivenBeforeItsTaskFinishes) {
    for (std::size_t threads : {SIZE_MAX, std::size_t{1}, std::size_t{0}}) {
        Recorder r({900'000, 0, 40'000, 123'457, 64 * 1024, 1}, 4096);
        fw::PiecePass p = r.pass();
        p.threadsThatStart = threads;
        EXPECT_TRUE(passes(p));
        EXPECT_FALSE(r.broken) << threads;
        for (std::size_t t = 0; t < r.sizes.size(); ++t) {
            EXPECT_EQ(r.finished[t], 1) << t;
            EXPECT_EQ(r.next[t], r.sizes[t]) << t;
        }
        // A few buffers per thread, however many pieces there are.
        EXPECT_LE(r.mostInFlight.load(), 16u) << threads;
    }
}

TEST(PiecePass, ChainEndingEarlyFinishesAndTheOthersGoOn) {
    Recorder r({1'000'000, 300'000, 300'000}, 8192);
    r.endEarly = 81920;
    EXPECT_TRUE(passes(r.pass()));
    EXPECT_FALSE(r.broken);
    EXPECT_EQ(r.next[0], 81920u);
    EXPECT_EQ(r.next[1], 300'000u);
    EXPECT_EQ(r.next[2], 300'000u);
    EXPECT_EQ(r.finished, (std::vector<int>{1, 1, 1}));
}

TEST(PiecePass, PiecesOnlyTakenNeedNoGive) {
    Recorder r({500'000, 70'000}, 4096);
    fw::PiecePass p = r.pass();
    p.give = nullptr;
    std::vector<int> finished(2);
    p.finish = [&](std::size_t t) { ++finished[t]; };
    EXPECT_TRUE(passes(p));
    EXPECT_FALSE(r.broken);
    EXPECT_EQ(finished, (std::vector<int>{1, 1}));
}

// Memory that runs out: a pass goes on with the buffers it could get, on
// any number of threads, and gives the same pieces.
TEST(PiecePass, GoesOnWithTheBuffersThatFit) {
    for (std::size_t threads : {SIZE_MAX, std::size_t{0}}) {
        for (std::size_t fit : {1u, 2u}) {
            Recorder r({900'000, 40'000, 123'457}, 4096);
            fw::PiecePass p = r.pass();
            p.threadsThatStart = threads;
            p.buffersThatFit = fit;
            EXPECT_TRUE(passes(p));
            EXPECT_FALSE(r.broken);
            EXPECT_EQ(r.finished, (std::vector<int>{1, 1, 1}));
            EXPECT_EQ(r.next, r.sizes);
            EXPECT_LE(r.mostInFlight.load(), fit);
        }
    }
}

// ...and where it cannot go on (no buffer at all, or a callback out of
// memory on whichever thread), it ends and says so, without ending the
// process or leaving a thread behind.
TEST(PiecePass, MemoryRunningOutInAnyThreadEndsThePassWithAReason) {
    struct Case {
        const char* what;
        std::size_t fit;
        int throwIn;  // 0: take, 1: give, 2: finish, -1: none
    };
    const Case cases[] = {{"no buffer at all", 0, -1}, {"a take", SIZE_MAX, 0}, {"a give", SIZE_MAX, 1},
                          {"a finish", SIZE_MAX, 2}};
    for (std::size_t threads : {SIZE_MAX, std::size_t{0}}) {
        for (const Case& c : cases) {
            Recorder r({900'000, 40'000, 123'457}, 4096);
            fw::PiecePass p = r.pass();
            p.threadsThatStart = threads;
            p.buffersThatFit = c.fit;
            std::atomic<int> calls{0};
            auto fails = [&](int in) {
                if (in == c.throwIn && ++calls == 3) throw std::bad_alloc();
            };
            p.take = [&, take = p.take](std::size_t t, std::uint8_t* b) {
                fails(0);
                return take(t, b);
            };
            p.give = [&, give = p.give](std::size_t t, const fw::PieceTaken& piece, const std::uint8_t* b) {
                fails(1);
                give(t, piece, b);
            };
            p.finish = [&, finish = p.finish](std::size_t t) {
                fails(2);
                finish(t);
            };
            std::string why;
            EXPECT_FALSE(fw::runPiecePass(p, &why)) << c.what;
            EXPECT_EQ(why, "out of memory") << c.what;
            EXPECT_FALSE(r.broken) << c.what;
        }
    }
}

TEST(ParallelPass, MemoryRunningOutInATaskBeginsNoFurtherTask) {
    for (std::size_t threads : {SIZE_MAX, std::size_t{0}}) {
        fw::ParallelPass p;
        p.sizes = {9, 8, 7, 6, 5, 4, 3, 2, 1};
        p.threadsThatStart = threads;
        std::atomic<int> begun{0};
        p.work = [&](std::size_t task, std::size_t) {
            ++begun;
            if (task == 0) throw std::bad_alloc();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        };
        std::string why;
        EXPECT_FALSE(fw::runParallelPass(p, &why));
        EXPECT_EQ(why, "out of memory");
        // One thread stops at once; two may each have begun one more.
        EXPECT_LE(begun.load(), threads == 0 ? 1 : 3);
    }
}

}  // namespace
