// The data read once, in file order, when the whole file is digested (to
// check or make a signature). Every byte that is digested whole is the
// byte the parts are digested and extracted from, and the structure read
// before is confirmed against the same bytes: storage that answers two
// reads of one place differently cannot make the reports, the board check
// or an extraction speak of other bytes than those the signature covers.
//
// One thread reads and digests the file and hands the parts' bytes out (to
// an extraction); the parts' digests follow on the other cores, a few
// pieces behind, each part on one of them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "inspect/reader/data_pass.h"
#include "inspect/reader/part_digests.h"

namespace fw {

class WholeFilePass {
public:
    // `jobs` holds the parts' stretches and, last, the whole file's.
    WholeFilePass(const RandomAccessFile& file, const InspectionOptions& options, std::vector<ReadJob>& jobs,
                  const std::vector<StructureBytes>& structure);
    ~WholeFilePass();
    // False, with `why`, when memory ran out: not even one piece could be
    // had, or a part's digest or its extraction ran out on some thread.
    // Fewer pieces than wanted only make the reader wait more.
    bool run(const std::string& path, std::string* why);
    bool stopped() const { return stopped_; }
    // Where a structural byte first read differently the second time.
    std::optional<std::uint64_t> changedAt() const { return changedAt_; }

private:
    struct Slot;
    struct Lane;
    bool makeSlots();
    void read();
    void waitForSlot(std::uint64_t piece);
    std::uint64_t slowestLane() const;
    void drain(Lane& lane);
    void take(Lane& lane, const Slot& slot);
    void end(Lane& lane, ReadJob& job, bool ok);
    void follow(Lane& lane);
    void compareStructure(const Slot& slot);
    void handOut(const Slot& slot);

    const RandomAccessFile& file_;
    const InspectionOptions& options_;
    std::vector<ReadJob>& jobs_;
    const std::vector<StructureBytes>& structure_;
    std::vector<Slot> slots_;
    std::vector<ReadJob*> inFileOrder_;  // the parts, for handing out their bytes
    std::size_t nextOut_ = 0;
    std::vector<std::unique_ptr<Lane>> lanes_;
    std::atomic<std::uint64_t> published_{0};  // pieces read so far
    std::atomic<bool> readerDone_{false};
    std::atomic<bool> failed_{false};  // memory ran out in one task: the others give up
    std::atomic<std::uint64_t> bytesDone_{0};
    std::mutex mutex_;
    std::condition_variable moved_;
    bool stopped_ = false;
    std::optional<std::uint64_t> changedAt_;
};

}  // namespace fw
