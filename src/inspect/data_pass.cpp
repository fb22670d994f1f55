#include "inspect/data_pass.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#include "digest/md5.h"
#include "platform/progress.h"

namespace fw {
namespace {

constexpr std::size_t readPiece = 512 << 10;

// The part's digests: over the whole data, and over the input's own bytes
// behind a name or path field, when there is one.
struct PartDigests {
    Md5Context md5, contentMd5;
    std::unique_ptr<StreamDigest> extra, contentExtra;
    std::uint64_t skip = 0;

    PartDigests(const PartReport* part, const InspectionOptions& options) {
        md5Init(md5);
        md5Init(contentMd5);
        if (part == nullptr) return;
        skip = contentOffset(*part);
        if (options.partDigest) extra = options.partDigest();
        if (options.partDigest && skip > 0) contentExtra = options.partDigest();
    }
    void update(std::uint64_t at, const std::uint8_t* bytes, std::size_t n) {
        md5Update(md5, bytes, n);
        if (extra) extra->update(bytes, n);
        if (skip == 0 || at + n <= skip) return;
        const std::size_t from = at >= skip ? 0 : static_cast<std::size_t>(skip - at);
        md5Update(contentMd5, bytes + from, n - from);
        if (contentExtra) contentExtra->update(bytes + from, n - from);
    }
    void finish(PartReport& r) {
        md5Final(md5, r.actualDigest);
        if (extra) r.extraDigest = extra->finish();
        if (skip == 0) {
            r.contentDigest = r.actualDigest;
            r.contentExtraDigest = r.extraDigest;
            return;
        }
        md5Final(contentMd5, r.contentDigest);
        if (contentExtra) r.contentExtraDigest = contentExtra->finish();
    }
};

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
    : file_(file), options_(options), jobs_(std::move(jobs)) {
    std::stable_sort(jobs_.begin(), jobs_.end(),
                     [](const ReadJob& a, const ReadJob& b) { return a.end - a.begin > b.end - b.begin; });
}

std::vector<ReadJob>& DataPass::run(const std::string& path) {
    std::uint64_t total = 0;
    for (const ReadJob& j : jobs_) total += j.end - j.begin;
    const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 4u));
    // Below a mebibyte, starting threads costs more than they save.
    const std::size_t threads = total < (1u << 20) ? 1 : std::min<std::size_t>(cores, jobs_.size());
    ProgressLine progress("verify", path.c_str(), total);
    if (threads <= 1) {
        work();
        return jobs_;
    }
    std::vector<std::thread> workers;
    for (std::size_t t = 0; t < threads; ++t) workers.emplace_back([this] { work(); });
    std::uint64_t shown = 0;
    std::unique_lock lock(mutex_);
    while (!finished_.wait_for(lock, std::chrono::milliseconds(100), [&] { return done_ == threads; })) {
        const std::uint64_t now = bytesDone_.load();
        progress.advance(now - shown);
        shown = now;
    }
    lock.unlock();
    for (std::thread& t : workers) t.join();
    return jobs_;
}

void DataPass::work() {
    // Jobs are sorted largest first: the first one sizes the buffer, so
    // a small package costs a small buffer.
    const std::uint64_t largest = jobs_.empty() ? 0 : jobs_.front().end - jobs_.front().begin;
    const std::size_t size = static_cast<std::size_t>(std::clamp<std::uint64_t>(largest, 1, readPiece));
    auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(size);
    for (std::size_t k; (k = next_.fetch_add(1)) < jobs_.size();) readJob(jobs_[k], buffer.get(), size);
    std::lock_guard lock(mutex_);
    ++done_;
    finished_.notify_all();
}

bool DataPass::stopNow() {
    if (!stopped_.load() && options_.stopRequested && options_.stopRequested()) stopped_.store(true);
    return stopped_.load();
}

void DataPass::readJob(ReadJob& job, std::uint8_t* buffer, std::size_t piece) {
    PartDigests digests(job.part, options_);
    for (std::uint64_t at = job.begin; at < job.end && !job.failed;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(job.end - at, piece));
        if (stopNow() || !file_.readAt(at, buffer, n)) {
            job.failed = true;
            break;
        }
        if (job.part == nullptr) {
            options_.wholeFile(buffer, n);
        } else {
            digests.update(at - job.begin, buffer, n);
            if (options_.partData != nullptr) options_.partData->data(*job.part, at - job.begin, buffer, n);
        }
        at += n;
        bytesDone_.fetch_add(n, std::memory_order_relaxed);
    }
    if (job.part == nullptr) return;
    PartReport& r = *job.part;
    r.digested = !job.failed;
    if (r.digested) digests.finish(r);
    r.digestOk = r.digested && r.actualDigest == r.header.digest;
    if (options_.partData != nullptr) options_.partData->end(r, r.digestOk);
}

}  // namespace fw
