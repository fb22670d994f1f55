#include "inspect/reader/package_reader.h"

#include <algorithm>
#include <new>
#include <set>

#include "format/layout_guess.h"
#include "format/limits.h"
#include "format/part_checks.h"
#include "inspect/reader/data_pass.h"
#include "inspect/reader/whole_file_pass.h"
#include "platform/code_page.h"
#include "platform/parallel_pass.h"
#include "platform/random_access.h"

namespace fw {
namespace {

std::string withLabel(const PartReport& r, const std::string& text) { return partLabel(r) + ": " + text; }

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
    // Every stretch read, when the whole file is digested to confirm them.
    const std::vector<StructureBytes>& bytesRead() const { return read_; }

private:
    bool readAt(std::uint64_t offset, void* into, std::size_t count);
    bool checkHeader();
    bool readOffset(std::uint32_t i, std::uint64_t& offset);
    void chooseLayout();
    bool readBoards(std::vector<std::uint32_t>& into);
    void checkBoards();
    void readPart(std::uint32_t i);
    void readNameField(PartReport& r);
    void checkPlacement(PartReport& r);
    void checkPadding(const PartReport& r);
    void checkFields(PartReport& r, const PartHeaderBytes& raw);
    void checkNameField(const PartReport& r);
    void checkOrder(const PartReport& r);
    void report(const PartReport& r, const Defects& found);

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
    WritingOrder order_;
    std::set<std::string> names_;
    std::size_t defects_ = 0;
    std::vector<StructureBytes> read_;
};

bool StructureReader::readAt(std::uint64_t offset, void* into, std::size_t count) {
    if (!file_.readAt(offset, into, count)) return false;
    if (options_.wholeFile && count > 0) {
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
    std::vector<std::uint32_t> codes, boards;
    for (std::uint32_t i = 0; i < examined_; ++i) {
        std::uint64_t offset = 0;
        std::uint8_t word[4];
        if (readOffset(i, offset) && readAt(offset + 4, word, 4)) codes.push_back(getWord(word));
    }
    const bool boardsRead = readBoards(boards);
    const LayoutGuess guess = guessLayout(codes, boardsRead ? &boards : nullptr);
    summary_.oldLayout = guess.oldLayout;
    summary_.layoutReason = guess.reason;
    summary_.layoutGuessed = guess.guessed;
}

// The board table, when its count is one a package can hold and it reads.
bool StructureReader::readBoards(std::vector<std::uint32_t>& into) {
    const std::uint32_t count = summary_.header.boardCount;
    std::uint8_t table[4 * maxBoardCodes];
    if (count > maxBoardCodes || !readAt(boardTableOffset, table, 4ull * count)) return false;
    for (std::uint32_t j = 0; j < count; ++j) into.push_back(getWord(&table[4 * j]));
    return true;
}

// A board count beyond what a package holds was reported by checkHeader;
// such a table is neither read nor listed, whatever it claims.
void StructureReader::checkBoards() {
    bool found = false;
    std::string held;
    std::vector<std::uint32_t> boards;
    readBoards(boards);
    for (std::uint32_t code : boards) {
        found = found || (options_.requiredBoard && *options_.requiredBoard == code);
        char text[16];
        std::snprintf(text, sizeof text, " %04x", code);
        held += text;
        sink_.board(code);
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
    if (!readAt(r.offset + partHeaderSize, field, length)) return;
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

// The 0 to 3 bytes the layout puts between a part and the one before it
// are zero; a byte there is covered by no digest, so it is checked here.
void StructureReader::checkPadding(const PartReport& r) {
    if (!placementKnown_ || r.offset != expectedOffset_ || lastEnd_ >= r.offset) return;
    std::uint8_t pad[4] = {};
    const auto count = static_cast<std::size_t>(r.offset - lastEnd_);
    if (!readAt(lastEnd_, pad, count)) return;
    if (std::any_of(pad, pad + count, [](std::uint8_t b) { return b != 0; }))
        defect(withLabel(r, "the " + std::to_string(count) + " padding bytes before it are not zero"));
}

void StructureReader::report(const PartReport& r, const Defects& found) {
    for (const std::string& text : found) defect(withLabel(r, text));
}

void StructureReader::checkFields(PartReport& r, const PartHeaderBytes& raw) {
    Defects found;
    r.dataInside = checkPartFields(raw, r.kind, r.offset, file_.size(), found);
    report(r, found);
    if (!r.dataInside) return;
    r.contentLength = r.header.dataLength - contentOffset(r);
    if (carriesName(r.kind)) checkNameField(r);
}

void StructureReader::checkNameField(const PartReport& r) {
    Defects found;
    std::uint8_t field[largestNameField] = {};
    const bool read = checkNameFieldShape(r.kind, r.header, found) &&
                      readAt(r.offset + partHeaderSize, field, r.header.nameLength);
    if (read) checkNameFieldBytes(r.kind, r.header, field, r.name, found);
    if (read && r.kind == PartKind::named && !names_.insert(r.name).second)
        found.push_back("part name repeats an earlier part's");
    report(r, found);
}

void StructureReader::checkOrder(const PartReport& r) {
    if (!order_.admits(r.kind, r.header.partIndex))
        defect(withLabel(r, std::string(kindName(r.kind)) + " part out of order"));
}

void StructureReader::readPart(std::uint32_t i) {
    PartReport r;
    r.number = i;
    if (!readOffset(i, r.offset)) return;
    PartHeaderBytes raw{};
    if (r.offset + partHeaderSize > file_.size() || !readAt(r.offset, raw.data(), raw.size())) {
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
    checkPadding(r);
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
    expectedOffset_ = previousEnd_ = lastEnd_ =
        firstPartOffset(summary_.header.boardCount, summary_.header.partCount);
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

// The data, read in one of the two ways: stopped when told to stop,
// unreadable when memory ran out, else sound (whatever the data holds). A
// structural byte that read differently the second time is a defect.
InspectionResult readData(const RandomAccessFile& file, const InspectionOptions& options,
                          std::vector<ReadJob>& jobs, StructureReader& structure, const char* path,
                          std::string* why) {
    if (!options.wholeFile) {
        DataPass pass(file, options, std::move(jobs));
        const bool read = pass.run(path, why);
        jobs = std::move(pass.jobs());
        if (!read) return InspectionResult::unreadable;
        return pass.stopped() ? InspectionResult::stopped : InspectionResult::sound;
    }
    WholeFilePass pass(file, options, jobs, structure.bytesRead());
    if (!pass.run(path, why)) return InspectionResult::unreadable;
    if (const auto at = pass.changedAt())
        structure.defect("the package changed while it was read: the byte at offset " + std::to_string(*at) +
                         " read differently the second time");
    return pass.stopped() ? InspectionResult::stopped : InspectionResult::sound;
}

}  // namespace

std::uint32_t contentOffset(const PartReport& r) {
    return carriesName(r.kind) ? std::min(r.header.nameLength, r.header.dataLength) : 0;
}

// Bytes that are no text in this machine's code page stay as they are, and
// are escaped wherever they are shown.
std::string nameText(const PartReport& r) {
    std::string text = r.name;
    if (r.kind == PartKind::named) nameFieldText(r.name, &text);
    return text;
}

PartIdentity identityOf(const PartReport& r) { return {r.kind, r.header.partIndex, nameText(r)}; }

std::string partLabel(const PartReport& r) {
    const std::string label = "part " + std::to_string(r.number);
    return r.headerRead ? label + " (" + describe(identityOf(r)) + ")" : label;
}

namespace {

InspectionResult inspectOnce(const char* path, const InspectionOptions& options, InspectionSink& sink,
                             std::string* why) {
    RandomAccessFile file;
    if (!file.open(path, why)) return InspectionResult::unreadable;
    StructureReader structure(file, options, sink);
    if (!structure.read(path)) {
        sink.summary(structure.summary());
        // Whoever asked for the whole file's digest still gets it.
        std::vector<PartReport> none;
        std::vector<ReadJob> jobs = readJobsFor(none, options, file.size());
        const InspectionResult read = readData(file, options, jobs, structure, path, why);
        return read == InspectionResult::unreadable ? read : InspectionResult::defective;
    }
    std::vector<PartReport>& parts = structure.parts();
    if (options.partData != nullptr && !options.partData->prepare(structure.summary(), parts))
        return InspectionResult::stopped;
    if (options.afterStructure) options.afterStructure();

    // A table claiming more than the format holds makes the file's size a
    // made-up figure (a sparse file of holes): its bytes are not digested whole.
    InspectionOptions dataOptions = options;
    if (structure.beyondFormat()) dataOptions.wholeFile = nullptr;
    std::vector<ReadJob> jobs = readJobsFor(parts, dataOptions, file.size());
    const InspectionResult read = readData(file, dataOptions, jobs, structure, path, why);
    if (read != InspectionResult::sound) return read;
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
    if (!file.unchangedAt(path)) structure.defect("the package changed while it was read, or its path now names another file");
    return structure.defects() == 0 ? InspectionResult::sound : InspectionResult::defective;
}

}  // namespace

// Memory that runs out on the calling thread (the structure, a report)
// ends the inspection as memory that runs out in the reader's threads does.
InspectionResult inspectPackage(const char* path, const InspectionOptions& options, InspectionSink& sink,
                                std::string* why) {
    std::string reason;
    try {
        const InspectionResult result = inspectOnce(path, options, sink, &reason);
        if (why != nullptr) *why = reason;
        return result;
    } catch (const std::bad_alloc&) {
        if (why != nullptr) *why = outOfMemory;
        return InspectionResult::unreadable;
    }
}

}  // namespace fw
