#include "inspect/data_pass.h"

#include <algorithm>
#include <memory>

#include "inspect/part_digests.h"
#include "platform/parallel_pass.h"
#include "platform/progress.h"

namespace fw {
namespace {

constexpr std::size_t readPiece = 512 << 10;

}  // namespace

std::vector<ReadJob> readJobsFor(std::vector<PartReport>& parts, const InspectionOptions& options,
                                 std::uint64_t fileSize) {
    std::vector<ReadJob> jobs;
    for (PartReport& r : parts)
        if (r.dataInside && !r.overlaps) {
            const std::uint64_t begin = r.offset + partHeaderSize;
            jobs.push_back({begin, begin + r.header.dataLength, &r});
        }
    if (options.wholeFile) jobs.push_back({0, fileSize, nullptr});
    return jobs;
}

DataPass::DataPass(const RandomAccessFile& file, const InspectionOptions& options, std::vector<ReadJob> jobs)
    : file_(file), options_(options), jobs_(std::move(jobs)) {}

std::vector<ReadJob>& DataPass::run(const std::string& path) {
    std::uint64_t total = 0, largest = 0;
    ParallelPass pass;
    for (const ReadJob& j : jobs_) {
        pass.sizes.push_back(j.end - j.begin);
        total += j.end - j.begin;
        largest = std::max(largest, j.end - j.begin);
    }
    // Below a mebibyte, starting threads costs more than they save. The
    // largest stretch sizes each buffer, so a small package costs a small one.
    if (total < (1u << 20)) pass.maxThreads = 0;
    const std::size_t piece = static_cast<std::size_t>(std::clamp<std::uint64_t>(largest, 1, readPiece));
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers(std::max<std::size_t>(pass.maxThreads, 1));
    ProgressLine progress("verify", path.c_str(), total);
    std::uint64_t shown = 0;
    pass.work = [&](std::size_t job, std::size_t worker) {
        if (!buffers[worker]) buffers[worker] = std::make_unique_for_overwrite<std::uint8_t[]>(piece);
        readJob(jobs_[job], buffers[worker].get(), piece);
    };
    pass.tick = [&] {
        const std::uint64_t now = bytesDone_.load();
        progress.advance(now - shown);
        shown = now;
    };
    runParallelPass(pass);
    return jobs_;
}

bool DataPass::stopNow() {
    if (!stopped_.load() && options_.stopRequested && options_.stopRequested()) stopped_.store(true);
    return stopped_.load();
}

void DataPass::readJob(ReadJob& job, std::uint8_t* buffer, std::size_t piece) {
    PartDigests digests(*job.part, options_);
    for (std::uint64_t at = job.begin; at < job.end && !job.failed;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(job.end - at, piece));
        if (stopNow() || !file_.readAt(at, buffer, n)) {
            job.failed = true;
            break;
        }
        digests.update(at - job.begin, buffer, n);
        if (options_.partData != nullptr) options_.partData->data(*job.part, at - job.begin, buffer, n);
        at += n;
        bytesDone_.fetch_add(n, std::memory_order_relaxed);
    }
    PartReport& r = *job.part;
    r.digested = !job.failed;
    if (r.digested) digests.finish(r);
    r.digestOk = r.digested && r.actualDigest == r.header.digest;
    if (options_.partData != nullptr) options_.partData->end(r, r.digestOk);
}

}  // namespace fw
