#include "inspect/reader/whole_file_pass.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <thread>

#include "platform/parallel_pass.h"
#include "platform/progress.h"

namespace fw {
namespace {

// Pieces in memory per following core: enough that the reader rarely waits.
constexpr std::size_t slotsPerLane = 3;

}  // namespace

struct WholeFilePass::Slot {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint64_t at = 0;
    std::size_t size = 0;
};

// The parts one core digests, in file order. Whoever holds `busy` moves
// the lane on: its own thread, or the reader when every slot waits on it.
struct WholeFilePass::Lane {
    std::mutex busy;
    std::vector<ReadJob*> jobs;
    std::size_t current = 0;
    std::unique_ptr<PartDigests> digests;
    std::atomic<std::uint64_t> next{0};  // the first piece not yet taken in
    std::uint64_t weight = 0;
    bool ended = false;
};

WholeFilePass::WholeFilePass(const RandomAccessFile& file, const InspectionOptions& options,
                             std::vector<ReadJob>& jobs, const std::vector<StructureBytes>& structure)
    : file_(file), options_(options), jobs_(jobs), structure_(structure) {
    std::vector<ReadJob*> parts;
    for (ReadJob& j : jobs_)
        if (j.part != nullptr) parts.push_back(&j);
    inFileOrder_ = parts;
    std::sort(inFileOrder_.begin(), inFileOrder_.end(),
              [](const ReadJob* a, const ReadJob* b) { return a->begin < b->begin; });
    const std::size_t cores = std::max(2u, std::thread::hardware_concurrency());
    const std::size_t lanes = std::min<std::size_t>({parts.size(), cores - 1, 3});
    for (std::size_t i = 0; i < lanes; ++i) lanes_.push_back(std::make_unique<Lane>());
    // The largest part first into the lightest lane keeps the lanes even.
    std::stable_sort(parts.begin(), parts.end(),
                     [](const ReadJob* a, const ReadJob* b) { return a->end - a->begin > b->end - b->begin; });
    for (ReadJob* j : parts) {
        Lane& lightest = **std::min_element(lanes_.begin(), lanes_.end(),
                                            [](const auto& a, const auto& b) { return a->weight < b->weight; });
        lightest.jobs.push_back(j);
        lightest.weight += j->end - j->begin;
    }
    for (auto& lane : lanes_)
        std::sort(lane->jobs.begin(), lane->jobs.end(),
                  [](const ReadJob* a, const ReadJob* b) { return a->begin < b->begin; });
    slots_.resize(std::max<std::size_t>(1, slotsPerLane * lanes_.size()));
}

WholeFilePass::~WholeFilePass() = default;

// Every slot's buffer before the pass starts: where memory runs out for
// some, the reader makes do with fewer.
bool WholeFilePass::makeSlots() {
    const std::uint64_t pieces = (file_.size() + readPieceSize - 1) / readPieceSize;
    const auto wanted = static_cast<std::size_t>(std::clamp<std::uint64_t>(pieces, 1, slots_.size()));
    std::size_t made = 0;
    try {
        for (; made < wanted && made < options_.test.piecesThatFit; ++made)
            slots_[made].bytes = std::make_unique_for_overwrite<std::uint8_t[]>(readPieceSize);
    } catch (const std::bad_alloc&) {
    }
    if (made == 0) return false;
    slots_.resize(made);
    return true;
}

bool WholeFilePass::run(const std::string& path, std::string* why) {
    if (!makeSlots()) {
        *why = outOfMemory;
        return false;
    }
    ParallelPass pass;
    pass.sizes.push_back(file_.size());
    for (const auto& lane : lanes_) pass.sizes.push_back(lane->weight);
    pass.maxThreads = threadsWorthStarting(file_.size(), std::min(pass.maxThreads, lanes_.size() + 1));
    ProgressLine progress(options_.action.c_str(), path.c_str(), file_.size());
    // Task 0, the largest, is the reader; it starts first, and where no
    // thread is left for a lane it moves that lane on itself.
    pass.work = [this](std::size_t task, std::size_t) {
        try {
            if (task == 0) read();
            else follow(*lanes_[task - 1]);
        } catch (const std::bad_alloc&) {
            failed_.store(true);
            moved_.notify_all();
            throw;
        }
    };
    pass.tick = [&] { progress.advanceTo(bytesDone_.load()); };
    return runParallelPass(pass, why);
}

void WholeFilePass::read() {
    ReadJob& whole = jobs_.back();
    std::uint64_t piece = 0;
    for (std::uint64_t at = 0; at < file_.size(); ++piece) {
        if (options_.stopRequested && options_.stopRequested()) {
            stopped_ = true;
            whole.failed = true;
            break;
        }
        waitForSlot(piece);
        if (failed_.load()) return;
        Slot& s = slots_[piece % slots_.size()];
        s.at = at;
        s.size = static_cast<std::size_t>(std::min<std::uint64_t>(readPieceSize, file_.size() - at));
        if (!file_.readAt(at, s.bytes.get(), s.size)) {
            whole.failed = true;
            break;
        }
        if (options_.test.tamperRead) options_.test.tamperRead(at, s.bytes.get(), s.size);
        compareStructure(s);
        options_.packageBytes(s.bytes.get(), s.size);
        handOut(s);
        at += s.size;
        bytesDone_.fetch_add(s.size, std::memory_order_relaxed);
        published_.store(piece + 1);
        moved_.notify_all();
    }
    if (options_.packageBytesEnd) options_.packageBytesEnd(!whole.failed);
    readerDone_.store(true);
    moved_.notify_all();
    // Lanes no thread came for are ended here.
    for (auto& lane : lanes_) {
        std::lock_guard hold(lane->busy);
        drain(*lane);
    }
}

std::uint64_t WholeFilePass::slowestLane() const {
    std::uint64_t slowest = UINT64_MAX;
    for (const auto& lane : lanes_) slowest = std::min(slowest, lane->next.load());
    return slowest;
}

// A slot is free once every lane has taken in the piece it last held.
void WholeFilePass::waitForSlot(std::uint64_t piece) {
    const std::uint64_t count = slots_.size();
    while (piece >= count && slowestLane() <= piece - count && !failed_.load()) {
        bool helped = false;
        for (auto& lane : lanes_) {
            if (lane->next.load() > piece - count) continue;
            const std::unique_lock hold(lane->busy, std::try_to_lock);
            if (!hold.owns_lock()) continue;
            drain(*lane);
            helped = true;
        }
        if (helped) continue;
        std::unique_lock lock(mutex_);
        moved_.wait_for(lock, std::chrono::milliseconds(1),
                        [&] { return slowestLane() > piece - count || failed_.load(); });
    }
}

void WholeFilePass::follow(Lane& lane) {
    for (;;) {
        {
            std::lock_guard hold(lane.busy);
            drain(lane);
            if (lane.ended || failed_.load()) return;
        }
        std::unique_lock lock(mutex_);
        moved_.wait_for(lock, std::chrono::milliseconds(50), [&] {
            return lane.next.load() < published_.load() || readerDone_.load() || failed_.load();
        });
    }
}

// Takes in every piece read so far; once the reader is done, ends the
// parts it never reached as unread. Called with `busy` held.
void WholeFilePass::drain(Lane& lane) {
    while (lane.next.load() < published_.load()) {
        take(lane, slots_[lane.next.load() % slots_.size()]);
        lane.next.fetch_add(1);
        moved_.notify_all();
    }
    if (lane.ended || !readerDone_.load() || lane.next.load() < published_.load()) return;
    const bool wholeRead = !jobs_.back().failed;
    for (; lane.current < lane.jobs.size(); ++lane.current) {
        ReadJob& j = *lane.jobs[lane.current];
        const bool empty = j.begin == j.end && wholeRead;
        if (empty && !lane.digests) lane.digests = std::make_unique<PartDigests>(*j.part, options_);
        end(lane, j, empty);
    }
    lane.ended = true;
}

void WholeFilePass::take(Lane& lane, const Slot& s) {
    const std::uint64_t pieceEnd = s.at + s.size;
    for (; lane.current < lane.jobs.size(); ++lane.current) {
        ReadJob& j = *lane.jobs[lane.current];
        if (j.begin > pieceEnd || (j.begin == pieceEnd && j.end > j.begin)) return;
        if (!lane.digests) lane.digests = std::make_unique<PartDigests>(*j.part, options_);
        const std::uint64_t from = std::max(j.begin, s.at), to = std::min(j.end, pieceEnd);
        if (to > from) {
            const std::uint8_t* bytes = s.bytes.get() + (from - s.at);
            const auto count = static_cast<std::size_t>(to - from);
            lane.digests->update(from - j.begin, bytes, count);
        }
        if (j.end > pieceEnd) return;
        end(lane, j, true);
    }
}

void WholeFilePass::end(Lane& lane, ReadJob& job, bool ok) {
    job.failed = !ok;
    endPart(*job.part, lane.digests, ok, options_);
}

// The parts' bytes go out from the reader, in file order and so in order
// for each part, before the piece is published: writing them out overlaps
// the digests on the other cores, and a part has had all its bytes by the
// time its lane ends it.
void WholeFilePass::handOut(const Slot& s) {
    if (options_.partData == nullptr) return;
    const std::uint64_t pieceEnd = s.at + s.size;
    for (; nextOut_ < inFileOrder_.size(); ++nextOut_) {
        const ReadJob& j = *inFileOrder_[nextOut_];
        const std::uint64_t from = std::max(j.begin, s.at), to = std::min(j.end, pieceEnd);
        if (to > from)
            options_.partData->data(*j.part, from - j.begin, s.bytes.get() + (from - s.at),
                                    static_cast<std::size_t>(to - from));
        if (j.end > pieceEnd) return;
    }
}

void WholeFilePass::compareStructure(const Slot& s) {
    for (const StructureBytes& b : structure_) {
        const std::uint64_t from = std::max(b.offset, s.at);
        const std::uint64_t to = std::min(b.offset + b.bytes.size(), s.at + s.size);
        if (from >= to) continue;
        const std::uint8_t* first = b.bytes.data() + (from - b.offset);
        const std::uint8_t* again = s.bytes.get() + (from - s.at);
        for (std::uint64_t k = 0; k < to - from; ++k) {
            if (first[k] == again[k]) continue;
            if (!changedAt_ || from + k < *changedAt_) changedAt_ = from + k;
            break;
        }
    }
}

}  // namespace fw
