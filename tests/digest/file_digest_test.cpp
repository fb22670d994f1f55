#include "digest/file_digest.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/test_support.h"

namespace {

using fwtest::Bytes;

TEST(DigestFile, ReturnsLengthAndDigestOfFilesAroundReadAndBlockSizes) {
    fwtest::ScratchDir dir;
    for (std::size_t n : {0u, 55u, 56u, 63u, 64u, 65u, 1023u, 1024u, 1025u, 300000u}) {
        const Bytes data = fwtest::patternBytes(n, static_cast<std::uint32_t>(n));
        const std::string path = dir.write("f" + std::to_string(n), data);
        fw::Digest d{};
        EXPECT_EQ(fw::digestFile(d, nullptr, 0, path.c_str()), static_cast<std::int64_t>(n));
        EXPECT_EQ(d, fwtest::md5Of(data)) << n;
    }
}

TEST(DigestFile, DigestsThePrefixWithoutCountingIt) {
    fwtest::ScratchDir dir;
    const Bytes data = fwtest::patternBytes(5000);
    const std::string path = dir.write("f", data);
    const std::uint8_t prefix[4] = {'a', 'b', 0, 0};
    Bytes both(4 + data.size());
    std::copy(prefix, prefix + 4, both.begin());
    std::copy(data.begin(), data.end(), both.begin() + 4);

    fw::Digest d{};
    EXPECT_EQ(fw::digestFile(d, prefix, 4, path.c_str()), 5000);
    EXPECT_EQ(d, fwtest::md5Of(both));

    const std::string empty = dir.write("empty", Bytes{});
    EXPECT_EQ(fw::digestFile(d, prefix, 4, empty.c_str()), 0);
    EXPECT_EQ(d, fwtest::md5Of(Bytes(prefix, prefix + 4)));
}

TEST(DigestFile, ZeroOrNegativePrefixLengthMeansNoPrefix) {
    fwtest::ScratchDir dir;
    const Bytes data = fwtest::patternBytes(100);
    const std::string path = dir.write("f", data);
    const std::uint8_t prefix[4] = {1, 2, 3, 4};
    for (std::int32_t length : {0, -1, -100}) {
        fw::Digest d{};
        EXPECT_EQ(fw::digestFile(d, prefix, length, path.c_str()), 100);
        EXPECT_EQ(d, fwtest::md5Of(data)) << length;
    }
}

TEST(DigestFile, UnreadableInputsGiveMinusOneAndLeaveTheDigest) {
    fwtest::ScratchDir dir;
    const fw::Digest before{1, 2, 3};
    for (const std::string& path : {dir.file("missing"), dir.path()}) {
        fw::Digest d = before;
        EXPECT_EQ(fw::digestFile(d, nullptr, 0, path.c_str()), -1) << path;
        EXPECT_EQ(d, before) << path;
    }
}

}  // namespace
