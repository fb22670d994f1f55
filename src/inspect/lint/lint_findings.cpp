#include "inspect/lint/lint_findings.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "format/board_code.h"
#include "inspect/text/plain_text.h"
#include "job/package_job.h"
#include "job/registration.h"
#include "platform/files.h"

namespace fw {
namespace {

std::string quoted(const char* text) { return std::string("'").append(escapeText(text)).append("'"); }
std::string quotedPath(const char* path) { return std::string("'").append(escapePath(path)).append("'"); }

// The position of the argument `value` points into; values are the
// argument strings themselves.
int positionOf(int argc, const char* const* argv, const char* value) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] == value) return i;
    return 0;
}

void passedOver(const std::vector<int>& positions, const char* const* argv, std::vector<LintFinding>& found) {
    for (std::size_t k = 0; k < positions.size(); ++k) {
        const int at = positions[k];
        const bool follows = k > 0 && positions[k - 1] == at - 1;
        found.push_back({at, quoted(argv[at]) + (follows ? " follows an argument fwpack passed over, and is passed over too"
                                                         : " is not an option fwpack knows; passed over")});
    }
}

void missingInputs(int argc, const char* const* argv, const ParsedOptions& o, std::vector<LintFinding>& found) {
    auto check = [&](const char* path, const std::string& option) {
        if (!fileExists(path))
            found.push_back({positionOf(argc, argv, path), "the input " + quotedPath(path) + " of " + option +
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
void repeats(int argc, const char* const* argv, const ParsedOptions& o, std::vector<LintFinding>& found) {
    for (const auto& [option, value] : o.notes.replaced)
        found.push_back({positionOf(argc, argv, value), option + " " + quoted(value) + " is replaced by a later " + option});
    for (std::size_t i = 0; i < o.mtdArgs.size(); ++i)
        if (replacedLater(o.mtdArgs, i)) {
            const std::string option = "-p" + std::to_string(o.mtdArgs[i].index);
            found.push_back({positionOf(argc, argv, o.mtdArgs[i].path),
                             option + " " + quoted(o.mtdArgs[i].path) + " is replaced by a later " + option});
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
            found.push_back({positionOf(argc, argv, n.name), "-n " + quoted(n.name) + " is a part name after the " +
                                                                 std::to_string(namedSlotCount) + " fwpack keeps; left out"});
        else if (replacedLater(o.namedArgs, i))
            found.push_back({positionOf(argc, argv, n.name), "-n " + quoted(n.name) + " is replaced by a later -n of that name"});
    }
}

void boards(int argc, const char* const* argv, const ParsedOptions& o, std::vector<LintFinding>& found) {
    for (const char* board : o.boardArgs) {
        const std::string code = boardCodeText(parseBoardCode(board));
        const int at = positionOf(argc, argv, board);
        if (!plainBoardCode(board))
            found.push_back({at, "board code " + quoted(board) + " is not plain hexadecimal; fwpack reads it as " + code});
        else if (isLegacyBoard(parseBoardCode(board)) && !o.oldRequested)
            found.push_back({at, "board " + code + " is a legacy board, but -old is not given"});
        else if (!isLegacyBoard(parseBoardCode(board)) && o.oldRequested)
            found.push_back({at, "board " + code + " is not a legacy board, but -old is given"});
    }
    if (o.notes.boardsBeyond > 0)
        found.push_back({0, counted(o.notes.boardsBeyond, "board code") + " after the " + std::to_string(maxBoardCodes) +
                                "th " + (o.notes.boardsBeyond == 1 ? "is" : "are") + " left out"});
}

void oldDrops(int argc, const char* const* argv, const ParsedOptions& o, std::vector<LintFinding>& found) {
    if (!o.oldRequested) return;
    for (const KindInfo& info : kindTable) {
        const char* path = isFixed(info.kind) ? o.imageArgs[index(info.kind)] : nullptr;
        if (path != nullptr && typeCodeOf(info.kind, true) == 0)
            found.push_back({positionOf(argc, argv, path), std::string(info.option) + " " + quoted(path) +
                                                               ": the old layout (-old) has no " + std::string(info.name) +
                                                               " part; left out"});
    }
}

}  // namespace

std::vector<LintFinding> lintArguments(int argc, const char* const* argv, const ParsedOptions& o) {
    std::vector<LintFinding> found;
    passedOver(o.notes.passedOver, argv, found);
    missingInputs(argc, argv, o, found);
    repeats(argc, argv, o, found);
    boards(argc, argv, o, found);
    oldDrops(argc, argv, o, found);
    std::stable_sort(found.begin(), found.end(),
                     [](const LintFinding& a, const LintFinding& b) { return a.argument < b.argument; });
    return found;
}

}  // namespace fw
