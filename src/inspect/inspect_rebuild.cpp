#include "inspect/inspect_rebuild.h"

#include <algorithm>

#include "inspect/inspect_report.h"
#include "format/kinds.h"
#include "format/limits.h"

namespace fw {

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

void Rebuild::summary(const PackageSummary& s) {
    package_ = s.path;
    command_ = "fwpack -o " + shellQuoted(s.path);
    if (s.oldLayout) command_ += " -old";
    if (s.path.size() > maxPathLength) whyNot("the package's path is longer than -o takes");
    if (s.header.boardCount == 0) whyNot("it has no board code, and fwpack needs one");
}

void Rebuild::board(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "%04x", code);
    command_ += std::string(" -b ") + text;
}

void Rebuild::part(const PartReport& r, const std::string& file) {
    if (file.size() > maxPathLength) whyNot("the path of " + file + " is longer than fwpack takes");
    if (r.kind == PartKind::named) {
        if (r.name.size() > maxPartNameLength) whyNot("a part name is longer than the 63 bytes -n takes");
        if (++named_ > namedSlotCount) whyNot("it has more named parts than the 20 fwpack keeps");
    }
    for (const std::string& argument : packerArguments(identityOf(r))) options_.append(" ").append(shellQuoted(argument));
    options_.append(" ").append(shellQuoted(file));
}

void Rebuild::print(std::FILE* out, std::FILE* err) const {
    if (possible())
        std::fprintf(out, "%s%s\n", command_.c_str(), options_.c_str());
    else
        std::fprintf(err, "fwinspect: no fwpack command rebuilds %s byte for byte: %s\n", escapeText(package_).c_str(),
                     escapeText(reason_).c_str());
}

}  // namespace fw
