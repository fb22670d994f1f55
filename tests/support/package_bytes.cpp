#include "support/package_bytes.h"

#include <algorithm>

namespace fwtest {
namespace {

constexpr std::uint32_t packageMagic = 0x41555046, partMagic = 0x5350502A;
constexpr std::size_t headerBytes = 36, partHeaderBytes = 56;

// The format's codes and bits.
struct Codes {
    std::uint32_t type, oldType, bit, oldBit;
};
Codes codesOf(fw::PartKind kind) {
    switch (kind) {
        case fw::PartKind::boot: return {1, 1, 0x1, 0x1};
        case fw::PartKind::kernel: return {2, 0, 0x2, 0};
        case fw::PartKind::rfs: return {3, 2, 0x4, 0x2};
        case fw::PartKind::app: return {4, 0, 0x8, 0};
        case fw::PartKind::config: return {5, 0, 0x10, 0};
        case fw::PartKind::logo: return {6, 4, 0x20, 0x8};
        case fw::PartKind::chlogo: return {7, 7, 0x40, 0x40};
        case fw::PartKind::tar: return {9, 9, 0x100, 0x100};
        case fw::PartKind::flash: return {22, 22, 0x200000, 0x200000};
        case fw::PartKind::mtd: return {21, 21, 0x100000, 0x100000};
        case fw::PartKind::named: return {20, 20, 0x80000, 0x80000};
        case fw::PartKind::unknown: break;
    }
    return {};
}

std::uint32_t kindBitOfCode(std::uint32_t typeCode, bool oldLayout) {
    for (int k = 0; k <= static_cast<int>(fw::PartKind::named); ++k) {
        const Codes c = codesOf(static_cast<fw::PartKind>(k));
        if (typeCode != 0 && (oldLayout ? c.oldType : c.type) == typeCode) return oldLayout ? c.oldBit : c.bit;
    }
    return 0;
}

std::uint32_t word(std::size_t n) { return static_cast<std::uint32_t>(n); }

}  // namespace

Bytes nameField(const std::string& name, std::size_t fieldLength) {
    Bytes b(fieldLength, 0);
    std::copy(name.begin(), name.end(), b.begin());
    return b;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

RawPart fixedPart(fw::PartKind kind, const Bytes& content, bool oldLayout) {
    const Codes codes = codesOf(kind);
    RawPart p{oldLayout ? codes.oldType : codes.type, content};
    if (kind == fw::PartKind::tar) {
        p.nameLength = word(tarPath.size() + 1);
        p.data = concat(nameField(tarPath, p.nameLength), content);
    }
    return p;
}

RawPart mtdPart(std::uint32_t index, const Bytes& content) { return {21, content, 0, index}; }

RawPart namedPart(const std::string& name, const Bytes& content) {
    const std::size_t length = (name.size() + 3) / 4 * 4;
    return {20, concat(nameField(name, length), content), word(length)};
}

Bytes expectedPackage(std::uint32_t kindFlags, const std::vector<std::uint32_t>& boards,
                      const std::vector<RawPart>& parts) {
    std::vector<std::uint32_t> offsets;
    std::size_t at = headerBytes + 4 * (boards.size() + parts.size());
    for (const auto& p : parts) {
        offsets.push_back(word(at));
        at = (at + partHeaderBytes + p.data.size() + 3) / 4 * 4;
    }
    Bytes out;
    for (std::uint32_t w : {packageMagic, kindFlags, 0u, 0u, 0u, word(boards.size()), word(headerBytes),
                            word(parts.size()), word(headerBytes + 4 * boards.size())})
        appendWord(out, w);
    for (auto b : boards) appendWord(out, b);
    for (auto o : offsets) appendWord(out, o);
    for (std::size_t i = 0; i < parts.size(); ++i) {
        out.resize(offsets[i], 0);
        const auto& p = parts[i];
        for (std::uint32_t w : {partMagic, p.typeCode, 0u, 0u, word(p.data.size()), 0u, 0u}) appendWord(out, w);
        const auto digest = md5Of(p.data);
        out.insert(out.end(), digest.begin(), digest.end());
        for (std::uint32_t w : {p.nameLength, p.partIndex, 0u}) appendWord(out, w);
        out.insert(out.end(), p.data.begin(), p.data.end());
    }
    return out;
}

Bytes buildPackage(const std::vector<std::uint32_t>& boards, const std::vector<RawPart>& parts, bool oldLayout) {
    std::uint32_t kindFlags = 0;
    for (const RawPart& p : parts) kindFlags |= kindBitOfCode(p.typeCode, oldLayout);
    return expectedPackage(kindFlags, boards, parts);
}

Bytes oneTargetManyEntries(std::uint32_t entries, std::uint32_t dataLength) {
    const Bytes b = buildPackage({0x0c35}, {fixedPart(fw::PartKind::boot, patternBytes(dataLength))});
    const std::uint32_t partOffset = wordAt(b, 40);
    const std::uint32_t newOffset = (40 + 4 * entries + 3) & ~3u;
    Bytes out(b.begin(), b.begin() + 28);
    for (std::uint32_t w : {entries, 40u, 0x0c35u}) appendWord(out, w);
    for (std::uint32_t i = 0; i < entries; ++i) appendWord(out, newOffset);
    out.resize(newOffset, 0);
    out.insert(out.end(), b.begin() + partOffset, b.end());
    return out;
}

}  // namespace fwtest
