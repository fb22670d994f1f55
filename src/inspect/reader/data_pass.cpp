#include "inspect/reader/data_pass.h"

#include <algorithm>
#include <memory>

#include "inspect/reader/part_digests.h"
#include "platform/parallel_pass.h"
#include "platform/progress.h"

namespace fw {
std::vector<ReadJob> readJobsFor(std::vector<PartReport>& parts, const InspectionOptions& options,
                                 std::uint64_t fileSize) {
    std::vector<ReadJob> jobs;
    for (PartReport& r : parts)
        if (r.dataInside && !r.overlaps) {
            const std::uint64_t begin = r.offset + partHeaderSize;
            jobs.push_back({begin, begin + r.header.dataLength, &r});
        }
    if (options.packageBytes) jobs.push_back({0, fileSize, nullptr});
    return jobs;
}

DataPass::DataPass(const RandomAccessFile& file, const InspectionOptions& options, std::vector<ReadJob> jobs)
    : file_(file), options_(options), jobs_(std::move(jobs)) {}

// Each stretch is a chain of pieces: read and digested in order, then
// handed to the extraction (when there is one) on whichever core is free.
bool DataPass::run(const std::string& path, std::string* why) {
    std::uint64_t total = 0, largest = 0;
    PiecePass pass;
    for (const ReadJob& j : jobs_) {
        pass.sizes.push_back(j.end - j.begin);
        total += j.end - j.begin;
        largest = std::max(largest, j.end - j.begin);
    }
    // The largest stretch sizes each buffer, so a small package costs a small one.
    pass.maxThreads = threadsWorthStarting(total);
    pass.pieceSize = static_cast<std::size_t>(std::clamp<std::uint64_t>(largest, 1, readPieceSize));
    pass.buffersThatFit = options_.test.piecesThatFit;
    // Only the stretches being read have digests in memory.
    std::vector<std::unique_ptr<PartDigests>> digests(jobs_.size());
    std::vector<std::uint64_t> next(jobs_.size());
    for (std::size_t i = 0; i < jobs_.size(); ++i) next[i] = jobs_[i].begin;
    ProgressLine progress(options_.action.c_str(), path.c_str(), total);
    pass.take = [&](std::size_t i, std::uint8_t* buffer) {
        ReadJob& job = jobs_[i];
        if (!digests[i]) digests[i] = std::make_unique<PartDigests>(*job.part, options_);
        PieceTaken piece;
        piece.at = next[i] - job.begin;
        piece.size = static_cast<std::size_t>(std::min<std::uint64_t>(job.end - next[i], pass.pieceSize));
        if (piece.size > 0 && (stopNow() || !file_.readAt(next[i], buffer, piece.size))) {
            job.failed = true;
            piece.size = 0;
        }
        if (piece.size > 0) digests[i]->update(piece.at, buffer, piece.size);
        next[i] += piece.size;
        bytesDone_.fetch_add(piece.size, std::memory_order_relaxed);
        piece.last = job.failed || next[i] == job.end;
        return piece;
    };
    if (options_.partData != nullptr)
        pass.give = [&](std::size_t i, const PieceTaken& piece, const std::uint8_t* bytes) {
            options_.partData->data(*jobs_[i].part, piece.at, bytes, piece.size);
        };
    pass.finish = [&](std::size_t i) {
        endPart(*jobs_[i].part, digests[i], !jobs_[i].failed, options_);
    };
    pass.tick = [&] { progress.advanceTo(bytesDone_.load()); };
    return runPiecePass(pass, why);
}

bool DataPass::stopNow() {
    if (!stopped_.load() && options_.stopRequested && options_.stopRequested()) stopped_.store(true);
    return stopped_.load();
}

}  // namespace fw
