// Our SHA-256 against the FIPS 180-4 examples and the openssl command line.
#include "digest/sha256.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace {

std::string hexOf(const fw::Sha256Digest& d) {
    std::string s;
    char two[3];
    for (std::uint8_t b : d) {
        std::snprintf(two, sizeof two, "%02x", b);
        s += two;
    }
    return s;
}

// Fed in pieces of `piece` bytes, so every way of crossing a block is tried.
std::string sha256Hex(const std::string& message, std::size_t piece) {
    fw::Sha256Context ctx;
    fw::sha256Init(ctx);
    for (std::size_t at = 0; at < message.size(); at += piece)
        fw::sha256Update(ctx, message.data() + at, std::min(piece, message.size() - at));
    fw::Sha256Digest d;
    fw::sha256Final(ctx, d);
    return hexOf(d);
}

TEST(Sha256OfOurOwn, StandardExamplesInAnyPieces) {
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [message, expected] : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{63}, std::size_t{64}, std::size_t{65},
                                  std::size_t{1} << 20})
            EXPECT_EQ(sha256Hex(message, piece), expected) << message.size() << " bytes in pieces of " << piece;
    }
}

// Lengths around the padding boundary, checked by the openssl command line.
TEST(Sha256OfOurOwn, PaddingBoundariesMatchOpenssl) {
    if (std::system("openssl version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl command line";
    fwtest::ScratchDir dir;
    for (std::size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 100001u}) {
        const fwtest::Bytes bytes = fwtest::patternBytes(length, static_cast<std::uint32_t>(length));
        const std::string path = dir.write("m", bytes);
        const std::string out = dir.file("digest");
        ASSERT_EQ(std::system(("openssl dgst -sha256 -r " + path + " > " + out).c_str()), 0);
        const std::string expected = fwtest::textOf(out).substr(0, 64);
        EXPECT_EQ(sha256Hex(std::string(bytes.begin(), bytes.end()), 7), expected) << length;
    }
}

}  // namespace
