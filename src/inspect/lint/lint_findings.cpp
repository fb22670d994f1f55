#include "inspect/lint/lint_findings.h"

#include "format/board_code.h"
#include "inspect/text/plain_text.h"
#include "job/package_job.h"

namespace fw {
namespace {

void boards(int argc, const char* const* argv, const ParsedOptions& o, std::vector<ArgumentFinding>& found) {
    for (const char* board : o.boardArgs) {
        const std::string code = boardCodeText(parseBoardCode(board));
        const int at = argumentPosition(argc, argv, board);
        if (!plainBoardCode(board))
            found.push_back({at, "board code " + quotedArgument(board) + " is not plain hexadecimal; fwpack reads it as " + code});
        else if (isLegacyBoard(parseBoardCode(board)) && !o.oldRequested)
            found.push_back({at, "board " + code + " is a legacy board, but -old is not given"});
        else if (!isLegacyBoard(parseBoardCode(board)) && o.oldRequested)
            found.push_back({at, "board " + code + " is not a legacy board, but -old is given"});
    }
    if (o.notes.boardsBeyond > 0)
        found.push_back({0, counted(o.notes.boardsBeyond, "board code") + " after the " + std::to_string(maxBoardCodes) +
                                "th " + (o.notes.boardsBeyond == 1 ? "is" : "are") + " left out"});
}

void oldDrops(int argc, const char* const* argv, const ParsedOptions& o, std::vector<ArgumentFinding>& found) {
    if (!o.oldRequested) return;
    for (const KindInfo& info : kindTable) {
        const char* path = isFixed(info.kind) ? o.imageArgs[index(info.kind)] : nullptr;
        if (path != nullptr && typeCodeOf(info.kind, true) == 0)
            found.push_back({argumentPosition(argc, argv, path), std::string(info.option) + " " + quotedArgument(path) +
                                                               ": the old layout (-old) has no " + std::string(info.name) +
                                                               " part; left out"});
    }
}

}  // namespace

std::vector<ArgumentFinding> lintArguments(int argc, const char* const* argv, const ParsedOptions& o) {
    std::vector<ArgumentFinding> found = passedOver(argc, argv, o);
    boards(argc, argv, o, found);
    oldDrops(argc, argv, o, found);
    inArgumentOrder(found);
    return found;
}

}  // namespace fw
