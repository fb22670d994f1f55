#include "format/records.h"

#include <algorithm>

namespace fw {
namespace {

// Byte offsets of the fields, the one place that places them.
namespace pkg {
constexpr std::size_t magic = 0, kindFlags = 4, boardCount = 20, boardTableOffset = 24,
                      partCount = 28, partTableOffset = 32;
constexpr std::array<std::size_t, 3> reserved{8, 12, 16};
}  // namespace pkg

namespace part {
constexpr std::size_t magic = 0, typeCode = 4, dataLength = 16, digest = 28, nameLength = 44,
                      partIndex = 48;
constexpr std::array<std::size_t, 5> reserved{8, 12, 20, 24, 52};
}  // namespace part

template <std::size_t N, std::size_t M>
bool allZero(const std::array<std::uint8_t, N>& bytes, const std::array<std::size_t, M>& at) {
    return std::all_of(at.begin(), at.end(), [&](std::size_t o) { return getWord(&bytes[o]) == 0; });
}

}  // namespace

PackageHeaderBytes encodePackageHeader(const PackageHeader& h) {
    PackageHeaderBytes b{};
    putWord(&b[pkg::magic], h.magic);
    putWord(&b[pkg::kindFlags], h.kindFlags);
    putWord(&b[pkg::boardCount], h.boardCount);
    putWord(&b[pkg::boardTableOffset], h.boardTableOffset);
    putWord(&b[pkg::partCount], h.partCount);
    putWord(&b[pkg::partTableOffset], h.partTableOffset);
    return b;
}

PackageHeader decodePackageHeader(const PackageHeaderBytes& b) {
    PackageHeader h;
    h.magic = getWord(&b[pkg::magic]);
    h.kindFlags = getWord(&b[pkg::kindFlags]);
    h.boardCount = getWord(&b[pkg::boardCount]);
    h.boardTableOffset = getWord(&b[pkg::boardTableOffset]);
    h.partCount = getWord(&b[pkg::partCount]);
    h.partTableOffset = getWord(&b[pkg::partTableOffset]);
    return h;
}

PartHeaderBytes encodePartHeader(const PartHeader& h) {
    PartHeaderBytes b{};
    putWord(&b[part::magic], h.magic);
    putWord(&b[part::typeCode], h.typeCode);
    putWord(&b[part::dataLength], h.dataLength);
    std::copy(h.digest.begin(), h.digest.end(), b.begin() + part::digest);
    putWord(&b[part::nameLength], h.nameLength);
    putWord(&b[part::partIndex], h.partIndex);
    return b;
}

PartHeader decodePartHeader(const PartHeaderBytes& b) {
    PartHeader h;
    h.magic = getWord(&b[part::magic]);
    h.typeCode = getWord(&b[part::typeCode]);
    h.dataLength = getWord(&b[part::dataLength]);
    std::copy_n(b.begin() + part::digest, h.digest.size(), h.digest.begin());
    h.nameLength = getWord(&b[part::nameLength]);
    h.partIndex = getWord(&b[part::partIndex]);
    return h;
}

bool reservedWordsZero(const PackageHeaderBytes& bytes) { return allZero(bytes, pkg::reserved); }
bool reservedWordsZero(const PartHeaderBytes& bytes) { return allZero(bytes, part::reserved); }

}  // namespace fw
