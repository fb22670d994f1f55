#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

#include "format/kinds.h"

namespace fw {


// "1a0~1a3,1b0": runs of consecutive codes as first~last.
std::string legacyCodeList(std::span<const std::uint32_t> codes);

// Prints the whole usage text with `message` between the brackets of its first line.
void printUsage(const char* message, std::FILE* out = stdout);

}  // namespace fw
