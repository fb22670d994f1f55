#include "job/registration.h"

#include <cstring>

#include "platform/code_page.h"
#include "platform/files.h"

namespace fw {
namespace {

// The header's length field holds the low 32 bits; an input that could not
// be examined has all bits set there and its reason in the job (the writer
// stops at it). A stream's length is known only once the writer has read it.
std::uint32_t lengthField(std::int64_t length) {
    if (length == streamLength) return 0;
    return length < 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(length);
}

// The digest is left for the writer, which computes it over exactly the
// bytes it puts in the package.
PartHeader freshHeader(std::uint32_t typeCode, std::int64_t dataLength) {
    PartHeader h;
    h.typeCode = typeCode;
    h.dataLength = lengthField(dataLength);
    return h;
}

// The input's length as the file system tells it, without reading it.
std::int64_t lengthOf(const char* path) {
    const InputProbe probe = probeInput(path);
    switch (probe.opening) {
        case Opening::ok: return probe.stream ? streamLength : probe.length;
        case Opening::cannotOpen: return unopenableLength;
        case Opening::notReadable: break;
    }
    return unreadableLength;
}

bool nameEquals(const NameText& stored, const char* name) {
    return std::strncmp(stored.data(), name, stored.size()) == 0 &&
           std::strlen(name) < stored.size();
}

int namedSlotFor(const PackageJob& job, const char* name) {
    return namedSlotOf(job.namedMask, [&](std::size_t s) { return nameEquals(job.partNames[s], name); });
}

void buildImageHeader(PackageJob& job, PartKind kind, std::int64_t length) {
    const std::size_t k = index(kind);
    job.fixedHeaders[k] = freshHeader(kindInfo(kind).typeCode, length);
    job.imageLengths[k] = length;
}

void buildMtdHeader(PackageJob& job, std::size_t slot, std::int64_t length) {
    job.mtdHeaders[slot] = freshHeader(kindInfo(PartKind::mtd).typeCode, length);
    job.mtdHeaders[slot].partIndex = static_cast<std::uint32_t>(slot + 1);
    job.mtdLengths[slot] = length;
    job.mtdMask |= 1u << slot;
}

void buildNamedHeader(PackageJob& job, std::size_t slot, std::uint32_t nameFieldLength,
                      std::int64_t length) {
    const std::int64_t dataLength = length < 0 ? length : nameFieldLength + length;
    job.namedHeaders[slot] = freshHeader(kindInfo(PartKind::named).typeCode, dataLength);
    job.namedHeaders[slot].nameLength = nameFieldLength;
    job.namedLengths[slot] = length;
    job.namedMask |= 1u << slot;
}

}  // namespace

int namedSlotOf(std::uint32_t inUse, const std::function<bool(std::size_t)>& holds) {
    for (std::size_t s = 0; s < namedSlotCount; ++s)
        if ((inUse >> s & 1) && holds(s)) return static_cast<int>(s);
    for (std::size_t s = 0; s < namedSlotCount; ++s)
        if (!(inUse >> s & 1)) return static_cast<int>(s);
    return -1;
}

bool replacedLater(const std::vector<MtdArg>& pairs, std::size_t i) {
    for (std::size_t j = i + 1; j < pairs.size(); ++j)
        if (pairs[j].index == pairs[i].index) return true;
    return false;
}

bool replacedLater(const std::vector<NamedArg>& pairs, std::size_t i) {
    for (std::size_t j = i + 1; j < pairs.size(); ++j)
        if (std::strcmp(pairs[j].name, pairs[i].name) == 0) return true;
    return false;
}

void registerImage(PackageJob& job, PartKind kind, const char* path) {
    const std::size_t k = index(kind);
    if (!fileExists(path) || !setText(job.imagePaths[k], path)) job.imagePaths[k][0] = '\0';
    if (job.imagePaths[k][0] == '\0') return;
    buildImageHeader(job, kind, lengthOf(job.imagePaths[k].data()));
    job.hasImage[k] = 1;
}

void registerMtdParts(PackageJob& job, const std::vector<MtdArg>& pairs) {
    for (const MtdArg& pair : pairs) {
        if (pair.index < 1 || pair.index > static_cast<std::int32_t>(mtdSlotCount)) continue;
        const auto s = static_cast<std::size_t>(pair.index - 1);
        if (fileExists(pair.path) && setText(job.mtdPaths[s], pair.path)) {
            buildMtdHeader(job, s, lengthOf(job.mtdPaths[s].data()));
        } else {
            job.mtdPaths[s][0] = '\0';
            job.mtdMask &= ~(1u << s);
        }
    }
}

// The job holds a name as its field's bytes (the code page's on Windows);
// the scan has refused a name the code page lacks.
void registerNamedParts(PackageJob& job, const std::vector<NamedArg>& pairs) {
    for (const NamedArg& pair : pairs) {
        std::string name;
        if (!nameFieldBytes(pair.name, &name)) continue;
        const int found = namedSlotFor(job, name.c_str());
        if (found < 0) return;
        const auto s = static_cast<std::size_t>(found);
        if (fileExists(pair.path) && setText(job.partNames[s], name.c_str()) &&
            setText(job.namedPaths[s], pair.path)) {
            const std::uint32_t field = nameFieldLengthOf(name.size());
            buildNamedHeader(job, s, field, lengthOf(job.namedPaths[s].data()));
        } else {
            job.namedPaths[s][0] = '\0';
            job.namedMask &= ~(1u << s);
        }
    }
}

}  // namespace fw
