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

namespace {

// One part per slot in use, in slot order. `nameField(s)` gives the bytes
// between header and file, `openFailed(s)` and `written(s)` print the
// slot's messages.
template <std::size_t N, typename NameField, typename OpenFailed, typename Written>
Outcome writeSlotParts(WriterState& w, std::uint32_t mask, std::uint32_t kindBit,
                       const std::array<PathText, N>& paths, const std::array<PartHeader, N>& headers,
                       const std::array<std::int64_t, N>& lengths, NameField nameField, OpenFailed openFailed,
                       Written written) {
    for (std::size_t s = 0; s < N; ++s) {
        if (!(mask >> s & 1)) continue;
        const char* path = paths[s].data();
        const std::uint64_t offset = startPart(w, kindBit);
        InputFile input;
        Outcome outcome = Outcome::openFailed;
        if (input.open(path)) outcome = copyPart(w, offset, headers[s], nameField(s), input, lengths[s]);
        if (outcome != Outcome::ok) return reportFailure(w, outcome, path, [&] { openFailed(s); });
        written(s);
        advance(w, offset, headers[s].dataLength);
    }
    return Outcome::ok;
}

}  // namespace

// An mtd part has no name field: its file's bytes follow the header.
Outcome writeMtdParts(WriterState& w) {
    const PackageJob& job = w.job;
    return writeSlotParts(
        w, job.mtdMask, mtdKindBit, job.mtdPaths, job.mtdHeaders, job.mtdLengths,
        [&](std::size_t s) { return NameField{job.mtdPaths[s].data(), job.mtdHeaders[s].nameLength}; },
        [&](std::size_t s) {
            std::fprintf(w.out, "[%s.%d]cant open [%s]!by index [%d] mask = %x\n", openLocationText, mtdOpenLocation,
                         job.mtdPaths[s].data(), static_cast<int>(s), job.mtdMask);
        },
        [&](std::size_t s) {
            std::fprintf(w.out, "[part %d:%s] len = %llu\n", static_cast<int>(s), job.mtdPaths[s].data(),
                         static_cast<unsigned long long>(w.byteCounter));
        });
}

// A named part carries its name, zero-filled to the field length, exactly
// the bytes registration put in front of the file when it digested it.
Outcome writeNamedParts(WriterState& w) {
    const PackageJob& job = w.job;
    return writeSlotParts(
        w, job.namedMask, namedKindBit, job.namedPaths, job.namedHeaders, job.namedLengths,
        [&](std::size_t s) { return NameField{job.partNames[s].data(), job.namedHeaders[s].nameLength}; },
        [&](std::size_t s) {
            std::fprintf(w.out, "cant open [%s]!by name[%s]\n", job.namedPaths[s].data(), job.partNames[s].data());
        },
        [&](std::size_t s) {
            std::fprintf(w.out, "[part name <%s,%s>] len = %llu\n", job.partNames[s].data(), job.namedPaths[s].data(),
                         static_cast<unsigned long long>(w.byteCounter));
        });
}

}  // namespace fw
