#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "test_support.h"

namespace {

using fwtest::Bytes;

int createFile(const std::string& path) { return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644); }

TEST(OutputFile, PiecesOfAnySizeAndPatchesLandInOrder) {
    fwtest::ScratchDir dir;
    const Bytes data = fwtest::patternBytes(3'500'000);
    fw::OutputFile out;
    out.adopt(createFile(dir.file("f")));
    for (std::size_t at = 0, piece = 1; at < data.size(); at += piece, piece = piece * 3 % 700'001 + 1)
        ASSERT_TRUE(out.write(data.data() + at, std::min(piece, data.size() - at)));
    EXPECT_EQ(out.position(), data.size());
    const std::uint8_t patch[3] = {1, 2, 3};
    ASSERT_TRUE(out.seek(1'000'000));
    ASSERT_TRUE(out.write(patch, 3));
    ASSERT_TRUE(out.seek(data.size()));
    ASSERT_TRUE(out.writeZeros(5));
    ASSERT_TRUE(out.close());

    Bytes expected = data;
    std::copy(patch, patch + 3, expected.begin() + 1'000'000);
    expected.insert(expected.end(), 5, 0);
    EXPECT_EQ(fwtest::readFile(dir.file("f")), expected);
}

TEST(OutputFile, AFullDeviceFailsAndTheFailureSticks) {
    fw::OutputFile out;
    out.adopt(::open("/dev/full", O_WRONLY));
    const Bytes data = fwtest::patternBytes(3 << 20);
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) ok = out.write(data.data(), data.size());
    ok = ok && out.flush();
    EXPECT_FALSE(ok);
    EXPECT_FALSE(out.write(data.data(), 1));
    EXPECT_FALSE(out.close());
}

TEST(InputFile, SmallAndLargeReadsDeliverTheFileInOrder) {
    fwtest::ScratchDir dir;
    const Bytes data = fwtest::patternBytes(1'000'003);
    const std::string path = dir.write("f", data);
    fw::InputFile in;
    ASSERT_TRUE(in.open(path.c_str()));
    EXPECT_EQ(in.size(), data.size());
    Bytes got(data.size() + 10);
    std::size_t at = 0;
    for (std::size_t piece : {1u, 1024u, 300'000u, 7u, 1u << 20}) {
        const std::int64_t n = in.read(got.data() + at, piece);
        ASSERT_GT(n, 0);
        at += static_cast<std::size_t>(n);
    }
    for (std::int64_t n; (n = in.read(got.data() + at, 4096)) > 0;) at += static_cast<std::size_t>(n);
    got.resize(at);
    EXPECT_EQ(got, data);
    EXPECT_EQ(in.read(got.data(), 1), 0);
}

}  // namespace
