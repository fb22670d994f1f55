// The records of each part, as the structure reader reads them in table order.
#include "inspect/reader/structure_reader.h"

#include <algorithm>

namespace fw {

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
    const std::uint64_t end = r.offset + partHeaderSize + r.header.dataLength;
    // Its data running past the end is the last thing checkPartFields says.
    if (!r.dataInside && extendsCut(r.offset, end, true)) {
        cut_.held.push_back(withLabel(r, found.back()));
        found.pop_back();
    }
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
        const std::string outside = withLabel(r, "header lies outside the file");
        if (extendsCut(r.offset, r.offset + partHeaderSize, false)) {
            cut_.held.push_back(outside);
        } else {
            checkPlacement(r);
            defect(outside);
        }
        placementKnown_ = false;
        parts_.push_back(r);
        return;
    }
    r.headerRead = true;
    // A header inside the file: whatever ran past its end was no cut.
    if (cut_.seen) breakCut();
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

// The part at `offset`, ending at `end` past the file's end, goes on the
// cut: the first where the layout puts it, each later one past the one
// before. A part that does not undoes the cut.
bool StructureReader::extendsCut(std::uint64_t offset, std::uint64_t end, bool exact) {
    const bool fits = !cut_.broken && end > file_.size() && offset % 4 == 0 &&
                      (cut_.seen ? offset >= cut_.needed : placementKnown_ && offset == expectedOffset_);
    if (!fits) {
        breakCut();
        return false;
    }
    cut_.seen = true;
    cut_.needed = end;
    cut_.exact = exact;
    return true;
}

void StructureReader::breakCut() {
    cut_.broken = true;
    for (const std::string& text : cut_.held) defect(text);
    cut_.held.clear();
}

void StructureReader::settleCut() {
    if (!cutShort()) return;
    defect("cut short at " + std::to_string(file_.size()) + " of " + (cut_.exact ? "" : "at least ") +
           std::to_string(cut_.needed) + " bytes");
}

}  // namespace fw
