// Copies one part into the package: its input read once, digested over
// exactly the bytes the part carries (name field or target path included),
// each piece written from the very buffer it was digested in, and its
// header written last, with that digest.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "digest/md5.h"
#include "package/part_plan.h"
#include "platform/output_target.h"
#include "platform/parallel_pass.h"
#include "platform/files.h"

namespace fw {

enum class PartStatus { ok, openFailed, readFailed, writeFailed, tooLarge, cancelled };

struct PartResult {
    PartStatus status = PartStatus::ok;
    std::uint64_t inputBytes = 0;  // bytes of the input copied, for the count lines
    std::uint32_t dataLength = 0;  // as written in the header
};

// For tests: lets a test act on an input at a precise moment of its copy,
// lower the format's size limit so an endless input meets it soon, shorten
// the wait for a silent device, refuse thread starts or buffers after the
// first few, or hand the output calls that strike its final steps.
struct WriterHooks {
    std::function<void(const char* path)> afterFirstPiece;
    std::uint64_t packageLimit = largestPackage;
    std::chrono::milliseconds streamIdleLimit{10'000};
    std::size_t threadsThatStart = SIZE_MAX;
    std::size_t buffersThatFit = SIZE_MAX;
    const OsCalls* output = nullptr;  // null: the system's
};

inline std::uint64_t packageLimitOf(const WriterHooks* hooks) {
    return hooks != nullptr ? hooks->packageLimit : largestPackage;
}

struct CopyContext {
    OutputTarget& output;
    std::atomic<std::uint64_t>& bytesDone;  // for the progress line
    const WriterHooks* hooks = nullptr;
    // False once an earlier part has failed: this one is no longer wanted.
    std::function<bool()> stillWanted;
};

// Large enough that system calls cost little, small enough that writing a
// fresh page cache stays cheap on virtual machines.
constexpr std::size_t copyPieceSize = 128 << 10;

// One part's copy in pieces, for a pass that reads and digests on one
// thread and writes on another. `lastPart` parts write no gap behind their
// data; every other part fills its gap with zero bytes, so a package
// written in place over older bytes reads as zeros there.
class PartCopy {
public:
    PartCopy(CopyContext& context, const PlannedPart& part, std::uint64_t offset, bool lastPart);
    // Reads and digests the next piece into `piece` (copyPieceSize bytes).
    // The first call opens the input; the last, at its end, confirms it and
    // writes the header.
    PieceTaken next(std::uint8_t* piece);
    // Writes a piece `next` took; from any thread, beside later `next`s.
    void write(const PieceTaken& piece, const std::uint8_t* bytes);
    // Once the last piece was taken and every piece written.
    PartResult result() const;

private:
    bool open();
    PieceTaken end(PartStatus status);
    PartStatus finishInput();

    CopyContext& c_;
    const PlannedPart& part_;
    const std::uint64_t offset_;
    const bool lastPart_;
    InputFile input_;
    FileIdentity before_;
    Md5Context md5_;
    bool opened_ = false;
    PartResult result_;
    std::atomic<bool> writeFailed_{false};
};

// Writes `part` with its header at `offset`, on the calling thread.
PartResult copyPart(CopyContext& context, const PlannedPart& part, std::uint64_t offset, bool lastPart);

}  // namespace fw
