#include "platform/terminal_text.h"

#include <cstdio>

#include "platform/shell_words.h"
#include "platform/utf16.h"

namespace fw {

namespace {

// A character that moves the terminal or reorders the line around it: C0
// and C1 controls, and the bidirectional overrides and isolates.
bool steersTerminal(char32_t c) {
    return c < 0x20 || (c >= 0x7f && c < 0xa0) || (c >= 0x202a && c <= 0x202e) || (c >= 0x2066 && c <= 0x2069);
}

// Text shows as itself, in any script; bytes that are no UTF-8 text, and
// characters that steer the terminal, show as \xNN of their bytes.
std::string escaped(const std::string& bytes, bool keepSeparators) {
    std::string s;
    for (std::size_t at = 0; at < bytes.size();) {
        const auto c = static_cast<unsigned char>(bytes[at]);
        char32_t point = 0;
        const std::size_t length = utf8CharAt(bytes, at, &point);
        if (keepSeparators && isPathSeparator(static_cast<char>(c))) {
            s += static_cast<char>(c);
        } else if (c == '\\') {
            s += "\\\\";
        } else if (length > 0 && !steersTerminal(point)) {
            s.append(bytes, at, length);
            at += length;
            continue;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            s += hex;
        }
        ++at;
    }
    return s;
}

}  // namespace

std::string escapeText(const std::string& bytes) { return escaped(bytes, false); }

std::string escapePath(const std::string& path) { return escaped(path, true); }

std::string shellLine(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words)
        line.append(line.empty() ? "" : " ").append(shellCanQuote(word) ? shellQuoted(word) : escapeText(word));
    return line;
}

}  // namespace fw
