// The records of an update package and their file encoding.
//
// Every integer in a package is an unsigned 32-bit word, least significant
// byte first. A package is laid out as:
//
//   offset 0                     PackageHeader (36 bytes)
//   offset 36                    BoardTable: boardCount words
//   offset 36 + 4*boardCount     PartOffsetTable: partCount words
//   offset 36 + 4*(boardCount + partCount)
//                                the parts, each a PartHeader (56 bytes) and
//                                dataLength data bytes; the next part starts at
//                                the next multiple of 4, the gap is zero
//
// PackageHeader:
//   +0  magic "FPUA"     +4  kindFlags        +8  0   +12 0   +16 0
//   +20 boardCount       +24 boardTableOffset +28 partCount
//   +32 partTableOffset
//
// PartHeader:
//   +0  magic "*PPS"     +4  typeCode         +8  0   +12 0
//   +16 dataLength       +20 0                +24 0
//   +28 digest (16 bytes, MD5 of the dataLength data bytes)
//   +44 nameLength       +48 partIndex        +52 0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "digest/little_endian.h"
#include "digest/md5.h"

namespace fw {

inline constexpr std::uint32_t packageMagic = 0x41555046;  // "FPUA"
inline constexpr std::uint32_t partMagic = 0x5350502A;     // "*PPS"
inline constexpr std::size_t packageHeaderSize = 36;
inline constexpr std::size_t partHeaderSize = 56;
inline constexpr std::uint32_t boardTableOffset = 36;

struct PackageHeader {
    std::uint32_t magic = packageMagic;
    std::uint32_t kindFlags = 0;
    std::uint32_t boardCount = 0;
    std::uint32_t boardTableOffset = fw::boardTableOffset;
    std::uint32_t partCount = 0;
    std::uint32_t partTableOffset = 0;
};

struct PartHeader {
    std::uint32_t magic = partMagic;
    std::uint32_t typeCode = 0;
    std::uint32_t dataLength = 0;
    Digest digest{};
    std::uint32_t nameLength = 0;
    std::uint32_t partIndex = 0;
};

using PackageHeaderBytes = std::array<std::uint8_t, packageHeaderSize>;
using PartHeaderBytes = std::array<std::uint8_t, partHeaderSize>;

PackageHeaderBytes encodePackageHeader(const PackageHeader& header);
PackageHeader decodePackageHeader(const PackageHeaderBytes& bytes);
PartHeaderBytes encodePartHeader(const PartHeader& header);
PartHeader decodePartHeader(const PartHeaderBytes& bytes);

// The reserved words of a decoded record are not kept; tell whether they
// hold anything but zero.
bool reservedWordsZero(const PackageHeaderBytes& bytes);
bool reservedWordsZero(const PartHeaderBytes& bytes);

// Next part offset: part offset + header + data, rounded up to 4.
constexpr std::uint64_t advanceOffset(std::uint64_t partOffset, std::uint64_t dataLength) {
    return (partOffset + partHeaderSize + dataLength + 3) & ~std::uint64_t{3};
}

}  // namespace fw
