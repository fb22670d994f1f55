// fwpack notes on standard error what its line passes over, with the same
// texts lint finds, and leaves its standard output and status as they are.
#include "cli/passed_over.h"

#include <gtest/gtest.h>

#include "platform/terminal_text.h"
#include "support/in_process.h"
#include "support/test_support.h"

namespace {

class PassedOver : public ::testing::Test {
public:
    fwtest::ScratchDir dir;
    std::string boot = dir.write("u-boot.bin", fwtest::patternBytes(100, 1));
    std::string kernel = dir.write("zImage", fwtest::patternBytes(200, 2));
    std::string rfs = dir.write("rootfs.ext4", fwtest::patternBytes(300, 3));
    std::string out = dir.file("r3.update");

    std::string closing(const std::vector<std::string>& args) {
        std::string line = "fwpack: to check the whole line: fwinspect lint --";
        for (const std::string& a : args) line += " " + a;
        return line + "\n";
    }
};

// The typo line: -kernel and -p 3 drop three parts without a word
// on standard output, as they always have; standard error says which.
TEST_F(PassedOver, TheTypoLineNamesEachDroppedArgumentAndTheLintCommand) {
    const std::vector<std::string> args{"-o", out, "-b", "0c35", "-u", boot, "-kernel", kernel, "-r", rfs, "-p", "3", rfs};
    const auto r = fwtest::fwpack(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("fwpack"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.rfind("packs :1,0,1-0,0,0-0", 0), 0u) << r.out;
    EXPECT_EQ(r.err, "fwpack: argument 7: '-kernel' is not an option fwpack knows; passed over\n"
                     "fwpack: argument 8: '" + fw::escapeText(kernel) + "' follows an argument fwpack passed over, and is passed over too\n"
                     "fwpack: argument 11: '-p' is not an option fwpack knows; passed over\n"
                     "fwpack: argument 12: '3' follows an argument fwpack passed over, and is passed over too\n"
                     "fwpack: argument 13: '" + fw::escapeText(rfs) + "' follows an argument fwpack passed over, and is passed over too\n" +
                     closing(args));

    // lint finds the same, in the same words.
    std::vector<std::string> lintArgs{"lint", "--"};
    lintArgs.insert(lintArgs.end(), args.begin(), args.end());
    std::string lintLines;
    for (std::size_t at = 0, end; (end = r.err.find('\n', at)) != std::string::npos; at = end + 1)
        if (r.err.compare(at, 17, "fwpack: argument ") == 0) lintLines += r.err.substr(at + 8, end + 1 - at - 8);
    EXPECT_EQ(fwtest::fwinspect(lintArgs).out, lintLines + "5 findings\n");
}

// Board codes and -old are lint's to judge: they change what the package
// is for, not which arguments it holds.
TEST_F(PassedOver, ALineThatPassesOverNothingLeavesStandardErrorEmpty) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-o", out, "-b", "0c35", "-u", boot, "-clear"},
             {"-o", out, "-b", "0x0c35", "-b", "1a0", "-k", kernel},
             {"-o", out, "-b", "0c35", "-old", "-k", kernel, "-u", boot}}) {
        const auto r = fwtest::fwpack(args);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

#ifndef _WIN32
// Names from a hostile line reach the terminal escaped, and the lint
// command pastes into sh as the same arguments.
TEST_F(PassedOver, OddNamesAreEscapedAndQuotedForTheShell) {
    const auto r = fwtest::fwpack({"-o", out, "-b", "0c35", "-u", boot, "-x y", "-k", "it's\n\x1b[2J"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "fwpack: argument 7: '-x y' is not an option fwpack knows; passed over\n"
                     "fwpack: argument 9: the input 'it's\\x0a\\x1b[2J' of -k does not exist; fwpack leaves it out\n"
                     "fwpack: to check the whole line: fwinspect lint -- -o " + out + " -b 0c35 -u " + boot +
                     " '-x y' -k $'it\\'s\\x0a\\x1b[2J'\n");
}
#endif

}  // namespace
