#include "package/writer.h"

#include <atomic>
#include <memory>
#include <cstring>
#include <mutex>
#include <vector>

#include "package/part_messages.h"
#include "package/part_plan.h"
#include "platform/code_page.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/output_target.h"
#include "platform/parallel_pass.h"
#include "platform/progress.h"

namespace fw {
namespace {

void printPacks(const PackageJob& job, std::FILE* out) {
    auto has = [&](PartKind k) { return job.hasImage[index(k)]; };
    print(out, "packs :%d,%d,%d-%d,%d,%d-%d flash-%d \n", has(PartKind::boot), has(PartKind::kernel),
                 has(PartKind::rfs), has(PartKind::app), has(PartKind::logo), has(PartKind::chlogo),
                 has(PartKind::tar), has(PartKind::flash));
}

// A name is printed as the text the user typed, not as its field's bytes.
std::string shownName(const PackageJob& job, std::size_t slot) {
    std::string name = job.partNames[slot].data();
    nameFieldText(name, &name);
    return name;
}

void printOpenFailure(const PackageJob& job, const PlannedPart& p, std::FILE* out) {
    const PartMessages& info = messagesOf(p.kind);
    if (info.openLocation != 0) print(out, "[%s.%d]", openLocationText, info.openLocation);
    print(out, "cant open [%s]!%.*s", p.path, static_cast<int>(info.openSuffix.size()), info.openSuffix.data());
    if (p.kind == PartKind::mtd) print(out, " [%d] mask = %x", static_cast<int>(p.slot), job.mtdMask);
    if (p.kind == PartKind::named) print(out, "[%s]", shownName(job, p.slot).c_str());
    printText(out, "\n");
}

void printCountLine(const PackageJob& job, const PlannedPart& p, std::uint64_t bytes, std::FILE* out) {
    const auto count = static_cast<unsigned long long>(bytes);
    const std::string_view label = messagesOf(p.kind).countLabel;
    if (p.kind == PartKind::mtd)
        print(out, "[part %d:%s] len = %llu\n", static_cast<int>(p.slot), p.path, count);
    else if (p.kind == PartKind::named)
        print(out, "[part name <%s,%s>] len = %llu\n", shownName(job, p.slot).c_str(), p.path, count);
    else if (!label.empty())
        print(out, "%.*s len = %llu\n", static_cast<int>(label.size()), label.data(), count);
}

void printOutcome(const PackageJob& job, const PlannedPart& p, const PartResult& r, const char* output,
                  std::FILE* out) {
    switch (r.status) {
        case PartStatus::ok: return printCountLine(job, p, r.inputBytes, out);
        case PartStatus::openFailed: return printOpenFailure(job, p, out);
        case PartStatus::readFailed: print(out, "cant read [%s]!\n", p.path); return;
        case PartStatus::tooLarge: print(out, "package too large [%s]!\n", p.path); return;
        case PartStatus::writeFailed:
        case PartStatus::cancelled: print(out, "cant write file[%s]!\n", output); return;
    }
}

bool sourceIsDestination(const PackageJob& job, const char* output) {
    for (std::size_t k = 0; k < fixedKindCount; ++k)
        if (job.hasImage[k] && sameFile(job.imagePaths[k].data(), output)) return true;
    for (std::size_t s = 0; s < mtdSlotCount; ++s)
        if ((job.mtdMask >> s & 1) && sameFile(job.mtdPaths[s].data(), output)) return true;
    for (std::size_t s = 0; s < namedSlotCount; ++s)
        if ((job.namedMask >> s & 1) && sameFile(job.namedPaths[s].data(), output)) return true;
    return false;
}

// The checks that need no output file and read no input; false after
// printing why.
bool readyToWrite(const PackageJob& job, const PackagePlan& plan, const char* outputPath, std::FILE* out) {
    if (outputPath[0] == '\0') {
        print(out, "invalid dest file!\n");
        return false;
    }
    if (plan.parts.empty()) {
        print(out, "invalid source files!\n");
        return false;
    }
    if (std::strlen(outputPath) > maxPathLength) {
        print(out, "cant open file[%s]!\n", outputPath);
        return false;
    }
    if (sourceIsDestination(job, outputPath)) {
        print(out, "dest file is a source file[%s]!\n", outputPath);
        return false;
    }
    if (plan.beyondLimit != nullptr) {
        print(out, "package too large [%s]!\n", plan.beyondLimit);
        return false;
    }
    return true;
}

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
            const std::uint64_t now = bytesDone_.load();
            progress.advance(now - shown_);
            shown_ = now;
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
            const std::uint64_t limit = hooks_ != nullptr ? hooks_->packageLimit : largestPackage;
            if (p.inputLength >= 0 && offset + partHeaderSize + p.fieldLength + p.inputLength > limit) {
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
    std::uint64_t shown_ = 0;        // bytes the progress line has been told of
    std::string why_;
};

// The front of the file is written last, when every offset is known, so a
// package cut short never reads as one.
bool writeFront(const PackageJob& job, const PackagePlan& plan, OutputTarget& target) {
    PackageHeader header;
    header.kindFlags = plan.kindFlags;
    header.boardCount = job.boardCount;
    header.partCount = static_cast<std::uint32_t>(plan.parts.size());
    header.partTableOffset = static_cast<std::uint32_t>(boardTableOffset + 4 * job.boardCount);
    const PackageHeaderBytes head = encodePackageHeader(header);
    std::vector<std::uint8_t> front(head.begin(), head.end());
    front.resize(head.size() + 4 * (job.boardCount + plan.parts.size()));
    std::uint8_t* at = front.data() + head.size();
    for (std::size_t i = 0; i < job.boardCount; ++i, at += 4) putWord(at, job.boardTypes[i]);
    for (const PlannedPart& p : plan.parts) {
        putWord(at, static_cast<std::uint32_t>(p.offset));
        at += 4;
    }
    return target.writeAt(0, front.data(), front.size());
}

}  // namespace

int writePackage(const PackageJob& job, const char* outputPath, std::FILE* out, const WriterHooks* hooks,
                 std::string* why) {
    printPacks(job, out);
    PackagePlan plan = planPackage(job);
    if (!readyToWrite(job, plan, outputPath, out)) return -1;

    OutputTarget target;
    if (hooks != nullptr && hooks->output != nullptr) target.calls = hooks->output;
    const std::uint64_t room = plan.offsetsKnown && plan.unplaced == plan.parts.size() ? plan.size : 0;
    if (!openOutputTarget(outputPath, room, target)) {
        print(out, "cant open file[%s]!\n", outputPath);
        return -1;
    }
    PartRunner runner(job, plan, target, outputPath, out, hooks);
    if (!runner.run()) {
        abandonOutputTarget(target);
        if (why != nullptr) *why = runner.why();
        return -1;
    }
    if (!writeFront(job, plan, target)) {
        abandonOutputTarget(target);
        print(out, "cant write file[%s]!\n", outputPath);
        return -1;
    }
    // Everything the run has to say is out before the package gets its
    // name: a log that could not be written (a pipe nobody reads, a full
    // disk) fails the run, and the earlier output stays.
    print(out, "finished!");
    if (std::fflush(out) != 0 || std::ferror(out)) {
        abandonOutputTarget(target);
        return -1;
    }
    if (!commitOutputTarget(target)) {
        // "finished!" ends without a line break; the failure that follows
        // it (Windows: another program holds the output open) must not
        // read as part of it.
        print(out, "\ncant write file[%s]!\n", outputPath);
        return -1;
    }
    return 0;
}

}  // namespace fw
