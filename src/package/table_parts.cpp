// The parts that are more than a header and a file: the tar archive with
// its target path, and the parts of the mtd and named slot tables.
#include <cstring>

#include "package/layout.h"
#include "package/writer_state.h"
#include "platform/files.h"

namespace fw {

// The archive's digest covers the path field too; it is computed while the
// archive is copied, and the header is written again once it is known.
Outcome writeTarPart(WriterState& w) {
    const std::size_t tar = index(FixedKind::tar);
    const char* path = w.job.imagePaths[tar].data();
    const std::uint64_t offset = startPart(w, kindBitWritten(w.job, FixedKind::tar));

    InputFile input;
    if (!input.open(path))
        return reportFailure(w, Outcome::openFailed, path,
                             [&] { std::fprintf(w.out, "cant open [%s]!tar file\n", path); });

    std::uint8_t pathField[tarPathFieldLength] = {};
    std::memcpy(pathField, tarTargetPath.data(), tarTargetPath.size());
    PartHeader& header = w.job.fixedHeaders[tar];
    header.dataLength += tarPathFieldLength;
    header.nameLength = tarPathFieldLength;

    Md5Context digest;
    md5Init(digest);
    md5Update(digest, pathField, sizeof pathField);
    Outcome outcome = copyPart(w, offset, header, {pathField, sizeof pathField}, input,
                               w.job.imageLengths[tar], &digest);
    if (outcome != Outcome::ok) return reportFailure(w, outcome, path, [] {});
    md5Final(digest, header.digest);

    OutputFile& file = w.target.file;
    const std::uint64_t end = file.position();
    const PartHeaderBytes bytes = encodePartHeader(header);
    if (!file.seek(offset) || !file.write(bytes.data(), bytes.size()) || !file.seek(end))
        return reportFailure(w, Outcome::writeFailed, path, [] {});
    advance(w, offset, header.dataLength);
    return Outcome::ok;
}

Outcome writeMtdParts(WriterState& w) {
    PackageJob& job = w.job;
    for (std::size_t s = 0; s < mtdSlotCount; ++s) {
        if (!(job.mtdMask >> s & 1)) continue;
        const char* path = job.mtdPaths[s].data();
        const std::uint64_t offset = startPart(w, mtdKindBit);
        InputFile input;
        Outcome outcome = Outcome::openFailed;
        const NameField name{path, job.mtdHeaders[s].nameLength};
        if (input.open(path)) outcome = copyPart(w, offset, job.mtdHeaders[s], name, input, job.mtdLengths[s]);
        if (outcome != Outcome::ok)
            return reportFailure(w, outcome, path, [&] {
                std::fprintf(w.out, "[%s.%d]cant open [%s]!by index [%d] mask = %x\n", openLocationText,
                             mtdOpenLocation, path, static_cast<int>(s), job.mtdMask);
            });
        std::fprintf(w.out, "[part %d:%s] len = %llu\n", static_cast<int>(s), path,
                     static_cast<unsigned long long>(w.byteCounter));
        advance(w, offset, job.mtdHeaders[s].dataLength);
    }
    return Outcome::ok;
}

Outcome writeNamedParts(WriterState& w) {
    PackageJob& job = w.job;
    for (std::size_t s = 0; s < namedSlotCount; ++s) {
        if (!(job.namedMask >> s & 1)) continue;
        const char* path = job.namedPaths[s].data();
        const char* partName = job.partNames[s].data();
        const std::uint64_t offset = startPart(w, namedKindBit);
        InputFile input;
        Outcome outcome = Outcome::openFailed;
        const NameField name{partName, job.namedHeaders[s].nameLength};
        if (input.open(path)) outcome = copyPart(w, offset, job.namedHeaders[s], name, input, job.namedLengths[s]);
        if (outcome != Outcome::ok)
            return reportFailure(w, outcome, path,
                                 [&] { std::fprintf(w.out, "cant open [%s]!by name[%s]\n", path, partName); });
        std::fprintf(w.out, "[part name <%s,%s>] len = %llu\n", partName, path,
                     static_cast<unsigned long long>(w.byteCounter));
        advance(w, offset, job.namedHeaders[s].dataLength);
    }
    return Outcome::ok;
}

}  // namespace fw
