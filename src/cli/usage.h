#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace fw {

// Board types of the old layout, listed in the usage text's last line.
inline constexpr std::array<std::uint32_t, 7> legacyBoardCodes{0x1a0, 0x1a1, 0x1a2, 0x1a3, 0x1b0, 0x1c1, 0x1c2};

// "1a0~1a3,1b0": runs of consecutive codes as first~last.
std::string legacyCodeList(std::span<const std::uint32_t> codes);

// Prints the whole usage text with `message` between the brackets of its first line.
void printUsage(const char* message, std::FILE* out = stdout);

}  // namespace fw
