// The package's permission bits: only POSIX has them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/in_process.h"
#include "support/test_support.h"

namespace {

TEST(WriterModes, PackageGetsTheModeOfANewFile) {
    fwtest::ScratchDir dir;
    const std::string out = dir.file("out.update");
    dir.write("boot", fwtest::patternBytes(4, 4));
    const mode_t old = ::umask(027);
    const auto r = fwtest::runPackerWith({"-o", out, "-b", "1", "-u", dir.file("boot")});
    ::umask(old);
    ASSERT_EQ(r.status, 0);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot", "out.update"}));
}

}  // namespace
