#include "package/writer.h"

#include "package/layout.h"
#include "package/writer_state.h"
#include "platform/files.h"
#include "platform/progress.h"

namespace fw {

std::uint64_t startPart(WriterState& w, std::uint32_t kindBit) {
    w.job.fileHeader.kindFlags |= kindBit;
    w.offsets.push_back(static_cast<std::uint32_t>(w.nextOffset));
    w.byteCounter = 0;
    return w.nextOffset;
}

void advance(WriterState& w, std::uint64_t partOffset, std::uint32_t dataLength) {
    w.nextOffset = advanceOffset(partOffset, dataLength);
}

namespace {

// Gaps are written as zero bytes rather than skipped, so a package written
// in place onto a device holds zeros there too.
bool moveTo(OutputFile& file, std::uint64_t offset) {
    if (file.position() < offset) return file.writeZeros(offset - file.position());
    return file.position() == offset || file.seek(offset);
}

}  // namespace

Outcome copyPart(WriterState& w, std::uint64_t partOffset, const PartHeader& header, NameField name,
                 InputFile& input, std::int64_t expectedLength, Md5Context* digest) {
    OutputFile& file = w.target.file;
    const PartHeaderBytes bytes = encodePartHeader(header);
    if (!moveTo(file, partOffset) || !file.write(bytes.data(), bytes.size()) ||
        (name.length > 0 && !file.write(name.bytes, name.length)))
        return Outcome::writeFailed;

    std::int64_t total = 0;
    ProgressLine progress("write", input.path(), input.size());
    for (;;) {
        const std::int64_t n = input.read(w.job.copyBuffer.data(), w.job.copyBuffer.size());
        if (n < 0) return Outcome::readFailed;
        if (n == 0) break;
        total += n;
        if (total > expectedLength) return Outcome::readFailed;
        if (digest != nullptr) md5Update(*digest, w.job.copyBuffer.data(), static_cast<std::size_t>(n));
        if (!file.write(w.job.copyBuffer.data(), static_cast<std::size_t>(n))) return Outcome::writeFailed;
        progress.advance(static_cast<std::uint64_t>(n));
    }
    input.close();
    w.byteCounter = static_cast<std::uint64_t>(total);
    if (total != expectedLength) return Outcome::readFailed;
    // A part is reported done only once its bytes have reached the file.
    return file.flush() ? Outcome::ok : Outcome::writeFailed;
}

namespace {

void printPacks(const PackageJob& job, std::FILE* out) {
    auto has = [&](FixedKind k) { return job.hasImage[index(k)]; };
    std::fprintf(out, "packs :%d,%d,%d-%d,%d,%d-%d flash-%d \n", has(FixedKind::boot), has(FixedKind::kernel),
                 has(FixedKind::rfs), has(FixedKind::app), has(FixedKind::logo), has(FixedKind::chlogo),
                 has(FixedKind::tar), has(FixedKind::flash));
}

void printOpenFailure(std::FILE* out, const KindInfo& info, const char* path) {
    if (info.openLocation != 0) std::fprintf(out, "[%s.%d]", openLocationText, info.openLocation);
    std::fprintf(out, "cant open [%s]!%.*s\n", path, static_cast<int>(info.openSuffix.size()),
                 info.openSuffix.data());
}

Outcome writeFixedPart(WriterState& w, FixedKind kind) {
    const KindInfo& info = kindInfo(kind);
    const char* path = w.job.imagePaths[index(kind)].data();
    const std::uint64_t offset = startPart(w, kindBitWritten(w.job, kind));

    InputFile input;
    Outcome outcome = Outcome::openFailed;
    // Registration gives the normal layout's code; the header is a copy so
    // the job keeps it.
    PartHeader header = w.job.fixedHeaders[index(kind)];
    header.typeCode = typeCodeWritten(w.job, kind);
    if (input.open(path)) outcome = copyPart(w, offset, header, {}, input, w.job.imageLengths[index(kind)]);
    if (outcome != Outcome::ok)
        return reportFailure(w, outcome, path, [&] { printOpenFailure(w.out, info, path); });

    if (!info.countLabel.empty())
        std::fprintf(w.out, "%.*s len = %llu\n", static_cast<int>(info.countLabel.size()), info.countLabel.data(),
                     static_cast<unsigned long long>(w.byteCounter));
    advance(w, offset, header.dataLength);
    return Outcome::ok;
}

// Each step has printed its own message when it fails.
bool writeParts(WriterState& w) {
    for (FixedKind kind : writingOrder) {
        if (kind == FixedKind::tar || !gateOpen(w.job, kind)) continue;
        if (writeFixedPart(w, kind) != Outcome::ok) return false;
    }
    if (gateOpen(w.job, FixedKind::tar) && writeTarPart(w) != Outcome::ok) return false;
    if (w.job.mtdMask != 0 && writeMtdParts(w) != Outcome::ok) return false;
    return w.job.namedMask == 0 || writeNamedParts(w) == Outcome::ok;
}

// The front of the file is written last, when every offset is known.
bool writeFront(WriterState& w) {
    OutputFile& file = w.target.file;
    const PackageHeaderBytes header = encodePackageHeader(w.job.fileHeader);
    std::vector<std::uint8_t> tables(4 * (w.job.boardCount + w.offsets.size()));
    for (std::size_t i = 0; i < w.job.boardCount; ++i) putWord(&tables[4 * i], w.job.boardTypes[i]);
    for (std::size_t i = 0; i < w.offsets.size(); ++i) putWord(&tables[4 * (w.job.boardCount + i)], w.offsets[i]);
    return file.seek(0) && file.write(header.data(), header.size()) && file.write(tables.data(), tables.size());
}

bool sourceIsDestination(const PackageJob& job, const char* output) {
    for (std::size_t k = 0; k < fixedKindCount; ++k)
        if (job.hasImage[k] && sameFile(job.imagePaths[k].data(), output)) return true;
    for (std::size_t s = 0; s < mtdSlotCount; ++s)
        if ((job.mtdMask >> s & 1) && sameFile(job.mtdPaths[s].data(), output)) return true;
    for (std::size_t s = 0; s < namedSlotCount; ++s)
        if ((job.namedMask >> s & 1) && sameFile(job.namedPaths[s].data(), output)) return true;
    return false;
}

// The checks that need no output file; false after printing why.
bool readyToWrite(PackageJob& job, const char* outputPath, std::uint32_t partCount, std::FILE* out) {
    const bool fits = setText(job.outputPath, outputPath);
    if (outputPath[0] == '\0') {
        std::fprintf(out, "invalid dest file!\n");
        return false;
    }
    if (partCount == 0) {
        std::fprintf(out, "invalid source files!\n");
        return false;
    }
    if (!fits) {
        std::fprintf(out, "cant open file[%s]!\n", outputPath);
        return false;
    }
    if (sourceIsDestination(job, outputPath)) {
        std::fprintf(out, "dest file is a source file[%s]!\n", outputPath);
        return false;
    }
    if (const char* beyond = firstPartBeyondLimit(job)) {
        std::fprintf(out, "package too large [%s]!\n", beyond);
        return false;
    }
    return true;
}

}  // namespace

int writePackage(PackageJob& job, const char* outputPath, std::FILE* out) {
    printPacks(job, out);
    const std::uint32_t partCount = countParts(job);
    if (!readyToWrite(job, outputPath, partCount, out)) return -1;

    WriterState w{job, out, {}, {}, 0, 0};
    if (!openOutputTarget(job.outputPath.data(), plannedPackageSize(job), w.target)) {
        std::fprintf(out, "cant open file[%s]!\n", job.outputPath.data());
        return -1;
    }
    job.fileHeader = PackageHeader{};
    job.fileHeader.boardCount = job.boardCount;
    job.fileHeader.partCount = partCount;
    job.fileHeader.partTableOffset = static_cast<std::uint32_t>(boardTableOffset + 4 * job.boardCount);
    w.offsets.reserve(partCount);
    w.nextOffset = firstPartOffset(job.boardCount, partCount);

    if (!writeParts(w)) {
        abandonOutputTarget(w.target);
        return -1;
    }
    if (!writeFront(w) || !commitOutputTarget(w.target)) {
        abandonOutputTarget(w.target);
        std::fprintf(out, "cant write file[%s]!\n", job.outputPath.data());
        return -1;
    }
    std::fprintf(out, "finished!");
    return 0;
}

}  // namespace fw
