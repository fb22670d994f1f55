#include "format/records.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

using fwtest::Bytes;

TEST(Records, PackageHeaderIsNineLittleEndianWords) {
    fw::PackageHeader h;
    h.kindFlags = 0x00200101;
    h.boardCount = 2;
    h.partCount = 3;
    h.partTableOffset = 44;
    const auto b = fw::encodePackageHeader(h);
    const Bytes expected = {'F', 'P', 'U', 'A', 0x01, 0x01, 0x20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            2,   0,   0,   0,   36,   0,    0,    0, 3, 0, 0, 0, 44, 0, 0, 0};
    EXPECT_EQ(Bytes(b.begin(), b.end()), expected);
    EXPECT_TRUE(fw::reservedWordsZero(b));
    const auto back = fw::decodePackageHeader(b);
    EXPECT_EQ(back.kindFlags, h.kindFlags);
    EXPECT_EQ(back.partTableOffset, 44u);
}

TEST(Records, PartHeaderPlacesEveryFieldAndZeroesTheRest) {
    fw::PartHeader h;
    h.typeCode = 21;
    h.dataLength = 0x01020304;
    for (int i = 0; i < 16; ++i) h.digest[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(0xA0 + i);
    h.nameLength = 40;
    h.partIndex = 7;
    const auto b = fw::encodePartHeader(h);
    Bytes expected = {'*', 'P', 'P', 'S', 21, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 3, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 16; ++i) expected.push_back(static_cast<std::uint8_t>(0xA0 + i));
    for (std::uint8_t v : {40, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0}) expected.push_back(v);
    EXPECT_EQ(Bytes(b.begin(), b.end()), expected);

    const auto back = fw::decodePartHeader(b);
    EXPECT_EQ(back.magic, fw::partMagic);
    EXPECT_EQ(back.dataLength, h.dataLength);
    EXPECT_EQ(back.digest, h.digest);
    EXPECT_EQ(back.partIndex, 7u);
}

TEST(Records, ReservedWordsAreCheckedOneByOne) {
    for (std::size_t at : {8u, 12u, 20u, 24u, 52u}) {
        auto b = fw::encodePartHeader(fw::PartHeader{});
        b[at + 3] = 1;
        EXPECT_FALSE(fw::reservedWordsZero(b)) << at;
    }
}

TEST(Records, NextPartStartsAtTheNextMultipleOfFour) {
    EXPECT_EQ(fw::advanceOffset(44, 10), 112u);
    EXPECT_EQ(fw::advanceOffset(48, 10), 116u);
    EXPECT_EQ(fw::advanceOffset(48, 12), 116u);
    EXPECT_EQ(fw::advanceOffset(48, 0), 104u);
    EXPECT_EQ(fw::advanceOffset(0xFFFFFF00u, 0x200), 0x100000138u);  // no 32-bit wrap
}

}  // namespace
