// The one record of a run: what the command line and registration learnt
// about the inputs. The writer only reads it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "format/kinds.h"
#include "format/limits.h"
#include "format/records.h"

namespace fw {


using PathText = std::array<char, maxPathLength + 1>;
using NameText = std::array<char, maxPartNameLength + 1>;

// Lengths are kept as the input's true size (64 bits) beside the 32-bit
// header field, so the writer can tell a package that does not fit from one
// that does. Registration learns them from the file system without reading
// the inputs; the writer digests each input while it copies it. The headers
// here carry no digest yet.
inline constexpr std::int64_t unopenableLength = -1;  // exists, but cannot be opened
inline constexpr std::int64_t streamLength = -2;      // a device whose length shows only when read
inline constexpr std::int64_t unreadableLength = -3;  // exists, but is nothing that can be read (a folder)

struct PackageJob {
    std::array<std::int32_t, fixedKindCount> hasImage{};
    std::int32_t oldLayout = 0;
    std::array<std::uint32_t, maxBoardCodes> boardTypes{};
    std::uint32_t boardCount = 0;
    std::array<PartHeader, fixedKindCount> fixedHeaders{};
    std::array<PathText, mtdSlotCount> mtdPaths{};
    std::array<PartHeader, mtdSlotCount> mtdHeaders{};
    std::array<std::int64_t, mtdSlotCount> mtdLengths{};
    std::uint32_t mtdMask = 0;
    std::array<PathText, namedSlotCount> namedPaths{};
    std::array<NameText, namedSlotCount> partNames{};
    std::array<PartHeader, namedSlotCount> namedHeaders{};
    std::array<std::int64_t, namedSlotCount> namedLengths{};
    std::uint32_t namedMask = 0;
    std::array<PathText, fixedKindCount> imagePaths{};
    std::array<std::int64_t, fixedKindCount> imageLengths{};
};

std::unique_ptr<PackageJob> createJob();
void addBoardCode(PackageJob& job, std::uint32_t code);

// Copies text into a fixed field; false, and the field emptied, when it does not fit.
template <std::size_t N>
bool setText(std::array<char, N>& field, const char* text);

}  // namespace fw
