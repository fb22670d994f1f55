// What only POSIX has for extraction: the mode bits a new file gets, and
// folders deeper than Windows' 260-character paths reach.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/in_process.h"
#include "support/package_bytes.h"
#include "support/test_support.h"

namespace {

using fw::PartKind;

std::string onePackageIn(const fwtest::ScratchDir& dir) {
    return dir.write("p.update", fwtest::buildPackage({0x0c35}, {fwtest::fixedPart(PartKind::boot, fwtest::patternBytes(1000, 1))}));
}

TEST(ExtractDeep, APathLongerThanFwpackTakesLeavesTheCommandOut) {
    fwtest::ScratchDir dir;
    const std::string pkg = onePackageIn(dir);
    const std::string deep = dir.file(std::string(120, 'd') + "/" + std::string(120, 'e'));
    const fwtest::InspectOutcome r = fwtest::fwinspect({"extract", pkg, deep});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("/boot.img is longer than fwpack takes"), std::string::npos) << r.err;
}

TEST(ExtractModes, ExtractedFilesGetTheModeOfANewFile) {
    fwtest::ScratchDir dir;
    const std::string pkg =
        dir.write("p.update", fwtest::buildPackage({0x0c35}, {fwtest::fixedPart(PartKind::boot, fwtest::patternBytes(1000, 1)),
                                                              fwtest::fixedPart(PartKind::rfs, fwtest::patternBytes(3000, 2))}));
    const std::string out = dir.file("out");
    const mode_t mask = ::umask(027);
    const fwtest::InspectOutcome r = fwtest::fwinspect({"extract", pkg, out});
    ::umask(mask);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* name : {"boot.img", "rfs.img"}) {
        struct stat st {};
        ASSERT_EQ(::stat((out + "/" + name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u) << name;
    }
}

}  // namespace
