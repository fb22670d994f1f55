// lint names each argument fwpack would silently pass over or drop, and
// checks a package against what the same arguments pack.
#include <gtest/gtest.h>

#include "support/in_process.h"
#include "support/shell_tools.h"
#include "support/test_support.h"

namespace {

using fwtest::fwinspect;

class Lint : public ::testing::Test {
public:
    fwtest::ScratchDir dir;
    std::string boot = dir.write("boot.img", fwtest::patternBytes(100, 1));
    std::string kernel = dir.write("kernel.img", fwtest::patternBytes(200, 2));
    std::string splash = dir.write("splash.bin", fwtest::patternBytes(300, 3));
    std::string out = dir.file("o.update");

    fwtest::InspectOutcome lint(std::vector<std::string> fwpackArgs, const std::string& package = "") {
        std::vector<std::string> args{"lint"};
        if (!package.empty()) args.insert(args.end(), {"--package", package});
        args.push_back("--");
        args.insert(args.end(), fwpackArgs.begin(), fwpackArgs.end());
        return fwinspect(args);
    }
};

TEST_F(Lint, EachSilentDropIsNamedWithItsArgument) {
    const std::string missing = dir.file("missing.img");
    std::vector<std::string> names;
    std::vector<std::string> hundredAndTwo{"-o", out, "-u", boot};
    for (int i = 0; i < 102; ++i) hundredAndTwo.insert(hundredAndTwo.end(), {"-b", "0c35"});
    std::vector<std::string> twentyOne{"-o", "x", "-b", "0c35"};
    for (int i = 0; i < 21; ++i) twentyOne.insert(twentyOne.end(), {"-n", "n" + std::to_string(i), splash});
    const struct {
        std::vector<std::string> args;
        std::string finding;
    } cases[] = {
        {{"-o", out, "-b", "0c35", "-u", missing}, "argument 6: the input '" + missing + "' of -u does not exist"},
        {{"-o", out, "-b", "0c35", "-kernel", kernel, "-u", boot}, "argument 5: '-kernel' is not an option fwpack knows"},
        {{"-o", out, "-b", "0c35", "-kernel", kernel, "-u", boot}, "argument 6: '" + kernel + "' follows an argument"},
        {{"-o", out, "-b", "0c35", "-p", "1", boot, "-u", boot}, "argument 6: '1' follows an argument fwpack passed over"},
        {{"-o", out, "-b", "0c35,0a20", "-u", boot}, "argument 4: board code '0c35,0a20' is not plain hexadecimal; fwpack reads it as 0c35"},
        {{"-o", out, "-b", "xyz", "-u", boot}, "board code 'xyz' is not plain hexadecimal; fwpack reads it as 0000"},
        {hundredAndTwo, "2 board codes after the 100th are left out"},
        {twentyOne, "argument 66: -n 'n20' is a part name after the 20 fwpack keeps; left out"},
        {{"-o", out, "-b", "1a0", "-old", "-k", kernel, "-u", boot}, "-k '" + kernel + "': the old layout (-old) has no kernel part"},
        {{"-o", out, "-b", "0c35", "-u", kernel, "-u", boot}, "argument 6: -u '" + kernel + "' is replaced by a later -u"},
        {{"-o", out, "-b", "0c35", "-p3", kernel, "-p3", boot}, "argument 6: -p3 '" + kernel + "' is replaced by a later -p3"},
        {{"-o", out, "-b", "1a0", "-u", boot}, "argument 4: board 01a0 is a legacy board, but -old is not given"},
        {{"-o", out, "-b", "0c35", "-old", "-u", boot}, "argument 4: board 0c35 is not a legacy board, but -old is given"},
        {{"-o", out, "-b", "0c35"}, "fwpack refuses the line: no set packet"},
        {{}, "fwpack refuses the line: no arguments"},
    };
    for (const auto& c : cases) {
        const auto r = lint(c.args);
        EXPECT_EQ(r.status, 1) << c.finding;
        EXPECT_NE(r.out.find(c.finding), std::string::npos) << c.finding << "\n" << r.out;
    }
}

TEST_F(Lint, ACleanLineExitsZero) {
    const std::vector<std::vector<std::string>> clean = {
        {"-o", out, "-b", "0c35", "-u", boot, "-k", kernel, "-n", "splash", splash},
        {"-o", out, "-b", "1a0", "-b", "1c2", "-old", "-u", boot, "-clear"},
        {"-o", out, "-b", "0C35", "-p20", boot},
    };
    for (const auto& args : clean) {
        const auto r = lint(args);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(r.out, "fwpack packs everything it is given\n");
    }
    const auto json = fwinspect({"lint", "--json", "--", "-o", out, "-b", "0c35", "-u", dir.file("gone")});
    EXPECT_EQ(json.status, 1);
    EXPECT_PYTHON_JSON(json.out, "(d['clean'], d['findings'][0]['argument'])", "(False, 6)");
}

TEST_F(Lint, APackageIsCheckedAgainstWhatTheArgumentsPackToday) {
    const std::vector<std::string> args{"-o", out, "-b", "0c35", "-b", "0a20", "-u", boot, "-r", boot, "-t", splash,
                                        "-n", "logo", kernel};
    ASSERT_EQ(fwtest::runPackerWith(args).status, 0);
    auto r = lint(args, out);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "fwpack packs everything it is given, and " + out + " is what it packs\n");

    dir.write("kernel.img", fwtest::patternBytes(200, 9));  // the named part's input changed since
    r = lint(args, out);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(out + ": part 3 (named logo): not the bytes of '" + kernel + "' (200 bytes, md5 "), std::string::npos)
        << r.out;

    std::vector<std::string> otherBoards = args;
    otherBoards[5] = "0a21";
    r = lint(otherBoards, out);
    EXPECT_NE(r.out.find("boards: the arguments give 0c35 0a21, the package holds 0c35 0a20"), std::string::npos) << r.out;

    std::vector<std::string> old = args;
    old.insert(old.end(), {"-old"});
    r = lint(old, out);
    EXPECT_NE(r.out.find("kind bits: the arguments give 0x80103 in the old layout, the package holds 0x80105"), std::string::npos) << r.out;

    EXPECT_EQ(lint(args, dir.file("none")).status, 2);
}

// Parts are matched by what they are, not where they stand: an argument left
// out is one finding, not one for every part after it.
TEST_F(Lint, APackageIsComparedPartByPart) {
    const std::string rfs = dir.write("rfs.img", fwtest::patternBytes(400, 4));
    const std::string mtd = dir.write("mtd2.img", fwtest::patternBytes(50, 5));
    const std::vector<std::string> head{"-o", out, "-b", "0c35"};
    auto line = [&](std::vector<std::string> tail) {
        tail.insert(tail.begin(), head.begin(), head.end());
        return tail;
    };
    const auto packed = line({"-u", boot, "-k", kernel, "-r", rfs, "-p3", mtd, "-n", "splash", splash, "-n", "logo", boot});
    ASSERT_EQ(fwtest::runPackerWith(packed).status, 0);
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> differences;
    } cases[] = {
        {line({"-u", boot, "-r", rfs, "-p3", mtd, "-n", "splash", splash, "-n", "logo", boot}),
         {"part 1 (kernel): no argument packs it"}},
        {line({"-u", boot, "-k", kernel, "-r", rfs, "-p3", mtd, "-p4", mtd, "-n", "splash", splash, "-n", "logo", boot}),
         {"the arguments pack -p4 (mtd3) from '" + mtd + "'; the package has no such part"}},
        {line({"-u", boot, "-k", rfs, "-r", rfs, "-p3", mtd, "-n", "splash", splash, "-n", "logo", boot}),
         {"part 1 (kernel): not the bytes of '" + rfs + "' (400 bytes"}},
        {line({"-u", boot, "-k", kernel, "-r", rfs, "-p3", mtd, "-n", "logo", boot, "-n", "splash", splash}),
         {"the parts stand in another order: the arguments pack named logo, named splash; the package holds named "
          "splash, named logo"}},
    };
    for (const auto& c : cases) {
        const auto r = lint(c.args, out);
        EXPECT_EQ(r.status, 1) << r.out;
        for (const std::string& d : c.differences) EXPECT_NE(r.out.find(out + ": " + d), std::string::npos) << d << "\n" << r.out;
        EXPECT_NE(r.out.find(std::to_string(c.differences.size()) + " finding"), std::string::npos) << r.out;
    }
}

}  // namespace
