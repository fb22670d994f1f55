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

// Where the first part starts: behind the header and both tables.
constexpr std::uint64_t firstPartOffset(std::uint64_t boardCount, std::uint64_t partCount) {
    return boardTableOffset + 4 * (boardCount + partCount);
}

}  // namespace fw
