#include "job/registration.h"

#include <cstring>

#include "digest/file_digest.h"
#include "platform/files.h"

namespace fw {
namespace {

// The header's length field holds the low 32 bits; an unreadable input's -1
// becomes all bits set there, and its true length stays in the job.
std::uint32_t lengthField(std::int64_t length) { return static_cast<std::uint32_t>(length); }

PartHeader freshHeader(std::uint32_t typeCode, std::int64_t dataLength, const Digest& digest) {
    PartHeader h;
    h.typeCode = typeCode;
    h.dataLength = lengthField(dataLength);
    h.digest = digest;
    return h;
}

bool nameEquals(const NameText& stored, const char* name) {
    return std::strncmp(stored.data(), name, stored.size()) == 0 &&
           std::strlen(name) < stored.size();
}

// The slot of a part name: the lowest slot in use under that name, else the
// lowest free slot, else none (-1).
int namedSlotFor(const PackageJob& job, const char* name) {
    for (std::size_t s = 0; s < namedSlotCount; ++s)
        if ((job.namedMask >> s & 1) && nameEquals(job.partNames[s], name)) return static_cast<int>(s);
    for (std::size_t s = 0; s < namedSlotCount; ++s)
        if (!(job.namedMask >> s & 1)) return static_cast<int>(s);
    return -1;
}

}  // namespace

void buildImageHeader(PackageJob& job, FixedKind kind, std::int64_t length) {
    const std::size_t k = index(kind);
    job.fixedHeaders[k] = freshHeader(kindInfo(kind).typeCode, length, job.imageDigests[k]);
    job.imageLengths[k] = length;
}

void buildMtdHeader(PackageJob& job, std::size_t slot, std::int64_t length) {
    job.mtdHeaders[slot] = freshHeader(mtdTypeCode, length, job.mtdDigests[slot]);
    job.mtdHeaders[slot].partIndex = static_cast<std::uint32_t>(slot + 1);
    job.mtdLengths[slot] = length;
    job.mtdMask |= 1u << slot;
}

void buildNamedHeader(PackageJob& job, std::size_t slot, std::uint32_t nameFieldLength,
                      std::int64_t length) {
    job.namedHeaders[slot] = freshHeader(namedTypeCode, nameFieldLength + length, job.namedDigests[slot]);
    job.namedHeaders[slot].nameLength = nameFieldLength;
    job.namedLengths[slot] = length;
    job.namedMask |= 1u << slot;
}

void registerImage(PackageJob& job, FixedKind kind, const char* path) {
    const std::size_t k = index(kind);
    if (!fileExists(path) || !setText(job.imagePaths[k], path)) job.imagePaths[k][0] = '\0';
    if (job.imagePaths[k][0] == '\0') return;
    const std::int64_t length = digestFile(job.imageDigests[k], nullptr, 0, job.imagePaths[k].data());
    buildImageHeader(job, kind, length);
    job.hasImage[k] = 1;
}

void registerMtdParts(PackageJob& job, const std::vector<MtdArg>& pairs) {
    for (const MtdArg& pair : pairs) {
        if (pair.index < 1 || pair.index > static_cast<std::int32_t>(mtdSlotCount)) continue;
        const auto s = static_cast<std::size_t>(pair.index - 1);
        if (fileExists(pair.path) && setText(job.mtdPaths[s], pair.path)) {
            const std::int64_t length = digestFile(job.mtdDigests[s], nullptr, 0, job.mtdPaths[s].data());
            buildMtdHeader(job, s, length);
        } else {
            job.mtdPaths[s][0] = '\0';
            job.mtdMask &= ~(1u << s);
        }
    }
}

void registerNamedParts(PackageJob& job, const std::vector<NamedArg>& pairs) {
    for (const NamedArg& pair : pairs) {
        const int found = namedSlotFor(job, pair.name);
        if (found < 0) return;
        const auto s = static_cast<std::size_t>(found);
        if (fileExists(pair.path) && setText(job.partNames[s], pair.name) &&
            setText(job.namedPaths[s], pair.path)) {
            const std::uint32_t field = nameFieldLengthOf(std::strlen(pair.name));
            const std::int64_t length = digestFile(job.namedDigests[s], job.partNames[s].data(),
                                                   static_cast<std::int32_t>(field), job.namedPaths[s].data());
            buildNamedHeader(job, s, field, length);
        } else {
            job.namedPaths[s][0] = '\0';
            job.namedMask &= ~(1u << s);
        }
    }
}

}  // namespace fw
