#include "cli/packer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/in_process.h"
#include "support/test_support.h"

namespace {

// Runs in `dir` as the working folder, for the demo run's relative paths.
class InFolder {
public:
    explicit InFolder(const std::string& dir) {
        char* here = ::getcwd(nullptr, 0);
        previous_ = here;
        std::free(here);
        if (::chdir(dir.c_str()) != 0) throw std::runtime_error("chdir");
    }
    // Every later test would run in the wrong folder.
    ~InFolder() {
        if (::chdir(previous_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << previous_;
    }

private:
    std::string previous_;
};

TEST(Packer, ArgumentErrorsPrintUsageAndCreateNothing) {
    fwtest::ScratchDir dir;
    const auto r = fwtest::runPackerWith({"-o", dir.file("out.pkg"), "-b", "1f", "-u"});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output.rfind("[need extraParams for -u]e.g.:\n-o output filename\n", 0), 0u);
    EXPECT_EQ(r.output.find("packs"), std::string::npos);
    EXPECT_TRUE(dir.entries().empty());
}

TEST(Packer, WithoutArgumentsRunsTheDemoList) {
    fwtest::ScratchDir dir;
    InFolder here(dir.path());
    const fwtest::Bytes archive = fwtest::patternBytes(300);
    dir.write("libquorvid.tar.gz", archive);
    auto r = fwtest::runPackerWith({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output.rfind("[no Params]e.g.:\n", 0), 0u);
    EXPECT_NE(r.output.find("\npacks :0,0,0-0,0,0-1 flash-0 \nfinished!"), std::string::npos) << r.output;
    const fwtest::Bytes pkg = fwtest::readFile(dir.file("test.update"));
    EXPECT_EQ(fwtest::wordAt(pkg, 36), 0xC35u);
    EXPECT_EQ(pkg.size(), 44u + 56 + 40 + 300);

    // Without the archive nothing is packed, and the status says so.
    ::unlink("libquorvid.tar.gz");
    ::unlink("test.update");
    r = fwtest::runPackerWith({});
    EXPECT_EQ(r.status, -1);
    EXPECT_NE(r.output.find("invalid source files!\n"), std::string::npos);
    EXPECT_TRUE(dir.entries().empty());
}

TEST(Packer, NothingToPackEndsWithFailure) {
    fwtest::ScratchDir dir;
    const auto missing = fwtest::runPackerWith({"-o", dir.file("out.pkg"), "-b", "1f", "-u", dir.file("missing.img")});
    EXPECT_EQ(missing.status, -1);
    EXPECT_EQ(missing.output, "packs :0,0,0-0,0,0-0 flash-0 \ninvalid source files!\n");

    const std::string kernel = dir.write("kernel", fwtest::patternBytes(9));
    const auto oldOnly = fwtest::runPackerWith({"-old", "-o", dir.file("out.pkg"), "-b", "1", "-k", kernel, "-a", kernel});
    EXPECT_EQ(oldOnly.status, -1);
    EXPECT_EQ(oldOnly.output, "packs :0,1,0-1,0,0-0 flash-0 \ninvalid source files!\n");

    const auto emptyOutput = fwtest::runPackerWith({"-o", "", "-b", "1", "-u", dir.file("missing.img")});
    EXPECT_EQ(emptyOutput.status, -1);
    EXPECT_EQ(emptyOutput.output, "packs :0,0,0-0,0,0-0 flash-0 \ninvalid dest file!\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"kernel"});
}

TEST(Packer, BoardCodesKeepTheirOrderAndDuplicates) {
    fwtest::ScratchDir dir;
    const std::string boot = dir.write("boot", fwtest::patternBytes(4));
    const auto r = fwtest::runPackerWith({"-b", "1f", "-b", "zz", "-b", "", "-b", "1f", "-o", dir.file("p"), "-u", boot});
    ASSERT_EQ(r.status, 0);
    const fwtest::Bytes pkg = fwtest::readFile(dir.file("p"));
    EXPECT_EQ(fwtest::wordAt(pkg, 20), 4u);
    const std::uint32_t expected[] = {0x1F, 0, 0, 0x1F};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(fwtest::wordAt(pkg, 36 + 4 * i), expected[i]);
}

}  // namespace
