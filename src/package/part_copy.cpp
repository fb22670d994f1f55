#include "package/part_copy.h"

#include <memory>

#include "platform/files.h"

namespace fw {
namespace {

// Large enough that system calls cost little, small enough that writing a
// fresh page cache stays cheap on virtual machines.
constexpr std::size_t pieceSize = 128 << 10;

// Reads the input to its end, writing and digesting every piece. An input
// whose length passes what it was registered with, or what the format can
// hold, is not read further.
PartStatus copyData(CopyContext& c, const PlannedPart& part, InputFile& input, std::uint64_t dataAt,
                    Md5Context& md5, std::uint64_t& total) {
    auto piece = std::make_unique_for_overwrite<std::uint8_t[]>(pieceSize);
    const bool sized = part.inputLength >= 0;
    const std::uint64_t limit = c.hooks != nullptr ? c.hooks->packageLimit : largestPackage;
    for (bool first = true;; first = false) {
        if (c.stillWanted && !c.stillWanted()) return PartStatus::cancelled;
        const std::int64_t n = input.read(piece.get(), pieceSize);
        if (n < 0) return PartStatus::readFailed;
        if (n == 0) return PartStatus::ok;
        const auto bytes = static_cast<std::uint64_t>(n);
        if (sized && total + bytes > static_cast<std::uint64_t>(part.inputLength)) return PartStatus::readFailed;
        if (dataAt + total + bytes > limit) return PartStatus::tooLarge;
        md5Update(md5, piece.get(), static_cast<std::size_t>(n));
        if (!c.output.writeAt(dataAt + total, piece.get(), static_cast<std::size_t>(n))) return PartStatus::writeFailed;
        total += bytes;
        c.bytesDone.fetch_add(bytes, std::memory_order_relaxed);
        if (first && c.hooks != nullptr && c.hooks->afterFirstPiece) c.hooks->afterFirstPiece(part.path);
    }
}

// A file written to, or replaced, while it was copied would leave a torn
// part whose digest looks true: its size, times or inode tell, and so does
// a writer that opened it meanwhile, where that can be known.
bool unchangedSince(const InputFile& input, const FileIdentity& before) {
    FileIdentity after;
    return input.unwritten() && input.identity(after) && after == before;
}

}  // namespace

PartResult copyPart(CopyContext& c, const PlannedPart& part, std::uint64_t offset, bool lastPart) {
    PartResult result;
    InputFile input;
    InputRules rules;
    rules.refuseWhileWritten = true;
    if (c.hooks != nullptr) rules.streamIdleLimit = c.hooks->streamIdleLimit;
    const InputFile::Opened opened = input.open(part.path, rules);
    if (opened != InputFile::Opened::ok) {
        result.status = opened == InputFile::Opened::cannotOpen ? PartStatus::openFailed : PartStatus::readFailed;
        return result;
    }
    const bool sized = part.inputLength >= 0;
    FileIdentity before;
    if (!input.identity(before) || (sized && input.size() != static_cast<std::uint64_t>(part.inputLength))) {
        result.status = PartStatus::readFailed;
        return result;
    }

    Md5Context md5;
    md5Init(md5);
    md5Update(md5, part.field.data(), part.fieldLength);
    const std::uint64_t fieldAt = offset + partHeaderSize;
    if (!c.output.writeAt(fieldAt, part.field.data(), part.fieldLength)) {
        result.status = PartStatus::writeFailed;
        return result;
    }
    result.status = copyData(c, part, input, fieldAt + part.fieldLength, md5, result.inputBytes);
    if (result.status != PartStatus::ok) return result;
    if (sized && (result.inputBytes != static_cast<std::uint64_t>(part.inputLength) || !unchangedSince(input, before))) {
        result.status = PartStatus::readFailed;
        return result;
    }

    PartHeader header = part.header;
    header.dataLength = static_cast<std::uint32_t>(part.fieldLength + result.inputBytes);
    md5Final(md5, header.digest);
    result.dataLength = header.dataLength;
    const PartHeaderBytes bytes = encodePartHeader(header);
    const std::uint64_t end = fieldAt + header.dataLength;
    static constexpr std::uint8_t zeros[4] = {};
    if (!c.output.writeAt(offset, bytes.data(), bytes.size()) ||
        (!lastPart && !c.output.writeAt(end, zeros, advanceOffset(offset, header.dataLength) - end)))
        result.status = PartStatus::writeFailed;
    return result;
}

}  // namespace fw
