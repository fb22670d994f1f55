// How fwinspect writes bytes it does not control into its messages and
// reports, and the small wordings every report shares.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "digest/md5.h"
#include "platform/terminal_text.h"  // escapeText, escapePath

namespace fw {

std::string hexDigest(const Digest& digest);
// Two lower-case hex digits per byte.
std::string hexBytes(std::string_view bytes);
inline std::string hexBytes(const std::vector<std::uint8_t>& bytes) {
    return hexBytes(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
// "1 part", "2 parts": a count and its noun, singular or plural.
std::string counted(std::uint64_t n, const char* noun);
// "a, b, c", each escaped.
std::string escapedList(const std::vector<std::string>& items);
// A board code as fwpack -b takes it: at least four lower-case hex digits.
std::string boardCodeText(std::uint32_t code);

// A hostile package can claim a billion defects or board codes; a report
// keeps this many of each list, far more than a package from the packer
// holds, so a billion entries cost nothing.
inline constexpr std::size_t keptEntries = 1000;

// A damaged package can have a defect per part; the reports that collect
// them keep the first entries and say that more were left out.
struct DefectList {
    std::vector<std::string> kept;
    void add(const std::string& text);
};

}  // namespace fw
