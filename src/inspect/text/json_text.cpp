#include "inspect/text/json_text.h"

#include <cstdint>
#include <cstdio>

namespace fw {
namespace {

bool continuation(unsigned char c, unsigned char low = 0x80, unsigned char high = 0xbf) {
    return c >= low && c <= high;
}

// Length of the valid UTF-8 sequence at `p` (RFC 3629: no overlong forms,
// no surrogates, nothing past U+10FFFF), or 0 when the byte starts none.
std::size_t sequenceLength(const unsigned char* p, std::size_t left) {
    const unsigned char c = p[0];
    if (c < 0x80) return 1;
    if (c >= 0xc2 && c <= 0xdf) return left >= 2 && continuation(p[1]) ? 2 : 0;
    if (c >= 0xe0 && c <= 0xef) {
        const unsigned char low = c == 0xe0 ? 0xa0 : 0x80, high = c == 0xed ? 0x9f : 0xbf;
        return left >= 3 && continuation(p[1], low, high) && continuation(p[2]) ? 3 : 0;
    }
    if (c >= 0xf0 && c <= 0xf4) {
        const unsigned char low = c == 0xf0 ? 0x90 : 0x80, high = c == 0xf4 ? 0x8f : 0xbf;
        return left >= 4 && continuation(p[1], low, high) && continuation(p[2]) && continuation(p[3]) ? 4 : 0;
    }
    return 0;
}

std::uint32_t codePoint(const unsigned char* p, std::size_t length) {
    if (length == 1) return p[0];
    std::uint32_t value = p[0] & (0x7f >> length);
    for (std::size_t i = 1; i < length; ++i) value = value << 6 | (p[i] & 0x3f);
    return value;
}

// Characters a terminal or a JavaScript parser would act on rather than show.
bool needsEscape(std::uint32_t c) {
    return c < 0x20 || (c >= 0x7f && c <= 0x9f) || c == 0x2028 || c == 0x2029;
}

void appendEscaped(std::string& s, std::uint32_t c) {
    switch (c) {
        case '\b': s += "\\b"; return;
        case '\f': s += "\\f"; return;
        case '\n': s += "\\n"; return;
        case '\r': s += "\\r"; return;
        case '\t': s += "\\t"; return;
        default: break;
    }
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", static_cast<unsigned>(c));
    s += text;
}

}  // namespace

std::string jsonString(const std::string& bytes) {
    std::string s = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t n = sequenceLength(p + at, bytes.size() - at);
        if (n == 0) {
            s += "\\ufffd";
            ++at;
            continue;
        }
        const std::uint32_t c = codePoint(p + at, n);
        if (c == '"' || c == '\\') s += '\\';
        if (needsEscape(c)) appendEscaped(s, c);
        else s.append(bytes, at, n);
        at += n;
    }
    return s + '"';
}

bool isValidUtf8(const std::string& bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t at = 0, n; at < bytes.size(); at += n)
        if ((n = sequenceLength(p + at, bytes.size() - at)) == 0) return false;
    return true;
}

std::string jsonTextMember(const std::string& key, const std::string& bytes) {
    std::string member = '"' + key + "\":" + jsonString(bytes);
    if (!isValidUtf8(bytes)) member += ",\"" + key + "Hex\":\"" + hexBytes(bytes) + '"';
    return member;
}

std::string unreadableJson(const std::string& path, const std::string& why, const std::string& verdict) {
    // Appended piece by piece: GCC 12 at -O3 takes "literal" + string for
    // an overlapping copy.
    std::string s = "{";
    s.append(jsonTextMember("package", path)).append(",\"error\":").append(jsonString(why));
    return s.append(",").append(verdict).append("}\n");
}

}  // namespace fw
