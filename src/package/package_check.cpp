#include "package/package_check.h"

#include <algorithm>
#include <memory>
#include <set>
#include <vector>

#include "cli/usage.h"
#include "digest/md5.h"
#include "job/kinds.h"
#include "job/registration.h"
#include "package/layout.h"
#include "platform/progress.h"
#include "platform/random_access.h"

namespace fw {
namespace {

constexpr std::size_t readPiece = 1 << 18;
constexpr std::uint32_t largestNameField = 64;

std::string partLabel(std::uint32_t number) { return "part " + std::to_string(number) + ": "; }

bool isFixed(PartKind kind) { return kind < PartKind::named; }

FixedKind fixedOf(PartKind kind) { return static_cast<FixedKind>(kind); }

// Rank of a kind in the writing order; mtd and named parts come last.
int writingRank(PartKind kind) {
    if (kind == PartKind::mtd) return 9;
    if (kind == PartKind::named) return 10;
    const auto at = std::find(writingOrder.begin(), writingOrder.end(), fixedOf(kind));
    return static_cast<int>(at - writingOrder.begin());
}

class Inspector {
public:
    Inspector(const RandomAccessFile& file, const InspectionOptions& options, InspectionSink& sink)
        : file_(file), options_(options), sink_(sink) {}

    InspectionResult run(const char* path);

private:
    void defect(const std::string& text) {
        ++defects_;
        sink_.defect(text);
    }
    bool checkHeader();
    bool readOffset(std::uint32_t i, std::uint64_t& offset);
    void chooseLayout();
    void checkBoards();
    void checkPart(std::uint32_t i);
    void checkPlacement(PartReport& r);
    void checkFields(PartReport& r, const PartHeaderBytes& raw);
    void checkNameField(PartReport& r);
    void checkOrder(const PartReport& r);
    void checkDigest(PartReport& r);

    const RandomAccessFile& file_;
    const InspectionOptions& options_;
    InspectionSink& sink_;
    PackageSummary summary_;
    std::uint64_t firstPart_ = 0;
    std::uint64_t expectedOffset_ = 0;  // where the advance rule puts the next part
    std::uint64_t previousEnd_ = 0;
    std::uint64_t lastEnd_ = 0;
    bool placementKnown_ = true;
    std::uint32_t kindBits_ = 0;
    int previousRank_ = -1;
    std::uint32_t previousMtdIndex_ = 0;
    std::set<std::string> names_;
    std::unique_ptr<std::uint8_t[]> buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(readPiece);
    std::size_t defects_ = 0;
};

bool Inspector::checkHeader() {
    const std::uint64_t size = file_.size();
    PackageHeaderBytes raw{};
    if (size < packageHeaderSize || !file_.readAt(0, raw.data(), raw.size())) {
        defect("file is " + std::to_string(size) + " bytes, too short for a package header");
        return false;
    }
    const PackageHeader h = decodePackageHeader(raw);
    summary_.header = h;
    if (h.magic != packageMagic) {
        defect("package magic is not FPUA");
        return false;
    }
    if (!reservedWordsZero(raw)) defect("package header: reserved words are not zero");
    if (h.boardTableOffset != boardTableOffset)
        defect("package header: board table offset " + std::to_string(h.boardTableOffset) + ", expected 36");
    if (h.boardCount > 100) defect("package header: board count " + std::to_string(h.boardCount) + " exceeds 100");
    const std::uint64_t partTable = boardTableOffset + 4ull * h.boardCount;
    if (h.partTableOffset != partTable)
        defect("package header: part table offset " + std::to_string(h.partTableOffset) + ", expected " +
               std::to_string(partTable));
    if (partTable > size || h.partTableOffset + 4ull * h.partCount > size) {
        defect("package header: the tables run past the end of the file");
        return false;
    }
    if (h.partCount == 0) defect("package header: no parts");
    if (h.partCount * static_cast<std::uint64_t>(partHeaderSize) > size) {
        defect("package header: " + std::to_string(h.partCount) + " parts cannot fit in " + std::to_string(size) +
               " bytes");
        return false;
    }
    firstPart_ = firstPartOffset(h.boardCount, h.partCount);
    return true;
}

bool Inspector::readOffset(std::uint32_t i, std::uint64_t& offset) {
    std::uint8_t word[4];
    if (!file_.readAt(summary_.header.partTableOffset + 4ull * i, word, 4)) return false;
    offset = getWord(word);
    return true;
}

// Type code 2 is a kernel in the normal layout and an rfs in the old one.
// Codes only the normal layout writes settle it; otherwise a package for
// legacy boards alone is read as old.
void Inspector::chooseLayout() {
    if (options_.forceOld) {
        summary_.oldLayout = true;
        summary_.layoutReason = "forced by --old";
        return;
    }
    for (std::uint32_t i = 0; i < summary_.header.partCount; ++i) {
        std::uint64_t offset = 0;
        std::uint8_t word[4];
        if (!readOffset(i, offset) || !file_.readAt(offset + 4, word, 4)) continue;
        const std::uint32_t code = getWord(word);
        if (code == 3 || code == 5 || code == 6) {
            summary_.layoutReason = "type codes only the normal layout uses";
            return;
        }
    }
    bool allLegacy = summary_.header.boardCount > 0;
    for (std::uint32_t i = 0; i < summary_.header.boardCount && allLegacy; ++i) {
        std::uint8_t word[4];
        allLegacy = file_.readAt(boardTableOffset + 4ull * i, word, 4) &&
                    std::find(legacyBoardCodes.begin(), legacyBoardCodes.end(), getWord(word)) != legacyBoardCodes.end();
    }
    summary_.oldLayout = allLegacy;
    summary_.layoutReason = allLegacy ? "every board is a legacy board" : "not every board is a legacy board";
}

void Inspector::checkBoards() {
    bool found = false;
    for (std::uint32_t i = 0; i < summary_.header.boardCount; ++i) {
        std::uint8_t word[4];
        if (!file_.readAt(boardTableOffset + 4ull * i, word, 4)) return;
        const std::uint32_t code = getWord(word);
        found = found || (options_.requiredBoard && *options_.requiredBoard == code);
        sink_.board(code);
    }
    if (options_.requiredBoard && !found) {
        char text[64];
        std::snprintf(text, sizeof text, "board %04x is not in the board table", *options_.requiredBoard);
        defect(text);
    }
}

void Inspector::checkPlacement(PartReport& r) {
    const std::string at = partLabel(r.number);
    if (r.offset % 4 != 0) defect(at + "offset " + std::to_string(r.offset) + " is not a multiple of 4");
    if (placementKnown_ && r.offset != expectedOffset_)
        defect(at + "starts at " + std::to_string(r.offset) + ", the layout puts it at " +
               std::to_string(expectedOffset_));
    if (r.offset < previousEnd_)
        defect(at + "offset " + std::to_string(r.offset) + " overlaps the tables or the part before it");
}

void Inspector::checkFields(PartReport& r, const PartHeaderBytes& raw) {
    const std::string at = partLabel(r.number);
    const PartHeader& h = r.header;
    if (h.magic != partMagic) defect(at + "part magic is not *PPS");
    if (r.kind == PartKind::unknown) defect(at + "unknown type code " + std::to_string(h.typeCode));
    if (!reservedWordsZero(raw)) defect(at + "reserved words are not zero");
    if (r.kind == PartKind::mtd && (h.partIndex < 1 || h.partIndex > mtdSlotCount))
        defect(at + "mtd index " + std::to_string(h.partIndex) + " is outside 1 to 20");
    if (r.kind != PartKind::mtd && h.partIndex != 0) defect(at + "index " + std::to_string(h.partIndex) + " on a part that has none");
    const bool carriesName = r.kind == PartKind::tar || r.kind == PartKind::named;
    if (!carriesName && h.nameLength != 0) defect(at + "name length " + std::to_string(h.nameLength) + " on a part that has none");
    if (r.offset + partHeaderSize + h.dataLength > file_.size()) {
        defect(at + "data runs past the end of the file");
        return;
    }
    r.dataInside = true;
    if (carriesName) checkNameField(r);
}

void Inspector::checkNameField(PartReport& r) {
    const std::string at = partLabel(r.number);
    const PartHeader& h = r.header;
    const std::uint32_t expected = r.kind == PartKind::tar ? tarPathFieldLength : h.nameLength;
    if (r.kind == PartKind::tar && h.nameLength != tarPathFieldLength) {
        defect(at + "tar path field is " + std::to_string(h.nameLength) + " bytes, expected 40");
        return;
    }
    if (r.kind == PartKind::named && (h.nameLength % 4 != 0 || h.nameLength > largestNameField)) {
        defect(at + "name field of " + std::to_string(h.nameLength) + " bytes is not a whole part name");
        return;
    }
    if (expected > h.dataLength) {
        defect(at + "name field runs past the part's data");
        return;
    }
    std::uint8_t field[largestNameField] = {};
    if (!file_.readAt(r.offset + partHeaderSize, field, expected)) return;
    const std::uint8_t* end = std::find(field, field + expected, std::uint8_t{0});
    r.name.assign(reinterpret_cast<const char*>(field), reinterpret_cast<const char*>(end));
    const bool zeroFill = std::all_of(end, static_cast<const std::uint8_t*>(field + expected), [](std::uint8_t b) { return b == 0; });
    if (r.kind == PartKind::tar && (r.name != tarTargetPath || end == field + expected))
        defect(at + "tar path field does not hold " + std::string(tarTargetPath));
    if (r.kind == PartKind::named && (!zeroFill || nameFieldLengthOf(r.name.size()) != expected))
        defect(at + "name field is not the name padded with zeros");
    if (r.kind == PartKind::named && !names_.insert(r.name).second) defect(at + "part name repeats an earlier part's");
}

void Inspector::checkOrder(const PartReport& r) {
    if (r.kind == PartKind::unknown) return;
    const int rank = writingRank(r.kind);
    const bool repeatsFixed = isFixed(r.kind) && rank == previousRank_;
    const bool mtdBackwards = r.kind == PartKind::mtd && rank == previousRank_ && r.header.partIndex <= previousMtdIndex_;
    if (rank < previousRank_ || repeatsFixed || mtdBackwards)
        defect(partLabel(r.number) + partKindName(r.kind) + " part out of order");
    previousRank_ = rank;
    if (r.kind == PartKind::mtd) previousMtdIndex_ = r.header.partIndex;
}

void Inspector::checkDigest(PartReport& r) {
    Md5Context ctx;
    md5Init(ctx);
    std::uint64_t at = r.offset + partHeaderSize;
    ProgressLine progress("verify", summary_.path.c_str(), r.header.dataLength);
    for (std::uint64_t left = r.header.dataLength; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, readPiece));
        if (!file_.readAt(at, buffer_.get(), n)) {
            defect(partLabel(r.number) + "data cannot be read");
            return;
        }
        md5Update(ctx, buffer_.get(), n);
        progress.advance(n);
        at += n;
        left -= n;
    }
    md5Final(ctx, r.actualDigest);
    r.digestOk = r.actualDigest == r.header.digest;
    if (!r.digestOk) defect(partLabel(r.number) + "digest does not match its data");
}

void Inspector::checkPart(std::uint32_t i) {
    PartReport r;
    r.number = i;
    if (!readOffset(i, r.offset)) return;
    checkPlacement(r);
    PartHeaderBytes raw{};
    if (r.offset + partHeaderSize > file_.size() || !file_.readAt(r.offset, raw.data(), raw.size())) {
        defect(partLabel(i) + "header lies outside the file");
        placementKnown_ = false;
        sink_.part(r);
        return;
    }
    r.headerRead = true;
    r.header = decodePartHeader(raw);
    r.kind = kindOfTypeCode(r.header.typeCode, summary_.oldLayout);
    checkFields(r, raw);
    checkOrder(r);
    if (r.dataInside && options_.checkDigests) checkDigest(r);
    kindBits_ |= kindBitOf(r.kind, summary_.oldLayout);
    const std::uint64_t end = r.offset + partHeaderSize + r.header.dataLength;
    previousEnd_ = std::max(previousEnd_, end);
    lastEnd_ = end;
    expectedOffset_ = advanceOffset(r.offset, r.header.dataLength);
    sink_.part(r);
}

InspectionResult Inspector::run(const char* path) {
    summary_.path = path;
    summary_.fileSize = file_.size();
    if (!checkHeader()) {
        sink_.summary(summary_);
        return InspectionResult::defective;
    }
    chooseLayout();
    sink_.summary(summary_);
    checkBoards();
    expectedOffset_ = firstPart_;
    previousEnd_ = firstPart_;
    for (std::uint32_t i = 0; i < summary_.header.partCount; ++i) checkPart(i);

    if (kindBits_ != summary_.header.kindFlags) {
        char text[96];
        std::snprintf(text, sizeof text, "package header: kind bits 0x%x, the parts present give 0x%x",
                      summary_.header.kindFlags, kindBits_);
        defect(text);
    }
    if (placementKnown_ && summary_.header.partCount > 0 && lastEnd_ < file_.size())
        defect(std::to_string(file_.size() - lastEnd_) + " bytes follow the last part");
    return defects_ == 0 ? InspectionResult::sound : InspectionResult::defective;
}

}  // namespace

const char* partKindName(PartKind kind) {
    if (kind == PartKind::named) return "named";
    if (kind == PartKind::mtd) return "mtd";
    if (kind == PartKind::unknown) return "unknown";
    return kindInfo(fixedOf(kind)).name.data();
}

PartKind kindOfTypeCode(std::uint32_t typeCode, bool oldLayout) {
    if (typeCode == namedTypeCode) return PartKind::named;
    if (typeCode == mtdTypeCode) return PartKind::mtd;
    for (const KindInfo& info : kindTable) {
        const std::uint32_t code = oldLayout ? info.oldTypeCode : info.typeCode;
        if (code != 0 && code == typeCode) return static_cast<PartKind>(info.kind);
    }
    return PartKind::unknown;
}

std::uint32_t kindBitOf(PartKind kind, bool oldLayout) {
    if (kind == PartKind::named) return namedKindBit;
    if (kind == PartKind::mtd) return mtdKindBit;
    if (kind == PartKind::unknown) return 0;
    const KindInfo& info = kindInfo(fixedOf(kind));
    return oldLayout ? info.oldKindBit : info.kindBit;
}

InspectionResult inspectPackage(const char* path, const InspectionOptions& options, InspectionSink& sink) {
    RandomAccessFile file;
    if (!file.open(path)) return InspectionResult::unreadable;
    return Inspector(file, options, sink).run(path);
}

}  // namespace fw
