#include "package/part_runner.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "package/writer_messages.h"
#include "platform/parallel_pass.h"
#include "platform/progress.h"

namespace fw {
namespace {

// Copies the parts and reports each in writing order, whatever order they
// are copied in. Returns how many parts were written whole.
class PartRunner {
public:
    PartRunner(const PackageJob& job, PackagePlan& plan, OutputTarget& target, const char* output, std::FILE* out,
               const WriterHooks* hooks)
        : job_(job), plan_(plan), target_(target), output_(output), out_(out), hooks_(hooks),
          results_(plan.parts.size()), done_(plan.parts.size(), false), firstFailure_(plan.unplaced) {
        if (plan.unplaced < plan.parts.size()) {
            results_[plan.unplaced].status = statusOfUnplaced(plan.parts[plan.unplaced]);
            done_[plan.unplaced] = true;
        }
    }

    bool run() {
        if (plan_.offsetsKnown && plan_.unplaced > 1) return runSideBySide();
        return runInTurn();
    }
    // Why the copy failed when no part's message says it.
    const std::string& why() const { return why_; }

private:
    CopyContext contextFor(std::size_t i) {
        CopyContext c{target_, bytesDone_, hooks_, {}};
        c.stillWanted = [this, i] { return i <= firstFailure_.load(std::memory_order_relaxed); };
        return c;
    }

    bool report(std::size_t i) {
        printOutcome(job_, plan_.parts[i], results_[i], output_, out_);
        return results_[i].status == PartStatus::ok;
    }

    // The input that could not be examined at registration is not opened
    // now: whatever it holds by now, it has no place in the package.
    static PartStatus statusOfUnplaced(const PlannedPart& p) {
        return p.inputLength == unopenableLength ? PartStatus::openFailed : PartStatus::readFailed;
    }

    // Offsets come from the registered lengths, so every placed part can be
    // copied at once, its pieces read and digested on one core and written
    // on whichever is free; the parts are still reported in writing order,
    // each as soon as it and every part before it are done.
    bool runSideBySide() {
        ProgressLine progress("pack", output_, plan_.size);
        std::vector<CopyContext> contexts;
        for (std::size_t i = 0; i < plan_.unplaced; ++i) contexts.push_back(contextFor(i));
        std::vector<std::unique_ptr<PartCopy>> copies(plan_.unplaced);
        PiecePass pass;
        pass.pieceSize = copyPieceSize;
        for (std::size_t i = 0; i < plan_.unplaced; ++i)
            pass.sizes.push_back(static_cast<std::uint64_t>(plan_.parts[i].inputLength));
        pass.take = [&](std::size_t i, std::uint8_t* buffer) {
            if (!copies[i])
                copies[i] = std::make_unique<PartCopy>(contexts[i], plan_.parts[i], plan_.parts[i].offset,
                                                       i + 1 == plan_.parts.size());
            return copies[i]->next(buffer);
        };
        pass.give = [&](std::size_t i, const PieceTaken& piece, const std::uint8_t* bytes) {
            copies[i]->write(piece, bytes);
        };
        pass.finish = [&](std::size_t i) {
            const PartResult r = copies[i]->result();
            copies[i].reset();
            if (r.status != PartStatus::ok && r.status != PartStatus::cancelled) lowerFirstFailure(i);
            std::lock_guard lock(mutex_);
            results_[i] = r;
            done_[i] = true;
        };
        pass.tick = [&] {
            progress.advanceTo(bytesDone_.load());
            reportFinished();
        };
        if (hooks_ != nullptr) pass.threadsThatStart = hooks_->threadsThatStart;
        if (hooks_ != nullptr) pass.buffersThatFit = hooks_->buffersThatFit;
        return runPiecePass(pass, &why_) && reported_ == plan_.parts.size();
    }

    void lowerFirstFailure(std::size_t i) {
        std::size_t seen = firstFailure_.load();
        while (i < seen && !firstFailure_.compare_exchange_weak(seen, i)) {}
    }

    // Reports the parts done so far in writing order, up to the first that
    // failed; nothing after it is reported.
    void reportFinished() {
        while (!stopped_ && reported_ < plan_.parts.size()) {
            {
                std::lock_guard lock(mutex_);
                if (!done_[reported_]) return;
            }
            if (!report(reported_)) {
                stopped_ = true;
                return;
            }
            ++reported_;
        }
    }

    // A part whose length shows only when it is read decides where every
    // later part goes, so the parts are copied one after another.
    bool runInTurn() {
        ProgressLine progress("pack", output_, plan_.size);
        std::uint64_t offset = plan_.firstPartOffset;
        for (std::size_t i = 0; i < plan_.parts.size(); ++i) {
            if (i >= plan_.unplaced) return report(i);
            PlannedPart& p = plan_.parts[i];
            p.offset = offset;
            if (p.inputLength >= 0 && !partFits(offset, p.fieldLength + p.inputLength, packageLimitOf(hooks_))) {
                results_[i].status = PartStatus::tooLarge;
            } else {
                CopyContext c = contextFor(i);
                results_[i] = copyPart(c, p, offset, i + 1 == plan_.parts.size());
            }
            progress.advance(results_[i].inputBytes);
            if (!report(i)) return false;
            offset = advanceOffset(offset, results_[i].dataLength);
        }
        return true;
    }

    const PackageJob& job_;
    PackagePlan& plan_;
    OutputTarget& target_;
    const char* output_;
    std::FILE* out_;
    const WriterHooks* hooks_;
    std::vector<PartResult> results_;
    std::vector<bool> done_;
    std::atomic<std::size_t> firstFailure_;
    std::atomic<std::uint64_t> bytesDone_{0};
    std::mutex mutex_;               // guards done_ and results_ while the pass runs
    std::size_t reported_ = 0;       // parts reported, in writing order
    bool stopped_ = false;           // a reported part failed
    std::string why_;
};

}  // namespace

bool copyParts(const PackageJob& job, PackagePlan& plan, OutputTarget& target, const char* output, std::FILE* out,
               const WriterHooks* hooks, std::string* why) {
    PartRunner runner(job, plan, target, output, out, hooks);
    if (runner.run()) return true;
    *why = runner.why();
    return false;
}

}  // namespace fw
