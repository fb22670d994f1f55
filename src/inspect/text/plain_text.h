// How fwinspect writes bytes it does not control into its messages and
// reports, and the small wordings every report shares.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "digest/md5.h"

namespace fw {

// Printable ASCII stays; a backslash and every other byte become \\ and \xNN.
std::string escapeText(const std::string& bytes);
// A path the same way, except that its separators print as themselves (a
// Windows path's backslash too).
std::string escapePath(const std::string& path);
std::string hexDigest(const Digest& digest);
std::string hexBytes(const std::vector<std::uint8_t>& bytes);
// "1 part", "2 parts": a count and its noun, singular or plural.
std::string counted(std::uint64_t n, const char* noun);
// A board code as fwpack -b takes it: at least four lower-case hex digits.
std::string boardCodeText(std::uint32_t code);

// A damaged package can have a defect per part; the reports that collect
// them keep the first thousand and say that more were left out.
struct DefectList {
    std::vector<std::string> kept;
    void add(const std::string& text);
};

}  // namespace fw
