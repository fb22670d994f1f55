#include "inspect/package_reader.h"

#include <algorithm>
#include <set>

#include "format/limits.h"
#include "inspect/data_pass.h"
#include "platform/random_access.h"

namespace fw {
namespace {

constexpr std::uint32_t largestNameField = nameFieldLengthOf(maxPartNameLength);

std::string withLabel(const PartReport& r, const std::string& text) { return partLabel(r) + ": " + text; }

// Rank of a kind in the writing order.
int writingRank(PartKind kind) {
    return static_cast<int>(std::find(writingOrder.begin(), writingOrder.end(), kind) - writingOrder.begin());
}

bool carriesName(PartKind kind) { return kind != PartKind::unknown && kindInfo(kind).nameField != NameField::none; }

// The structure: header, tables, part headers and name fields, with every
// defect they show. Reads a bounded number of small records.
class StructureReader {
public:
    StructureReader(const RandomAccessFile& file, const InspectionOptions& options, InspectionSink& sink)
        : file_(file), options_(options), sink_(sink) {}

    // False when the file is not a package at all.
    bool read(const char* path);
    PackageSummary& summary() { return summary_; }
    std::vector<PartReport>& parts() { return parts_; }
    std::size_t defects() const { return defects_; }
    bool beyondFormat() const { return summary_.beyondFormat; }
    void defect(const std::string& text) {
        ++defects_;
        sink_.defect(text);
    }
    void finalChecks();

private:
    bool checkHeader();
    bool readOffset(std::uint32_t i, std::uint64_t& offset);
    void chooseLayout();
    void checkBoards();
    void readPart(std::uint32_t i);
    void readNameField(PartReport& r);
    void checkPlacement(PartReport& r);
    void checkFields(PartReport& r, const PartHeaderBytes& raw);
    void checkNameField(const PartReport& r);
    void checkOrder(const PartReport& r);

    const RandomAccessFile& file_;
    const InspectionOptions& options_;
    InspectionSink& sink_;
    PackageSummary summary_;
    std::vector<PartReport> parts_;
    std::uint32_t examined_ = 0;
    std::uint64_t expectedOffset_ = 0;  // where the advance rule puts the next part
    std::uint64_t previousEnd_ = 0;
    std::uint64_t lastEnd_ = 0;
    bool placementKnown_ = true;
    std::uint32_t kindBits_ = 0;
    int previousRank_ = -1;
    std::uint32_t previousMtdIndex_ = 0;
    std::set<std::string> names_;
    std::size_t defects_ = 0;
};

bool StructureReader::checkHeader() {
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
    summary_.beyondFormat = h.boardCount > maxBoardCodes;
    if (summary_.beyondFormat)
        defect("package header: board count " + std::to_string(h.boardCount) + ", more than the " +
               std::to_string(maxBoardCodes) + " a package can hold; the board table is not examined");
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
    if (h.partCount > maxPartCount)
        defect("package header: " + std::to_string(h.partCount) + " parts, more than the " +
               std::to_string(maxPartCount) + " a package can hold; only the first " + std::to_string(maxPartCount) +
               " are examined");
    examined_ = std::min<std::uint32_t>(h.partCount, maxPartCount);
    return true;
}

bool StructureReader::readOffset(std::uint32_t i, std::uint64_t& offset) {
    std::uint8_t word[4];
    if (!file_.readAt(summary_.header.partTableOffset + 4ull * i, word, 4)) return false;
    offset = getWord(word);
    return true;
}

// Type code 2 is a kernel in the normal layout and an rfs in the old one,
// 4 an app or a logo. Codes only the normal layout writes settle it;
// otherwise a package for legacy boards alone is read as old, and the
// reading is a guess when a code of both layouts is present.
void StructureReader::chooseLayout() {
    if (options_.layout != LayoutChoice::guess) {
        summary_.oldLayout = options_.layout == LayoutChoice::old;
        summary_.layoutReason = "as --layout says";
        return;
    }
    bool ambiguous = false;
    for (std::uint32_t i = 0; i < examined_; ++i) {
        std::uint64_t offset = 0;
        std::uint8_t word[4];
        if (!readOffset(i, offset) || !file_.readAt(offset + 4, word, 4)) continue;
        const std::uint32_t code = getWord(word);
        if (kindOfTypeCode(code, true) == PartKind::unknown && kindOfTypeCode(code, false) != PartKind::unknown) {
            summary_.layoutReason = "type codes only the normal layout uses";
            return;
        }
        ambiguous = ambiguous || kindOfTypeCode(code, true) != kindOfTypeCode(code, false);
    }
    bool allLegacy = summary_.header.boardCount > 0 && summary_.header.boardCount <= maxBoardCodes;
    for (std::uint32_t i = 0; i < summary_.header.boardCount && allLegacy; ++i) {
        std::uint8_t word[4];
        allLegacy = file_.readAt(boardTableOffset + 4ull * i, word, 4) &&
                    std::find(legacyBoardCodes.begin(), legacyBoardCodes.end(), getWord(word)) != legacyBoardCodes.end();
    }
    summary_.oldLayout = allLegacy;
    summary_.layoutReason = allLegacy ? "every board is a legacy board" : "not every board is a legacy board";
    summary_.layoutGuessed = ambiguous;
}

// A board count beyond what a package holds was reported by checkHeader;
// such a table is neither read nor listed, whatever it claims.
void StructureReader::checkBoards() {
    bool found = false;
    std::string held;
    const std::uint32_t count = summary_.header.boardCount;
    std::uint8_t table[4 * maxBoardCodes];
    if (count <= maxBoardCodes && file_.readAt(boardTableOffset, table, 4ull * count)) {
        for (std::uint32_t j = 0; j < count; ++j) {
            const std::uint32_t code = getWord(&table[4 * j]);
            found = found || (options_.requiredBoard && *options_.requiredBoard == code);
            char text[16];
            std::snprintf(text, sizeof text, " %04x", code);
            held += text;
            sink_.board(code);
        }
    }
    if (options_.requiredBoard && !found) {
        char text[64];
        std::snprintf(text, sizeof text, "board %04x is not in the board table", *options_.requiredBoard);
        defect(text + (held.empty() ? std::string() : ", which holds" + held));
    }
}

void StructureReader::readNameField(PartReport& r) {
    const std::uint32_t length = std::min(r.header.nameLength, r.header.dataLength);
    if (!carriesName(r.kind) || length == 0 || length > largestNameField ||
        r.offset + partHeaderSize + length > file_.size())
        return;
    std::uint8_t field[largestNameField] = {};
    if (!file_.readAt(r.offset + partHeaderSize, field, length)) return;
    const std::uint8_t* end = std::find(field, field + length, std::uint8_t{0});
    r.name.assign(reinterpret_cast<const char*>(field), reinterpret_cast<const char*>(end));
}

void StructureReader::checkPlacement(PartReport& r) {
    if (r.offset % 4 != 0) defect(withLabel(r, "offset " + std::to_string(r.offset) + " is not a multiple of 4"));
    if (placementKnown_ && r.offset != expectedOffset_)
        defect(withLabel(r, "starts at " + std::to_string(r.offset) + ", the layout puts it at " +
                                std::to_string(expectedOffset_)));
    if (r.offset < previousEnd_) {
        r.overlaps = true;
        defect(withLabel(r, "offset " + std::to_string(r.offset) +
                                " overlaps the tables or an earlier part; its data is not read again"));
    }
}

void StructureReader::checkFields(PartReport& r, const PartHeaderBytes& raw) {
    const PartHeader& h = r.header;
    if (h.magic != partMagic) defect(withLabel(r, "part magic is not *PPS"));
    if (r.kind == PartKind::unknown) defect(withLabel(r, "unknown type code " + std::to_string(h.typeCode)));
    if (!reservedWordsZero(raw)) defect(withLabel(r, "reserved words are not zero"));
    if (r.kind == PartKind::mtd && (h.partIndex < 1 || h.partIndex > mtdSlotCount))
        defect(withLabel(r, "mtd index " + std::to_string(h.partIndex) + " is outside 1 to 20"));
    if (r.kind != PartKind::mtd && h.partIndex != 0)
        defect(withLabel(r, "index " + std::to_string(h.partIndex) + " on a part that has none"));
    if (!carriesName(r.kind) && h.nameLength != 0)
        defect(withLabel(r, "name length " + std::to_string(h.nameLength) + " on a part that has none"));
    if (r.offset + partHeaderSize + h.dataLength > file_.size()) {
        defect(withLabel(r, "data runs past the end of the file"));
        return;
    }
    r.dataInside = true;
    r.contentLength = h.dataLength - contentOffset(r);
    if (carriesName(r.kind)) checkNameField(r);
}

void StructureReader::checkNameField(const PartReport& r) {
    const PartHeader& h = r.header;
    if (r.kind == PartKind::tar && h.nameLength != tarPathFieldLength) {
        defect(withLabel(r, "tar path field is " + std::to_string(h.nameLength) + " bytes, expected 40"));
        return;
    }
    if (r.kind == PartKind::named && (h.nameLength % 4 != 0 || h.nameLength > largestNameField)) {
        defect(withLabel(r, "name field of " + std::to_string(h.nameLength) + " bytes is not a whole part name"));
        return;
    }
    if (h.nameLength > h.dataLength) {
        defect(withLabel(r, "name field runs past the part's data"));
        return;
    }
    std::uint8_t field[largestNameField] = {};
    if (!file_.readAt(r.offset + partHeaderSize, field, h.nameLength)) return;
    const bool terminated = r.name.size() < h.nameLength;
    const bool zeroFill = std::all_of(field + r.name.size(), field + h.nameLength, [](std::uint8_t b) { return b == 0; });
    if (r.kind == PartKind::tar && (r.name != tarTargetPath || !terminated))
        defect(withLabel(r, "tar path field does not hold " + std::string(tarTargetPath)));
    if (r.kind == PartKind::named && (!zeroFill || nameFieldLengthOf(r.name.size()) != h.nameLength))
        defect(withLabel(r, "name field is not the name padded with zeros"));
    if (r.kind == PartKind::named && !names_.insert(r.name).second)
        defect(withLabel(r, "part name repeats an earlier part's"));
}

void StructureReader::checkOrder(const PartReport& r) {
    if (r.kind == PartKind::unknown) return;
    const int rank = writingRank(r.kind);
    const bool repeatsFixed = isFixed(r.kind) && rank == previousRank_;
    const bool mtdBackwards = r.kind == PartKind::mtd && rank == previousRank_ && r.header.partIndex <= previousMtdIndex_;
    if (rank < previousRank_ || repeatsFixed || mtdBackwards)
        defect(withLabel(r, std::string(kindName(r.kind)) + " part out of order"));
    previousRank_ = rank;
    if (r.kind == PartKind::mtd) previousMtdIndex_ = r.header.partIndex;
}

void StructureReader::readPart(std::uint32_t i) {
    PartReport r;
    r.number = i;
    if (!readOffset(i, r.offset)) return;
    PartHeaderBytes raw{};
    if (r.offset + partHeaderSize > file_.size() || !file_.readAt(r.offset, raw.data(), raw.size())) {
        checkPlacement(r);
        defect(withLabel(r, "header lies outside the file"));
        placementKnown_ = false;
        parts_.push_back(r);
        return;
    }
    r.headerRead = true;
    r.header = decodePartHeader(raw);
    r.kind = kindOfTypeCode(r.header.typeCode, summary_.oldLayout);
    readNameField(r);
    checkPlacement(r);
    checkFields(r, raw);
    checkOrder(r);
    kindBits_ |= kindBitOf(r.kind, summary_.oldLayout);
    const std::uint64_t end = r.offset + partHeaderSize + r.header.dataLength;
    previousEnd_ = std::max(previousEnd_, end);
    lastEnd_ = end;
    expectedOffset_ = advanceOffset(r.offset, r.header.dataLength);
    parts_.push_back(r);
}

bool StructureReader::read(const char* path) {
    summary_.path = path;
    summary_.fileSize = file_.size();
    if (!checkHeader()) return false;
    summary_.structureRead = true;
    chooseLayout();
    sink_.summary(summary_);
    checkBoards();
    expectedOffset_ = previousEnd_ = firstPartOffset(summary_.header.boardCount, summary_.header.partCount);
    for (std::uint32_t i = 0; i < examined_; ++i) readPart(i);
    return true;
}

void StructureReader::finalChecks() {
    if (kindBits_ != summary_.header.kindFlags) {
        char text[96];
        std::snprintf(text, sizeof text, "package header: kind bits 0x%x, the parts present give 0x%x",
                      summary_.header.kindFlags, kindBits_);
        defect(text);
    }
    const std::uint32_t count = summary_.header.partCount;
    if (placementKnown_ && count > 0 && count <= maxPartCount && lastEnd_ < file_.size())
        defect(std::to_string(file_.size() - lastEnd_) + " bytes follow the last part");
}

}  // namespace

std::uint32_t contentOffset(const PartReport& r) {
    return carriesName(r.kind) ? std::min(r.header.nameLength, r.header.dataLength) : 0;
}

PartIdentity identityOf(const PartReport& r) { return {r.kind, r.header.partIndex, r.name}; }

std::string partLabel(const PartReport& r) {
    const std::string label = "part " + std::to_string(r.number);
    return r.headerRead ? label + " (" + describe(identityOf(r)) + ")" : label;
}

InspectionResult inspectPackage(const char* path, const InspectionOptions& options, InspectionSink& sink,
                                std::string* why) {
    RandomAccessFile file;
    if (!file.open(path, why)) return InspectionResult::unreadable;
    StructureReader structure(file, options, sink);
    if (!structure.read(path)) {
        sink.summary(structure.summary());
        // Whoever asked for the whole file's digest still gets it.
        std::vector<PartReport> none;
        DataPass pass(file, options, readJobsFor(none, options, file.size()));
        pass.run(path);
        return InspectionResult::defective;
    }
    std::vector<PartReport>& parts = structure.parts();
    if (options.partData != nullptr && !options.partData->prepare(structure.summary(), parts))
        return InspectionResult::stopped;
    if (options.afterStructure) options.afterStructure();

    // A table claiming more than the format holds makes the file's size a
    // made-up figure (a sparse file of holes): its bytes are not digested whole.
    InspectionOptions dataOptions = options;
    if (structure.beyondFormat()) dataOptions.wholeFile = nullptr;
    DataPass pass(file, dataOptions, readJobsFor(parts, dataOptions, file.size()));
    const std::vector<ReadJob>& jobs = pass.run(path);
    if (pass.stopped()) return InspectionResult::stopped;
    for (const ReadJob& job : jobs) {
        if (!job.failed) continue;
        if (job.part != nullptr) structure.defect(withLabel(*job.part, "data cannot be read"));
        else structure.defect("the package cannot be read whole");
    }
    for (const PartReport& r : parts) {
        if (r.digested && !r.digestOk) structure.defect(withLabel(r, "digest does not match its data"));
        sink.part(r);
    }
    structure.finalChecks();
    return structure.defects() == 0 ? InspectionResult::sound : InspectionResult::defective;
}

}  // namespace fw
