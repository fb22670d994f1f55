#include "package/writer.h"

#include <cstring>
#include <vector>

#include "package/part_plan.h"
#include "package/part_runner.h"
#include "package/writer_messages.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/output_target.h"
#include "platform/terminal_text.h"

namespace fw {
namespace {

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
        printCantOpenOutput(out, outputPath);
        return false;
    }
    if (sourceIsDestination(job, outputPath)) {
        print(out, "dest file is a source file[%s]!\n", outputPath);
        return false;
    }
    if (plan.beyondLimit != nullptr) {
        printTooLarge(out, plan.beyondLimit);
        return false;
    }
    return true;
}

// The front of the file is written last, when every offset is known, so a
// package cut short never reads as one.
bool writeFront(const PackageJob& job, const PackagePlan& plan, OutputTarget& target) {
    PackageHeader header;
    header.kindFlags = plan.kindFlags;
    header.boardCount = job.boardCount;
    header.partCount = static_cast<std::uint32_t>(plan.parts.size());
    header.partTableOffset = static_cast<std::uint32_t>(partTableOffsetFor(job.boardCount));
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

// A failed run's output written in place is emptied; where even that
// failed, the file holds part of a package and must not pass for one.
int failedRun(const OutputTarget& target, const char* outputPath, std::string* why) {
    if (target.partLeft)
        why->append(why->empty() ? "" : "; ").append(escapePath(outputPath)).append(
            " could not be emptied and holds part of a package: do not use it");
    return -1;
}

}  // namespace

int writePackage(const PackageJob& job, const char* outputPath, std::FILE* out, const WriterHooks* hooks) {
    std::string unsaid;
    return writePackage(job, outputPath, out, hooks, &unsaid);
}

int writePackage(const PackageJob& job, const char* outputPath, std::FILE* out, const WriterHooks* hooks,
                 std::string* why) {
    printPacks(job, out);
    PackagePlan plan = planPackage(job, packageLimitOf(hooks));
    if (!readyToWrite(job, plan, outputPath, out)) return -1;

    OutputTarget target;
    if (hooks != nullptr && hooks->output != nullptr) target.calls = hooks->output;
    const std::uint64_t room = plan.offsetsKnown && plan.unplaced == plan.parts.size() ? plan.size : 0;
    if (!openOutputTarget(outputPath, room, target)) {
        printCantOpenOutput(out, outputPath);
        return -1;
    }
    std::string unsaid;
    if (!copyParts(job, plan, target, outputPath, out, hooks, &unsaid)) {
        abandonOutputTarget(target);
        *why = unsaid;
        return failedRun(target, outputPath, why);
    }
    if (!writeFront(job, plan, target)) {
        abandonOutputTarget(target);
        printCantWriteOutput(out, outputPath);
        return failedRun(target, outputPath, why);
    }
    // Everything the run has to say is out before the package gets its
    // name: a log that could not be written (a pipe nobody reads, a full
    // disk) fails the run, and the earlier output stays.
    print(out, "finished!");
    if (std::fflush(out) != 0 || std::ferror(out)) {
        abandonOutputTarget(target);
        return failedRun(target, outputPath, why);
    }
    if (!commitOutputTarget(target)) {
        // "finished!" ends without a line break; the failure that follows
        // it (Windows: another program holds the output open) must not
        // read as part of it.
        printText(out, "\n");
        printCantWriteOutput(out, outputPath);
        return failedRun(target, outputPath, why);
    }
    return 0;
}

}  // namespace fw
