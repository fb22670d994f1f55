#include "cli/usage.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_support.h"

namespace {

TEST(Usage, PrintsTheWholeTextWithTheMessageInTheFirstBrackets) {
    fwtest::CapturedOutput out;
    fw::printUsage("no set packet", out.stream());
    const std::string expected =
        "[no set packet]e.g.:\n-o output filename\n-p1 mtd0_file\n-p2 mtd1_file\n-p3 mtd2_file\n"
        "-p4 mtd3_file\n-p5 mtd4_file\n-p6 mtd5_file\n-n PartName file\n-flash flashfile\n-u boot.img\n"
        "-k kernel.img\n-r rfs.img\n-a app.img\n-g config.img\n-l logo.jpg\n-c ch_logo.img\n"
        "-t tarfile.tar.gz\n-b boardtype: (0a20 0a14 ...)\n-clear:clear config files\n"
        "-old: old boardtype[1a0~1a3,1b0,1c1~1c2]\n";
    EXPECT_EQ(out.text(), expected);
}

TEST(Usage, MessageIsPrintedAsTextNeverAsFormat) {
    fwtest::CapturedOutput out;
    fw::printUsage("%s%n", out.stream());
    EXPECT_EQ(out.text().substr(0, 11), "[%s%n]e.g.:");
}

TEST(Usage, LegacyCodesJoinRunsOfConsecutiveCodesWithATilde) {
    struct Case {
        std::vector<std::uint32_t> codes;
        const char* text;
    };
    const Case cases[] = {
        {{}, ""},
        {{0xa20}, "a20"},
        {{0x001, 0x002}, "001~002"},
        {{0x100, 0x102, 0x104}, "100,102,104"},
        {{0x10f, 0x110, 0x111, 0x200}, "10f~111,200"},
        {{0x300, 0x301, 0x300}, "300~301,300"},
        {{0xfff, 0x1000}, "fff~1000"},
    };
    for (const Case& c : cases) EXPECT_EQ(fw::legacyCodeList(c.codes), c.text);
}

}  // namespace
