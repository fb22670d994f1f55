#include "package/part_plan.h"

#include <cstring>

namespace fw {
namespace {

// The old layout leaves out the kinds it has no type code for.
bool gateOpen(const PackageJob& job, PartKind kind) {
    return job.hasImage[index(kind)] != 0 && (job.oldLayout == 0 || kindInfo(kind).oldTypeCode != 0);
}

PlannedPart fixedPart(const PackageJob& job, PartKind kind) {
    PlannedPart p;
    p.kind = kind;
    const std::size_t k = index(kind);
    p.path = job.imagePaths[k].data();
    p.inputLength = job.imageLengths[k];
    p.header = job.fixedHeaders[k];
    p.header.typeCode = typeCodeOf(kind, job.oldLayout != 0);
    if (kindInfo(kind).nameField == NameField::targetPath) {
        std::memcpy(p.field.data(), tarTargetPath.data(), tarTargetPath.size());
        p.fieldLength = tarPathFieldLength;
        p.header.nameLength = tarPathFieldLength;
    }
    return p;
}

PlannedPart slotPart(PartKind kind, std::size_t s, const PathText& path, std::int64_t length, const PartHeader& header) {
    PlannedPart p;
    p.kind = kind;
    p.slot = s;
    p.path = path.data();
    p.inputLength = length;
    p.header = header;
    return p;
}

PlannedPart mtdPart(const PackageJob& job, std::size_t s) {
    return slotPart(PartKind::mtd, s, job.mtdPaths[s], job.mtdLengths[s], job.mtdHeaders[s]);
}

// The name and the zero bytes after it, exactly as registration keeps them.
PlannedPart namedPart(const PackageJob& job, std::size_t s) {
    PlannedPart p = slotPart(PartKind::named, s, job.namedPaths[s], job.namedLengths[s], job.namedHeaders[s]);
    p.fieldLength = job.namedHeaders[s].nameLength;
    std::memcpy(p.field.data(), job.partNames[s].data(), p.fieldLength);
    return p;
}

std::vector<PlannedPart> partsOf(const PackageJob& job) {
    std::vector<PlannedPart> parts;
    for (PartKind kind : writingOrder)
        if (isFixed(kind) && gateOpen(job, kind)) parts.push_back(fixedPart(job, kind));
    for (std::size_t s = 0; s < mtdSlotCount; ++s)
        if (job.mtdMask >> s & 1) parts.push_back(mtdPart(job, s));
    for (std::size_t s = 0; s < namedSlotCount; ++s)
        if (job.namedMask >> s & 1) parts.push_back(namedPart(job, s));
    return parts;
}

bool examined(const PlannedPart& p) { return p.inputLength >= 0 || p.inputLength == streamLength; }

// Places the parts one after another. A stream ends the known offsets; an
// input that could not be examined ends the walk, as the writer stops there.
void placeParts(PackagePlan& plan, std::uint64_t limit) {
    std::uint64_t offset = plan.firstPartOffset;
    plan.unplaced = plan.parts.size();
    for (std::size_t i = 0; i < plan.parts.size(); ++i) {
        PlannedPart& p = plan.parts[i];
        if (!examined(p)) {
            plan.unplaced = i;
            return;
        }
        p.offset = offset;
        const std::uint64_t input = p.inputLength == streamLength ? 0 : static_cast<std::uint64_t>(p.inputLength);
        const std::uint64_t dataLength = p.fieldLength + input;
        if (!partFits(offset, dataLength, limit)) {
            plan.beyondLimit = p.path;
            return;
        }
        if (p.inputLength == streamLength) plan.offsetsKnown = false;
        plan.size = offset + partHeaderSize + dataLength;
        offset = advanceOffset(offset, dataLength);
    }
}

}  // namespace

PackagePlan planPackage(const PackageJob& job, std::uint64_t limit) {
    PackagePlan plan;
    plan.parts = partsOf(job);
    for (const PlannedPart& p : plan.parts) plan.kindFlags |= kindBitOf(p.kind, job.oldLayout != 0);
    plan.firstPartOffset = firstPartOffset(job.boardCount, plan.parts.size());
    placeParts(plan, limit);
    return plan;
}

}  // namespace fw
