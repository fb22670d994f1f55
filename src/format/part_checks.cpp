#include "format/part_checks.h"

#include <algorithm>

#include "format/limits.h"

namespace fw {
namespace {

std::string number(std::uint64_t n) { return std::to_string(n); }

int writingRank(PartKind kind) {
    return static_cast<int>(std::find(writingOrder.begin(), writingOrder.end(), kind) - writingOrder.begin());
}

}  // namespace

std::string magicText(std::uint32_t magic) {
    std::string text;
    for (int i = 0; i < 4; ++i) text += static_cast<char>(magic >> (8 * i) & 0xFF);
    return text;
}

HeaderVerdict checkPackageHeader(const PackageHeaderBytes& raw, std::uint64_t size, Defects& defects) {
    HeaderVerdict verdict;
    const PackageHeader h = decodePackageHeader(raw);
    if (h.magic != packageMagic) {
        defects.push_back("package magic is not " + magicText(packageMagic));
        return verdict;
    }
    if (!reservedWordsZero(raw)) defects.push_back("package header: reserved words are not zero");
    if (h.boardTableOffset != boardTableOffset)
        defects.push_back("package header: board table offset " + number(h.boardTableOffset) + ", expected " + number(boardTableOffset));
    verdict.beyondFormat = h.boardCount > maxBoardCodes;
    if (verdict.beyondFormat)
        defects.push_back("package header: board count " + number(h.boardCount) + ", more than the " +
                          number(maxBoardCodes) + " a package can hold; the board table is not examined");
    const std::uint64_t partTable = partTableOffsetFor(h.boardCount);
    if (h.partTableOffset != partTable)
        defects.push_back("package header: part table offset " + number(h.partTableOffset) + ", expected " +
                          number(partTable));
    if (partTable > size || h.partTableOffset + 4ull * h.partCount > size) {
        defects.push_back("package header: the tables run past the end of the file");
        return verdict;
    }
    if (h.partCount == 0) defects.push_back("package header: no parts");
    if (h.partCount * static_cast<std::uint64_t>(partHeaderSize) > size) {
        defects.push_back("package header: " + number(h.partCount) + " parts cannot fit in " + number(size) + " bytes");
        return verdict;
    }
    if (h.partCount > maxPartCount)
        defects.push_back("package header: " + number(h.partCount) + " parts, more than the " + number(maxPartCount) +
                          " a package can hold; only the first " + number(maxPartCount) + " are examined");
    verdict.readable = true;
    verdict.examined = std::min<std::uint32_t>(h.partCount, maxPartCount);
    return verdict;
}

bool checkPartFields(const PartHeaderBytes& raw, PartKind kind, std::uint64_t offset, std::uint64_t size,
                     Defects& defects) {
    const PartHeader h = decodePartHeader(raw);
    if (h.magic != partMagic) defects.push_back("part magic is not " + magicText(partMagic));
    if (kind == PartKind::unknown) defects.push_back("unknown type code " + number(h.typeCode));
    if (!reservedWordsZero(raw)) defects.push_back("reserved words are not zero");
    if (kind == PartKind::mtd && (h.partIndex < 1 || h.partIndex > mtdSlotCount))
        defects.push_back("mtd index " + number(h.partIndex) + " is outside 1 to " + number(mtdSlotCount));
    if (kind != PartKind::mtd && h.partIndex != 0)
        defects.push_back("index " + number(h.partIndex) + " on a part that has none");
    if (!carriesName(kind) && h.nameLength != 0)
        defects.push_back("name length " + number(h.nameLength) + " on a part that has none");
    if (offset + partHeaderSize + h.dataLength > size) {
        defects.push_back("data runs past the end of the file");
        return false;
    }
    return true;
}

bool checkNameFieldShape(PartKind kind, const PartHeader& h, Defects& defects) {
    if (kind == PartKind::tar && h.nameLength != tarPathFieldLength) {
        defects.push_back("tar path field is " + number(h.nameLength) + " bytes, expected " + number(tarPathFieldLength));
        return false;
    }
    if (kind == PartKind::named && (h.nameLength % 4 != 0 || h.nameLength > largestNameField)) {
        defects.push_back("name field of " + number(h.nameLength) + " bytes is not a whole part name");
        return false;
    }
    if (h.nameLength > h.dataLength) {
        defects.push_back("name field runs past the part's data");
        return false;
    }
    return true;
}

void checkNameFieldBytes(PartKind kind, const PartHeader& h, const std::uint8_t* field, const std::string& name,
                         Defects& defects) {
    const bool terminated = name.size() < h.nameLength;
    const bool zeroFill = std::all_of(field + name.size(), field + h.nameLength, [](std::uint8_t b) { return b == 0; });
    if (kind == PartKind::tar && (name != tarTargetPath || !terminated))
        defects.push_back("tar path field does not hold " + std::string(tarTargetPath));
    if (kind == PartKind::named && (!zeroFill || nameFieldLengthOf(name.size()) != h.nameLength))
        defects.push_back("name field is not the name padded with zeros");
}

bool WritingOrder::admits(PartKind kind, std::uint32_t mtdIndex) {
    if (kind == PartKind::unknown) return true;
    const int rank = writingRank(kind);
    const bool repeatsFixed = isFixed(kind) && rank == previousRank_;
    const bool mtdBackwards = kind == PartKind::mtd && rank == previousRank_ && mtdIndex <= previousMtdIndex_;
    const bool admitted = rank >= previousRank_ && !repeatsFixed && !mtdBackwards;
    previousRank_ = rank;
    if (kind == PartKind::mtd) previousMtdIndex_ = mtdIndex;
    return admitted;
}

}  // namespace fw
