#include "platform/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/test_support.h"

namespace {

using fwtest::Bytes;

TEST(InputFile, SmallAndLargeReadsDeliverTheFileInOrder) {
    fwtest::ScratchDir dir;
    const Bytes data = fwtest::patternBytes(1'000'003);
    const std::string path = dir.write("f", data);
    fw::InputFile in;
    ASSERT_EQ(in.open(path.c_str()), fw::Opening::ok);
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
