// A board code as a board table holds it and as a user writes one down.
#pragma once

#include <cstdint>
#include <optional>

namespace fw {

// A -b value as fwpack reads it, with "%08X": leading white space and a
// sign skipped, an optional 0x, at most eight characters in all, 0 when it
// does not start with a hexadecimal number.
std::uint32_t parseBoardCode(const char* text);

// The code a text spells when parseBoardCode reads it whole and as written:
// an optional 0x or 0X, then hexadecimal digits, eight characters at most
// (so one to eight digits, or one to six after 0x); nothing otherwise.
std::optional<std::uint32_t> plainBoardCode(const char* text);

}  // namespace fw
