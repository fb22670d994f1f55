// The bill of materials an image's own build wrote (SPDX or CycloneDX
// JSON), linked from the package's: read once, digested, and refused unless
// it is one JSON document of either kind.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fw {

struct LinkedBom {
    std::string label;  // the part, as --part takes it
    std::string path;   // as given
    std::vector<std::uint8_t> sha256;
    std::string format;  // "SPDX-2.3", "SPDX 3", "CycloneDX 1.5"
    std::vector<std::uint32_t> parts;  // the numbers of the parts the label names
};

// Splits `PART=FILE` at its first '='; false, with why, when either side is empty.
bool splitPartSbom(const std::string& argument, LinkedBom& into, std::string* why);

// Reads `into.path` whole, in pieces; false with a one-line reason when it
// cannot be read or is no SPDX or CycloneDX JSON document.
bool readLinkedBom(LinkedBom& into, std::string* why);

}  // namespace fw
