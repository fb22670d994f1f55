// Which parts a job's package holds and where they fall: the gates of each
// layout, the part count and the 32-bit size limit of the format.
#pragma once

#include <cstdint>

#include "job/package_job.h"

namespace fw {

// The old layout leaves out the kinds it has no type code for.
bool gateOpen(const PackageJob& job, FixedKind kind);
std::uint32_t typeCodeWritten(const PackageJob& job, FixedKind kind);
std::uint32_t kindBitWritten(const PackageJob& job, FixedKind kind);

std::uint32_t countParts(const PackageJob& job);

constexpr std::uint64_t firstPartOffset(std::uint64_t boardCount, std::uint64_t partCount) {
    return boardTableOffset + 4 * (boardCount + partCount);
}

inline constexpr std::uint64_t largestPackage = 0xFFFFFFFFu;

// Walks the parts in writing order and returns the input path of the first
// one that would end beyond the largest package the format can describe, or
// nullptr when all fit. An input whose length is unknown (it could not be
// read) ends the walk: the writer reports that input when it reaches it.
const char* firstPartBeyondLimit(const PackageJob& job);

// The size of the finished package from the registered lengths; 0 when an
// input's length is unknown or the package would not fit.
std::uint64_t plannedPackageSize(const PackageJob& job);

}  // namespace fw
