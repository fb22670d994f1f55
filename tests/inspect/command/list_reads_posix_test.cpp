// list looks at a package's structure alone: what it reads stays a few KiB
// however large the parts are, and --digests reads them all.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "support/in_process.h"
#include "support/package_bytes.h"
#include "support/test_support.h"

namespace {

using fw::PartKind;

// What this process and its threads have read through read(2) and its kind.
std::uint64_t bytesReadSoFar() {
    std::ifstream io("/proc/self/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

TEST(List, ReadsTheStructureAloneUnlessTheDigestsAreAskedFor) {
    if (bytesReadSoFar() == 0) GTEST_SKIP() << "no /proc/self/io here";
    fwtest::ScratchDir dir;
    const fwtest::Bytes package = fwtest::buildPackage(
        {0x0c35}, {fwtest::fixedPart(PartKind::rfs, fwtest::patternBytes(6 << 20, 3)),
                   fwtest::fixedPart(PartKind::tar, fwtest::patternBytes(1 << 20, 4)),
                   fwtest::namedPart("abcde", fwtest::patternBytes(1 << 20, 5))});
    const std::string pkg = dir.write("p.update", package);
    const struct {
        std::vector<std::string> args;
        std::uint64_t least, most;
    } cases[] = {
        {{"list", pkg}, 0, 16 << 10},
        {{"list", "--json", pkg}, 0, 16 << 10},
        {{"list", "--digests", pkg}, package.size(), UINT64_MAX},
    };
    for (const auto& c : cases) {
        const std::uint64_t before = bytesReadSoFar();
        const auto r = fwtest::fwinspect(c.args);
        const std::uint64_t read = bytesReadSoFar() - before;
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_GE(read, c.least) << c.args[1];
        EXPECT_LE(read, c.most) << c.args[1];
    }
}

}  // namespace
