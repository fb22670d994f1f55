#include "inspect/reader/structure_reader.h"

#include <cstdio>

#include "format/layout_guess.h"
#include "format/limits.h"
#include "inspect/text/plain_text.h"

namespace fw {

bool StructureReader::readAt(std::uint64_t offset, void* into, std::size_t count) {
    if (!file_.readAt(offset, into, count, &readFailure_)) return false;
    if (options_.packageBytes && count > 0) {
        const auto* bytes = static_cast<const std::uint8_t*>(into);
        read_.push_back({offset, {bytes, bytes + count}});
    }
    return true;
}

bool StructureReader::checkHeader() {
    const std::uint64_t size = file_.size();
    PackageHeaderBytes raw{};
    if (size < packageHeaderSize || !readAt(0, raw.data(), raw.size())) {
        defect("file is " + std::to_string(size) + " bytes, too short for a package header");
        return false;
    }
    summary_.header = decodePackageHeader(raw);
    Defects found;
    const HeaderVerdict verdict = checkPackageHeader(raw, size, found);
    for (const std::string& text : found) defect(text);
    summary_.beyondFormat = verdict.beyondFormat;
    examined_ = verdict.examined;
    return verdict.readable;
}

bool StructureReader::readOffset(std::uint32_t i, std::uint64_t& offset) {
    std::uint8_t word[4];
    if (!readAt(summary_.header.partTableOffset + 4ull * i, word, 4)) return false;
    offset = getWord(word);
    return true;
}

void StructureReader::chooseLayout() {
    if (options_.layout != LayoutChoice::guess) {
        summary_.oldLayout = options_.layout == LayoutChoice::old;
        summary_.layoutReason = "as --layout says";
        return;
    }
    std::vector<std::uint32_t> codes;
    for (std::uint32_t i = 0; i < examined_; ++i) {
        std::uint64_t offset = 0;
        std::uint8_t word[4];
        if (readOffset(i, offset) && readAt(offset + 4, word, 4)) codes.push_back(getWord(word));
    }
    const LayoutGuess guess = guessLayout(codes, boardsRead_ ? &boards_ : nullptr);
    summary_.oldLayout = guess.oldLayout;
    summary_.layoutReason = guess.reason;
    summary_.layoutGuessed = guess.guessed;
}

// The board table, when its count is one a package can hold and it reads.
bool StructureReader::readBoards() {
    const std::uint32_t count = summary_.header.boardCount;
    std::uint8_t table[4 * maxBoardCodes];
    if (count > maxBoardCodes || !readAt(boardTableOffset, table, 4ull * count)) return false;
    for (std::uint32_t j = 0; j < count; ++j) boards_.push_back(getWord(&table[4 * j]));
    return true;
}

// A board count beyond what a package holds was reported by checkHeader;
// such a table is neither read nor listed, whatever it claims.
void StructureReader::checkBoards() {
    bool found = false;
    std::string held;
    for (std::uint32_t code : boards_) {
        found = found || (options_.requiredBoard && *options_.requiredBoard == code);
        held += ' ';
        held += boardCodeText(code);
        sink_.board(code);
    }
    if (options_.requiredBoard && !found) {
        // Appended piece by piece: GCC 12 at -O3 takes "literal" + string
        // for an overlapping copy.
        std::string text = "board ";
        text += boardCodeText(*options_.requiredBoard);
        text += " is not in the board table";
        if (!held.empty()) text.append(", which holds").append(held);
        defect(text);
    }
}

bool StructureReader::read(const char* path) {
    summary_.path = path;
    summary_.fileSize = file_.size();
    summary_.modified = file_.modified();
    summary_.dataRead = options_.readData;
    if (!checkHeader()) return false;
    summary_.structureRead = true;
    boardsRead_ = readBoards();
    chooseLayout();
    sink_.summary(summary_);
    checkBoards();
    expectedOffset_ = previousEnd_ = lastEnd_ =
        firstPartOffset(summary_.header.boardCount, summary_.header.partCount);
    for (std::uint32_t i = 0; i < examined_; ++i) readPart(i);
    settleCut();
    return true;
}

void StructureReader::finalChecks() {
    // Past a cut, the parts whose headers were lost may hold the bits missing.
    const std::uint32_t unexplained = cutShort() ? kindBits_ & ~summary_.header.kindFlags : kindBits_ ^ summary_.header.kindFlags;
    if (unexplained != 0) {
        char text[96];
        std::snprintf(text, sizeof text, "package header: kind bits 0x%x, the parts present give 0x%x",
                      summary_.header.kindFlags, kindBits_);
        defect(text);
    }
    const std::uint32_t count = summary_.header.partCount;
    if (placementKnown_ && count > 0 && count <= maxPartCount && lastEnd_ < file_.size())
        defect(std::to_string(file_.size() - lastEnd_) + " bytes follow the last part");
}

}  // namespace fw
