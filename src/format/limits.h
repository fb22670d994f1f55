// How large a package and what the packer puts into one can be.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/records.h"

namespace fw {

// Every offset and length is a 32-bit word: the end of the last part's
// data may be at most this offset.
inline constexpr std::uint64_t largestPackage = 0xFFFFFFFFu;

// The packer keeps at most this many board codes (a larger count is no
// package it wrote), and takes paths of at most this many bytes.
inline constexpr std::size_t maxBoardCodes = 100;
inline constexpr std::size_t maxPathLength = 255;

// Where the part table starts: behind the header and the board table.
constexpr std::uint64_t partTableOffsetFor(std::uint64_t boardCount) { return boardTableOffset + 4 * boardCount; }

// Where the first part starts: behind the header and both tables.
constexpr std::uint64_t firstPartOffset(std::uint64_t boardCount, std::uint64_t partCount) {
    return partTableOffsetFor(boardCount) + 4 * partCount;
}

// Whether a part at `partOffset` with `dataLength` bytes of data ends by
// `limit`: the format's largestPackage, or a lower one a test sets so that
// an endless input meets it soon.
constexpr bool partFits(std::uint64_t partOffset, std::uint64_t dataLength, std::uint64_t limit = largestPackage) {
    return partOffset + partHeaderSize + dataLength <= limit;
}

}  // namespace fw
