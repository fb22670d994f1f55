#include "inspect/text/plain_text.h"

#include <cstdio>

namespace fw {

std::string escapedList(const std::vector<std::string>& items) {
    std::string s;
    for (const std::string& item : items) s.append(s.empty() ? "" : ", ").append(escapeText(item));
    return s;
}

std::string counted(std::uint64_t n, const char* noun) {
    return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string boardCodeText(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x", code);
    return text;
}

void DefectList::add(const std::string& text) {
    if (kept.size() < keptEntries) kept.push_back(text);
    else if (kept.size() == keptEntries) kept.push_back("further defects left out");
}

std::string hexBytes(std::string_view bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s += digits[c >> 4];
        s += digits[c & 15];
    }
    return s;
}

std::string hexDigest(const Digest& digest) {
    return hexBytes(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

}  // namespace fw
