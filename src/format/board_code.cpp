#include "format/board_code.h"

#include <cstdio>
#include <cstring>

namespace fw {

std::uint32_t parseBoardCode(const char* text) {
    unsigned int value = 0;
    if (text[0] != '\0') std::sscanf(text, "%08X", &value);
    return value;
}

// "%08X" counts the 0x among its eight characters: 0x12345678 reads as
// 0x123456, and a ninth digit is never read.
std::optional<std::uint32_t> plainBoardCode(const char* text) {
    const std::size_t n = std::strlen(text);
    const std::size_t prefix = text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 2 : 0;
    if (n <= prefix || n > 8 || std::strspn(text + prefix, "0123456789abcdefABCDEF") != n - prefix) return std::nullopt;
    return parseBoardCode(text);
}

}  // namespace fw
