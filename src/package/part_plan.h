// Which parts a job's package holds, in which order and where they fall:
// the gates of each layout, the name fields, the part count and the 32-bit
// size limit of the format. Planning reads nothing but the job.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "job/package_job.h"
#include "format/kinds.h"
#include "format/limits.h"

namespace fw {

struct PlannedPart {
    PartKind kind = PartKind::unknown;
    std::size_t slot = 0;              // mtd and named parts: the job's slot
    const char* path = nullptr;        // the input, as registered
    std::int64_t inputLength = 0;      // as registered: bytes, unreadableLength or streamLength
    PartHeader header;                 // type code of the layout, name length, index; no digest yet
    std::array<std::uint8_t, 64> field{};  // the bytes between header and input
    std::uint32_t fieldLength = 0;
    std::uint64_t offset = 0;          // where the header goes; known up to the first stream
};

struct PackagePlan {
    std::vector<PlannedPart> parts;    // in writing order
    std::uint32_t kindFlags = 0;
    std::uint64_t firstPartOffset = 0;
    bool offsetsKnown = true;          // false once a part's length shows only when read
    const char* beyondLimit = nullptr; // the input of the first part that cannot fit, if any
    // The first part whose input could not be examined: it, and every part
    // after it, has no place, so none of them is ever copied; parts.size()
    // when every part has one.
    std::size_t unplaced = 0;
    std::uint64_t size = 0;            // of the finished package, when every length is known
};

// `limit`: where the package must end, lower only in tests.
PackagePlan planPackage(const PackageJob& job, std::uint64_t limit = largestPackage);

}  // namespace fw
