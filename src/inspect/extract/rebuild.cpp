#include "inspect/extract/rebuild.h"

#include "format/kinds.h"
#include "format/limits.h"
#include "inspect/text/plain_text.h"
#include "inspect/text/tool_messages.h"
#include "platform/console_text.h"
#include "platform/shell_words.h"

namespace fw {

void Rebuild::summary(const PackageSummary& s) {
    package_ = s.path;
    if (!shellCanQuote(s.path)) whyNot("this system's shell cannot pass its path");
    command_ = "fwpack -o " + shellQuoted(s.path);
    if (s.oldLayout) command_ += " -old";
    if (s.path.size() > maxPathLength) whyNot("the package's path is longer than -o takes");
    if (s.header.boardCount == 0) whyNot("it has no board code, and fwpack needs one");
}

void Rebuild::board(std::uint32_t code) {
    command_ += " -b " + boardCodeText(code);
}

void Rebuild::part(const PartReport& r, const std::string& file) {
    if (file.size() > maxPathLength) whyNot("the path of " + escapePath(file) + " is longer than fwpack takes");
    if (r.kind == PartKind::named) {
        if (r.name.size() > maxPartNameLength) whyNot("a part name is longer than the " + std::to_string(maxPartNameLength) + " bytes -n takes");
        if (++named_ > namedSlotCount) whyNot("it has more named parts than the " + std::to_string(namedSlotCount) + " fwpack keeps");
    }
    for (const std::string& argument : packerArguments(partIdentityOf(r))) add(argument);
    add(file);
}

void Rebuild::add(const std::string& argument) {
    if (!shellCanQuote(argument)) whyNot("this system's shell cannot pass the argument " + escapeText(argument));
    options_.append(" ").append(shellQuoted(argument));
}

void Rebuild::print(std::FILE* out, std::FILE* err) const {
    if (possible())
        fw::print(out, "%s%s\n", command_.c_str(), options_.c_str());
    else
        error(err, "no fwpack command rebuilds %s byte for byte: %s", escapePath(package_).c_str(), reason_.c_str());
}

}  // namespace fw
