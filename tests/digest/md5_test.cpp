#include "digest/md5.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace {

using fwtest::Bytes;
using fwtest::hex;

// Bytes (i * 7 + 3) mod 256; reference digests computed with another MD5.
Bytes stepBytes(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return b;
}

struct Vector {
    std::string input;
    const char* digest;
};

TEST(Md5, MatchesTheRfc1321TestSuite) {
    const Vector vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& v : vectors) EXPECT_EQ(hex(fw::md5Of(v.input.data(), v.input.size())), v.digest) << v.input;
}

TEST(Md5, PadsCorrectlyAroundTheBlockBoundary) {
    const std::pair<std::size_t, const char*> cases[] = {
        {1, "8666683506aacd900bbd5a74ac4edf68"},    {55, "52c0e574e1198de5fe3f8f11440dcb1b"},
        {56, "46c9907fc908ee68b1e7b8e71286a518"},   {63, "a62f6d59e837867693f042f5b8f5a236"},
        {64, "7160b8fb5e9e4023d549c3971fbaeead"},   {65, "70bd662e7aefbda85a0f7244167b7897"},
        {119, "e84905d4214f4d1ca56c2cdcc152b143"},  {120, "e3eb5a6c8669ea01a8c185b8abc8a5dc"},
        {1025, "ee57403eb3428e1a0be41fad4a70b174"}, {100000, "59f08777fcd1aa2b8e0c8f892cfaae09"},
    };
    for (const auto& [n, digest] : cases) EXPECT_EQ(hex(fwtest::md5Of(stepBytes(n))), digest) << n;
}

TEST(Md5, InPiecesEqualsInOneGo) {
    const Bytes data = stepBytes(100000);
    for (std::size_t piece : {1u, 3u, 63u, 64u, 65u, 1000u, 1024u, 8191u}) {
        fw::Md5Context ctx;
        fw::md5Init(ctx);
        for (std::size_t at = 0; at < data.size(); at += piece)
            fw::md5Update(ctx, data.data() + at, std::min(piece, data.size() - at));
        fw::Digest d;
        fw::md5Final(ctx, d);
        EXPECT_EQ(hex(d), "59f08777fcd1aa2b8e0c8f892cfaae09") << "piece " << piece;
    }
}

TEST(Md5, UnevenPiecesAndEmptyUpdatesChangeNothing) {
    const Bytes data = stepBytes(1025);
    fw::Md5Context ctx;
    fw::md5Init(ctx);
    std::size_t at = 0;
    for (std::size_t piece = 0; at < data.size(); piece = (piece * 5 + 7) % 200) {
        const std::size_t n = std::min(piece, data.size() - at);
        fw::md5Update(ctx, data.data() + at, n);
        at += n;
    }
    fw::Digest d;
    fw::md5Final(ctx, d);
    EXPECT_EQ(hex(d), "ee57403eb3428e1a0be41fad4a70b174");
}

TEST(Md5, FinalWipesTheContext) {
    fw::Md5Context ctx;
    fw::md5Init(ctx);
    fw::md5Update(ctx, "secret", 6);
    fw::Digest d;
    fw::md5Final(ctx, d);
    const auto* p = reinterpret_cast<const std::uint8_t*>(&ctx);
    EXPECT_TRUE(std::all_of(p, p + sizeof ctx, [](std::uint8_t b) { return b == 0; }));
}

}  // namespace
