// The second half of reading a package: its data, read once. When the
// whole file is not digested, each part's data is a chain of pieces, read
// and digested in order on one core at a time, the part with the most left
// first, and handed to an extraction on whichever core is free; so the
// largest part bounds the pass rather than the sum of them all. (When the
// whole file is digested, the WholeFilePass reads it instead.)
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "inspect/reader/package_reader.h"
#include "platform/random_access.h"

namespace fw {

struct ReadJob {
    std::uint64_t begin = 0, end = 0;
    PartReport* part = nullptr;  // nullptr: the whole file, for options.packageBytes
    bool failed = false;
};

// The stretches to read: every part whose data lies in the file and is not
// shared with an earlier one, and the whole file when it was asked for.
std::vector<ReadJob> readJobsFor(std::vector<PartReport>& parts, const InspectionOptions& options,
                                 std::uint64_t fileSize);

// Bytes the structure was read from, kept so that a pass reading the
// whole file can confirm them.
struct StructureBytes {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;
};

// Reads the parts' stretches of `jobs`; the whole file's is for the
// WholeFilePass alone.
class DataPass {
public:
    DataPass(const RandomAccessFile& file, const InspectionOptions& options, std::vector<ReadJob> jobs);
    // False, with `why`, when memory ran out (the pass reads on with fewer
    // pieces where it can).
    bool run(const std::string& path, std::string* why);
    std::vector<ReadJob>& jobs() { return jobs_; }
    // options.stopRequested said stop; what was not read is marked failed.
    bool stopped() const { return stopped_.load(); }

private:
    bool stopNow();

    const RandomAccessFile& file_;
    const InspectionOptions& options_;
    std::vector<ReadJob> jobs_;
    std::atomic<std::uint64_t> bytesDone_{0};
    std::atomic<bool> stopped_{false};
};

}  // namespace fw
