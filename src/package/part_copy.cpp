#include "package/part_copy.h"

#include <memory>

namespace fw {
namespace {

// A file written to, or replaced, while it was copied would leave a torn
// part whose digest looks true: its size, times or inode tell, and so does
// a writer that opened it meanwhile, where that can be known.
bool unchangedSince(const InputFile& input, const FileIdentity& before) {
    FileIdentity after;
    return input.unwritten() && input.identity(after) && after == before;
}

}  // namespace

PartCopy::PartCopy(CopyContext& c, const PlannedPart& part, std::uint64_t offset, bool lastPart)
    : c_(c), part_(part), offset_(offset), lastPart_(lastPart) {}

bool PartCopy::open() {
    opened_ = true;
    InputRules rules;
    rules.refuseWhileWritten = true;
    if (c_.hooks != nullptr) rules.streamIdleLimit = c_.hooks->streamIdleLimit;
    const Opening opened = input_.open(part_.path, rules);
    if (opened != Opening::ok) {
        result_.status = opened == Opening::cannotOpen ? PartStatus::openFailed : PartStatus::readFailed;
        return false;
    }
    const bool sized = part_.inputLength >= 0;
    if (!input_.identity(before_) || (sized && input_.size() != static_cast<std::uint64_t>(part_.inputLength))) {
        result_.status = PartStatus::readFailed;
        return false;
    }
    md5Init(md5_);
    md5Update(md5_, part_.field.data(), part_.fieldLength);
    if (!c_.output.writeAt(offset_ + partHeaderSize, part_.field.data(), part_.fieldLength)) {
        result_.status = PartStatus::writeFailed;
        return false;
    }
    return true;
}

PieceTaken PartCopy::end(PartStatus status) {
    result_.status = status;
    input_.close();
    PieceTaken last;
    last.last = true;
    return last;
}

// Reads the input to its end, a piece at a time. An input whose length
// passes what it was registered with, or what the format can hold, is not
// read further.
PieceTaken PartCopy::next(std::uint8_t* piece) {
    if (c_.stillWanted && !c_.stillWanted()) return end(PartStatus::cancelled);
    if (!opened_ && !open()) return end(result_.status);
    if (writeFailed_.load()) return end(PartStatus::writeFailed);
    const std::int64_t n = input_.read(piece, copyPieceSize);
    if (n < 0) return end(PartStatus::readFailed);
    if (n == 0) return end(finishInput());
    const auto bytes = static_cast<std::uint64_t>(n);
    const std::uint64_t dataAt = offset_ + partHeaderSize + part_.fieldLength;
    const std::uint64_t total = result_.inputBytes;
    if (part_.inputLength >= 0 && total + bytes > static_cast<std::uint64_t>(part_.inputLength))
        return end(PartStatus::readFailed);
    if (!partFits(offset_, part_.fieldLength + total + bytes, packageLimitOf(c_.hooks))) return end(PartStatus::tooLarge);
    md5Update(md5_, piece, static_cast<std::size_t>(n));
    result_.inputBytes += bytes;
    c_.bytesDone.fetch_add(bytes, std::memory_order_relaxed);
    if (total == 0 && c_.hooks != nullptr && c_.hooks->afterFirstPiece) c_.hooks->afterFirstPiece(part_.path);
    return {dataAt + total, static_cast<std::size_t>(n), false};
}

// The input ended: it must be the one registered, as it was when opened.
// Then the header, with the digest, and the zeros of the gap behind.
PartStatus PartCopy::finishInput() {
    const bool sized = part_.inputLength >= 0;
    if (sized && (result_.inputBytes != static_cast<std::uint64_t>(part_.inputLength) ||
                  !unchangedSince(input_, before_)))
        return PartStatus::readFailed;
    PartHeader header = part_.header;
    header.dataLength = static_cast<std::uint32_t>(part_.fieldLength + result_.inputBytes);
    md5Final(md5_, header.digest);
    result_.dataLength = header.dataLength;
    const PartHeaderBytes bytes = encodePartHeader(header);
    const std::uint64_t end = offset_ + partHeaderSize + header.dataLength;
    static constexpr std::uint8_t zeros[4] = {};
    if (!c_.output.writeAt(offset_, bytes.data(), bytes.size()) ||
        (!lastPart_ && !c_.output.writeAt(end, zeros, advanceOffset(offset_, header.dataLength) - end)))
        return PartStatus::writeFailed;
    return PartStatus::ok;
}

void PartCopy::write(const PieceTaken& piece, const std::uint8_t* bytes) {
    if (!c_.output.writeAt(piece.at, bytes, piece.size)) writeFailed_.store(true);
}

PartResult PartCopy::result() const {
    PartResult r = result_;
    if (r.status == PartStatus::ok && writeFailed_.load()) r.status = PartStatus::writeFailed;
    return r;
}

PartResult copyPart(CopyContext& c, const PlannedPart& part, std::uint64_t offset, bool lastPart) {
    PartCopy copy(c, part, offset, lastPart);
    auto piece = std::make_unique_for_overwrite<std::uint8_t[]>(copyPieceSize);
    for (;;) {
        const PieceTaken taken = copy.next(piece.get());
        if (taken.size > 0) copy.write(taken, piece.get());
        if (taken.last) return copy.result();
    }
}

}  // namespace fw
