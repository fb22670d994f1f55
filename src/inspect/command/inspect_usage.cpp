#include "inspect/command/inspect_usage.h"

#include "inspect/command/command_table.h"

namespace fw {
namespace {

constexpr const char* helpLine = "  -h, --help    show this text\n";

constexpr const char* statuses =
    "exit status:\n"
    "  0  sound (diff: the same; lint: fwpack packs everything it is given)\n"
    "  1  a defect, a difference, nothing extracted (lint: something is passed over or dropped)\n"
    "  2  a usage error, a file that cannot be read, a folder that cannot be made (diff: a defective side)\n";

std::string synopsisLines(const VerbSpec& v, bool first) {
    std::string out;
    const std::string lines = v.synopsis;
    for (std::size_t at = 0; at < lines.size();) {
        const std::size_t end = lines.find('\n', at);
        out += (first ? "usage: " : "       ") + lines.substr(at, end + 1 - at);
        first = false;
        at = end + 1;
    }
    return out;
}

std::string verbUsage(const VerbSpec& v) {
    std::string text = synopsisLines(v, true) + v.summary + "\noptions:\n";
    for (const OptionUse& use : v.options) text += helpOf(use);
    return text + helpLine + statuses;
}

}  // namespace

std::string usageText(const std::string& command) {
    if (const VerbSpec* v = verbNamed(command)) return verbUsage(*v);
    std::string text;
    bool first = true;
    for (const VerbSpec& v : verbTable()) {
        text += synopsisLines(v, first);
        first = false;
    }
    text += "       fwinspect --help | --version\ncommands:\n";
    for (const VerbSpec& v : verbTable()) {
        const std::string name = v.name;
        text += "  " + name + std::string(10 - name.size(), ' ') + v.summary + "\n";
    }
    return text + "'fwinspect COMMAND --help' shows a command's options.\n" + statuses;
}

}  // namespace fw
