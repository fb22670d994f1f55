#include "package/layout.h"

#include <bit>

namespace fw {

bool gateOpen(const PackageJob& job, FixedKind kind) {
    return job.hasImage[index(kind)] != 0 && (job.oldLayout == 0 || kindInfo(kind).oldTypeCode != 0);
}

std::uint32_t typeCodeWritten(const PackageJob& job, FixedKind kind) {
    return job.oldLayout != 0 ? kindInfo(kind).oldTypeCode : kindInfo(kind).typeCode;
}

std::uint32_t kindBitWritten(const PackageJob& job, FixedKind kind) {
    return job.oldLayout != 0 ? kindInfo(kind).oldKindBit : kindInfo(kind).kindBit;
}

std::uint32_t countParts(const PackageJob& job) {
    std::uint32_t count = 0;
    for (FixedKind k : writingOrder) count += gateOpen(job, k) ? 1 : 0;
    return count + static_cast<std::uint32_t>(std::popcount(job.mtdMask) + std::popcount(job.namedMask));
}

namespace {

struct Walk {
    std::uint64_t offset;
    const char* beyond = nullptr;
    bool stopped = false;
    std::uint64_t end = 0;

    void part(const char* path, std::int64_t fileLength, std::uint64_t fieldLength) {
        if (stopped) return;
        if (fileLength < 0) {
            stopped = true;
            return;
        }
        const std::uint64_t dataLength = fieldLength + static_cast<std::uint64_t>(fileLength);
        if (offset + partHeaderSize + dataLength > largestPackage) {
            beyond = path;
            stopped = true;
            return;
        }
        end = offset + partHeaderSize + dataLength;
        offset = advanceOffset(offset, dataLength);
    }
};

}  // namespace

namespace {

Walk walkParts(const PackageJob& job) {
    Walk walk{firstPartOffset(job.boardCount, countParts(job))};
    for (FixedKind k : writingOrder) {
        if (!gateOpen(job, k)) continue;
        const std::uint64_t field = k == FixedKind::tar ? tarPathFieldLength : 0;
        walk.part(job.imagePaths[index(k)].data(), job.imageLengths[index(k)], field);
    }
    for (std::size_t s = 0; s < mtdSlotCount; ++s)
        if (job.mtdMask >> s & 1) walk.part(job.mtdPaths[s].data(), job.mtdLengths[s], 0);
    for (std::size_t s = 0; s < namedSlotCount; ++s)
        if (job.namedMask >> s & 1)
            walk.part(job.namedPaths[s].data(), job.namedLengths[s], job.namedHeaders[s].nameLength);
    return walk;
}

}  // namespace

const char* firstPartBeyondLimit(const PackageJob& job) { return walkParts(job).beyond; }

std::uint64_t plannedPackageSize(const PackageJob& job) {
    const Walk walk = walkParts(job);
    return walk.stopped ? 0 : walk.end;
}

}  // namespace fw
