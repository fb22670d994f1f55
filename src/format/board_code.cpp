#include "format/board_code.h"

#include <cstring>
#include <string>

namespace fw {

std::optional<std::uint32_t> plainBoardCode(const char* text) {
    const std::size_t n = std::strlen(text);
    if (n == 0 || n > 8 || std::strspn(text, "0123456789abcdefABCDEF") != n) return std::nullopt;
    return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
}

}  // namespace fw
