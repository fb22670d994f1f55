#include "cli/passed_over.h"

#include <algorithm>
#include <array>

#include "job/package_job.h"
#include "job/registration.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/terminal_text.h"

namespace fw {
namespace {

std::string quotedPath(const char* path) { return std::string("'").append(escapePath(path)).append("'"); }

void notOptions(const std::vector<int>& positions, const char* const* argv, std::vector<ArgumentFinding>& found) {
    for (std::size_t k = 0; k < positions.size(); ++k) {
        const int at = positions[k];
        const bool follows = k > 0 && positions[k - 1] == at - 1;
        found.push_back({at, quotedArgument(argv[at]) + (follows ? " follows an argument fwpack passed over, and is passed over too"
                                                         : " is not an option fwpack knows; passed over")});
    }
}

void missingInputs(int argc, const char* const* argv, const ParsedOptions& o, std::vector<ArgumentFinding>& found) {
    auto check = [&](const char* path, const std::string& option) {
        if (!fileExists(path))
            found.push_back({argumentPosition(argc, argv, path), "the input " + quotedPath(path) + " of " + option +
                                                               " does not exist; fwpack leaves it out"});
    };
    for (const KindInfo& info : kindTable)
        if (isFixed(info.kind) && o.imageArgs[index(info.kind)] != nullptr)
            check(o.imageArgs[index(info.kind)], std::string(info.option));
    for (const MtdArg& m : o.mtdArgs) check(m.path, "-p" + std::to_string(m.index));
    for (const NamedArg& n : o.namedArgs) check(n.path, "-n " + escapeText(n.name));
}

// Repeats where the later value decides, and names beyond the twentieth,
// by registration's own rules.
void repeats(int argc, const char* const* argv, const ParsedOptions& o, std::vector<ArgumentFinding>& found) {
    for (const auto& [option, value] : o.notes.replaced)
        found.push_back({argumentPosition(argc, argv, value), option + " " + quotedArgument(value) + " is replaced by a later " + option});
    for (std::size_t i = 0; i < o.mtdArgs.size(); ++i)
        if (replacedLater(o.mtdArgs, i)) {
            const std::string option = "-p" + std::to_string(o.mtdArgs[i].index);
            found.push_back({argumentPosition(argc, argv, o.mtdArgs[i].path),
                             option + " " + quotedArgument(o.mtdArgs[i].path) + " is replaced by a later " + option});
        }
    std::uint32_t inUse = 0;
    std::array<std::string, namedSlotCount> held;
    for (std::size_t i = 0; i < o.namedArgs.size(); ++i) {
        const NamedArg& n = o.namedArgs[i];
        const int slot = namedSlotOf(inUse, [&](std::size_t s) { return held[s] == n.name; });
        if (slot >= 0) {
            inUse |= 1u << slot;
            held[static_cast<std::size_t>(slot)] = n.name;
        }
        if (slot < 0)
            found.push_back({argumentPosition(argc, argv, n.name), "-n " + quotedArgument(n.name) + " is a part name after the " +
                                                                 std::to_string(namedSlotCount) + " fwpack keeps; left out"});
        else if (replacedLater(o.namedArgs, i))
            found.push_back({argumentPosition(argc, argv, n.name), "-n " + quotedArgument(n.name) + " is replaced by a later -n of that name"});
    }
}

}  // namespace

int argumentPosition(int argc, const char* const* argv, const char* value) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] == value) return i;
    return 0;
}

std::string quotedArgument(const char* text) { return std::string("'").append(escapeText(text)).append("'"); }

std::vector<ArgumentFinding> passedOver(int argc, const char* const* argv, const ParsedOptions& o) {
    std::vector<ArgumentFinding> found;
    notOptions(o.notes.passedOver, argv, found);
    missingInputs(argc, argv, o, found);
    repeats(argc, argv, o, found);
    inArgumentOrder(found);
    return found;
}

void inArgumentOrder(std::vector<ArgumentFinding>& findings) {
    std::stable_sort(findings.begin(), findings.end(),
                     [](const ArgumentFinding& a, const ArgumentFinding& b) { return a.argument < b.argument; });
}

std::string findingLine(const ArgumentFinding& f) {
    return f.argument > 0 ? "argument " + std::to_string(f.argument) + ": " + f.text : f.text;
}

// Standard output is the packer's own and scripts read it whole, so the
// note goes to standard error; what happens to that stream never changes
// the package or the exit status.
void notePassedOver(int argc, const char* const* argv, const ParsedOptions& options, std::FILE* err) {
    const std::vector<ArgumentFinding> found = passedOver(argc, argv, options);
    if (found.empty()) return;
    for (const ArgumentFinding& f : found) print(err, "fwpack: %s\n", findingLine(f).c_str());
    std::vector<std::string> words{"fwinspect", "lint", "--"};
    words.insert(words.end(), argv + 1, argv + argc);
    print(err, "fwpack: to check the whole line: %s\n", shellLine(words).c_str());
    std::fflush(err);
}

}  // namespace fw
