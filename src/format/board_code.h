// A board code as a board table holds it and as a user writes one down.
#pragma once

#include <cstdint>
#include <optional>

namespace fw {

// One to eight hexadecimal digits and nothing else; nothing otherwise.
// (fwpack's own reading of -b is looser: see parseBoardCode.)
std::optional<std::uint32_t> plainBoardCode(const char* text);

}  // namespace fw
