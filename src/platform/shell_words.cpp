#include "platform/shell_words.h"

#include <algorithm>
#include <cstdio>

namespace fw {

bool shellCanQuote(const std::string&) { return true; }

std::string shellQuoted(const std::string& text) {
    static const std::string plainChars =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_./=+,:@%";
    if (!text.empty() && text.find_first_not_of(plainChars) == std::string::npos) return text;
    const bool printable = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7f; });
    std::string q = printable ? "'" : "$'";
    for (unsigned char c : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        if (c == '\'') q += printable ? "'\\''" : "\\'";
        else if (!printable && (c == '\\' || c < 0x20 || c >= 0x7f)) q += hex;
        else q += static_cast<char>(c);
    }
    return q + "'";
}

bool isPathSeparator(char c) { return c == '/'; }

}  // namespace fw
