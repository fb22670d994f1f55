#include "format/records.h"

#include <algorithm>
#include <utility>

namespace fw {
namespace {

// Where each word of a record lies: the one place that places them.
template <class Record>
using WordAt = std::pair<std::size_t, std::uint32_t Record::*>;

constexpr std::array<WordAt<PackageHeader>, 6> packageWords{{{0, &PackageHeader::magic},
    {4, &PackageHeader::kindFlags}, {20, &PackageHeader::boardCount}, {24, &PackageHeader::boardTableOffset},
    {28, &PackageHeader::partCount}, {32, &PackageHeader::partTableOffset}}};
constexpr std::array<std::size_t, 3> packageReserved{8, 12, 16};

constexpr std::array<WordAt<PartHeader>, 5> partWords{{{0, &PartHeader::magic}, {4, &PartHeader::typeCode},
    {16, &PartHeader::dataLength}, {44, &PartHeader::nameLength}, {48, &PartHeader::partIndex}}};
constexpr std::size_t partDigestAt = 28;
constexpr std::array<std::size_t, 5> partReserved{8, 12, 20, 24, 52};

template <class Record, std::size_t N, std::size_t M>
void encodeWords(const Record& r, const std::array<WordAt<Record>, M>& words, std::array<std::uint8_t, N>& b) {
    for (const auto& [at, field] : words) putWord(&b[at], r.*field);
}

template <class Record, std::size_t N, std::size_t M>
void decodeWords(const std::array<std::uint8_t, N>& b, const std::array<WordAt<Record>, M>& words, Record& r) {
    for (const auto& [at, field] : words) r.*field = getWord(&b[at]);
}

template <std::size_t N, std::size_t M>
bool allZero(const std::array<std::uint8_t, N>& bytes, const std::array<std::size_t, M>& at) {
    return std::all_of(at.begin(), at.end(), [&](std::size_t o) { return getWord(&bytes[o]) == 0; });
}

}  // namespace

PackageHeaderBytes encodePackageHeader(const PackageHeader& h) {
    PackageHeaderBytes b{};
    encodeWords(h, packageWords, b);
    return b;
}

PackageHeader decodePackageHeader(const PackageHeaderBytes& b) {
    PackageHeader h;
    decodeWords(b, packageWords, h);
    return h;
}

PartHeaderBytes encodePartHeader(const PartHeader& h) {
    PartHeaderBytes b{};
    encodeWords(h, partWords, b);
    std::copy(h.digest.begin(), h.digest.end(), b.begin() + partDigestAt);
    return b;
}

PartHeader decodePartHeader(const PartHeaderBytes& b) {
    PartHeader h;
    decodeWords(b, partWords, h);
    std::copy_n(b.begin() + partDigestAt, h.digest.size(), h.digest.begin());
    return h;
}

bool reservedWordsZero(const PackageHeaderBytes& bytes) { return allZero(bytes, packageReserved); }
bool reservedWordsZero(const PartHeaderBytes& bytes) { return allZero(bytes, partReserved); }

}  // namespace fw
