// The one way the tools spread work over the cores, in two forms. A
// ParallelPass runs tasks of known size, each done by one thread from start
// to end, the largest first. A PiecePass runs tasks that are chains of
// pieces: a chain's pieces are taken (read and digested) in order, one at
// a time, by whichever thread is free, and the pieces taken are handed on
// (written) by any thread in any order. So the thread on the chain with
// the most bytes left only takes, the others write for it, and no thread
// idles while another chain with more than a little left waits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fw {

// What a pass says when memory ran out in one of its threads.
inline constexpr const char* outOfMemory = "out of memory";

// The piece a pass that reads a file takes at a time: large enough that
// system calls cost little, small enough that a few per core stay cheap.
inline constexpr std::size_t readPieceSize = 512 << 10;

// The threads a pass over `bytes` bytes may start: below a mebibyte,
// starting them costs more than they save, so the calling thread does it all.
constexpr std::size_t threadsWorthStarting(std::uint64_t bytes, std::size_t most = 4) {
    return bytes < (1u << 20) ? 0 : most;
}

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

// True when every task is done. False, with `why`, when memory ran out in
// a task or a tick, on any thread (std::bad_alloc): the tasks not begun by
// then are not begun. No thread of the pass outlives it either way.
bool runParallelPass(const ParallelPass& pass, std::string* why);

struct PieceTaken {
    std::uint64_t at = 0;   // where the piece goes, for `give`
    std::size_t size = 0;   // bytes in the buffer; 0: nothing to hand on
    bool last = false;      // the task's chain ends with this piece
};

struct PiecePass {
    std::vector<std::uint64_t> sizes;  // the bytes each task is expected to take
    std::size_t pieceSize = 0;         // of each buffer
    // Takes the next piece of `task` into `buffer` (pieceSize bytes). One
    // task's pieces are taken in order and never two at once, but not
    // always on the same thread; a piece with `last` ends the task's chain.
    std::function<PieceTaken(std::size_t task, std::uint8_t* buffer)> take;
    // Hands a taken piece on; on any thread, in any order, beside later
    // takes of the same task. Empty: the pieces are only taken.
    std::function<void(std::size_t task, const PieceTaken& piece, const std::uint8_t* bytes)> give;
    // Once a task's chain has ended and each of its pieces was given.
    std::function<void(std::size_t task)> finish;
    std::function<void()> tick;        // as for ParallelPass
    std::size_t maxThreads = 4;
    std::size_t threadsThatStart = SIZE_MAX;
    // For tests: buffers after this many cannot be had, as when memory runs
    // out; the pass goes on with those it has.
    std::size_t buffersThatFit = SIZE_MAX;
};

// True when every task is finished; at most a few pieces per thread are in
// memory at once, and fewer where no more can be had. False, with `why`,
// when not one buffer can be had or memory ran out in a callback, on any
// thread: no task is taken further and `finish` is called no more.
bool runPiecePass(const PiecePass& pass, std::string* why);

// What a worker of a piece pass does next, from what it sees; pure, so the
// rule can be read and tested apart from the threads.
enum class PieceStep { take, switchAndTake, give, wait, quit };
struct PieceView {
    bool holds = false;             // the worker holds a task whose chain goes on
    std::uint64_t heldLeft = 0;     // bytes that task has left
    std::uint64_t largestFree = 0;  // most bytes left of a task nobody holds; 0: none
    std::uint64_t largestOther = 0; // most bytes left of a task another worker holds
    // allFinished: every task is, or the pass failed and none is taken further.
    bool giveWaiting = false, bufferFree = false, allFinished = false;
};
// A worker switches to a free task only when it has this many bytes more
// left, so that chains are not read in small turns.
constexpr std::uint64_t pieceSwitchMargin = 16u << 20;
PieceStep choosePieceStep(const PieceView& view);

}  // namespace fw
