#include "platform/utf16.h"

namespace fw {
namespace {

bool isHigh(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLow(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// One code point from `at`, or -1 for a byte sequence that is not the
// shortest form of a code point up to U+10FFFF.
long long decode(const std::string& text, std::size_t& at) {
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80) return lead;
    const int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (more < 0 || lead > 0xF4 || at + static_cast<std::size_t>(more) > text.size()) return -1;
    char32_t c = lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        const auto b = static_cast<unsigned char>(text[at++]);
        if ((b & 0xC0) != 0x80) return -1;
        c = c << 6 | (b & 0x3F);
    }
    static constexpr char32_t shortest[] = {0, 0x80, 0x800, 0x10000};
    if (c < shortest[more] || c > 0x10FFFF) return -1;
    return c;
}

}  // namespace

std::size_t utf8CharAt(const std::string& text, std::size_t at, char32_t* c) {
    std::size_t end = at;
    const long long decoded = decode(text, end);
    if (decoded < 0 || (decoded >= 0xD800 && decoded <= 0xDFFF)) return 0;
    *c = static_cast<char32_t>(decoded);
    return end - at;
}

std::string utf8FromUtf16(const std::u16string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size(); ++at) {
        char32_t c = text[at];
        if (isHigh(c) && at + 1 < text.size() && isLow(text[at + 1]))
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++at] - 0xDC00);
        append(out, c);
    }
    return out;
}

// A lone surrogate comes back as itself; a pair written as two
// three-byte sequences would not have come from utf8FromUtf16 and is
// refused, so each UTF-16 text has exactly one spelling here.
bool utf16FromUtf8(const std::string& text, std::u16string& into) {
    into.clear();
    bool afterHigh = false;
    for (std::size_t at = 0; at < text.size();) {
        const long long c = decode(text, at);
        if (c < 0 || (afterHigh && isLow(static_cast<char32_t>(c)))) {
            into.clear();
            return false;
        }
        afterHigh = isHigh(static_cast<char32_t>(c));
        if (c >= 0x10000) {
            into += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            into += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            into += static_cast<char16_t>(c);
        }
    }
    return true;
}

}  // namespace fw
