#include "cli/options.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

struct Scan {
    std::vector<std::string> args;
    fw::ParsedOptions options;
    std::string message;
};

Scan scan(std::vector<std::string> args) {
    Scan s{std::move(args), {}, {}};
    std::vector<const char*> argv{"fwpack"};
    for (const auto& a : s.args) argv.push_back(a.c_str());
    if (fw::scanArguments(static_cast<int>(argv.size()), argv.data(), s.options, &s.message))
        fw::validateOptions(s.options, &s.message);
    return s;
}

struct BadCase {
    std::vector<std::string> args;
    const char* message;
};

TEST(Options, EveryArgumentErrorHasItsExactMessage) {
    const std::string p255(255, 'p'), p256(256, 'p'), n64(64, 'n');
    const BadCase cases[] = {
        // a value is missing
        {{"-o", "x", "-b", "1", "-p3"}, "not output for -p"},
        {{"-o", "x", "-b", "1", "-p0"}, "not output for -p"},
        {{"-o", "x", "-b", "1", "-n", "boot2"}, "not output for -n"},
        {{"-o", "x", "-b", "1", "-n"}, "not output for -n"},
        {{"-b", "1", "-u", "a", "-flash"}, "not output for -flash"},
        {{"-b", "1", "-u", "a", "-o"}, "not output for -o"},
        {{"-o", "out.pkg", "-b", "1f", "-u"}, "need extraParams for -u"},
        {{"-o", "x", "-b", "1", "-k"}, "need extraParams for -k"},
        {{"-o", "x", "-b", "1", "-r"}, "need extraParams for -r"},
        {{"-o", "x", "-b", "1", "-a"}, "need extraParams for -a"},
        {{"-o", "x", "-b", "1", "-g"}, "need extraParams for -g"},
        {{"-o", "x", "-b", "1", "-l"}, "need extraParams for -l"},
        {{"-o", "x", "-b", "1", "-c"}, "need extraParams for -c"},
        {{"-o", "x", "-b", "1", "-t"}, "need extraParams for -t"},
        {{"-o", "x", "-u", "a", "-b"}, "need extraParams for -b"},
        // the mtd index range
        {{"-o", "x", "-b", "1", "-p0", "a.img"}, "check for -p[1,20]"},
        {{"-o", "x", "-b", "1", "-p21", "a.img"}, "check for -p[1,20]"},
        {{"-o", "x", "-b", "1", "-p99999999999999999999", "a.img"}, "check for -p[1,20]"},
        {{"-o", "x", "-b", "1", "-p4294967297", "a.img"}, "check for -p[1,20]"},
        // validation, in its order
        {{"-u", "a"}, "no output file"},
        {{"-clear"}, "no output file"},
        {{"-o", "x", "-u", "a"}, "no set board type"},
        {{"-o", "x", "-b", "1", "-clear", "-old"}, "no set packet"},
        // a scan error comes before validation
        {{"-b", "1f", "-u"}, "need extraParams for -u"},
        // values too long for the job's fields
        {{"-o", p256, "-b", "1", "-u", "a"}, "path too long for -o"},
        {{"-o", "x", "-b", "1", "-u", p256}, "path too long for -u"},
        {{"-o", "x", "-b", "1", "-flash", p256}, "path too long for -flash"},
        {{"-o", "x", "-b", "1", "-p07", p256}, "path too long for -p07"},
        {{"-o", "x", "-b", "1", "-n", "name", p256}, "path too long for -n"},
        {{"-o", "x", "-b", "1", "-n", n64, "a"}, "name too long for -n"},
    };
    for (const BadCase& c : cases) {
        std::string joined;
        for (const auto& a : c.args) joined += a.substr(0, 12) + " ";
        EXPECT_EQ(scan(c.args).message, c.message) << joined;
    }
}

TEST(Options, ValuesAreTakenVerbatim) {
    const Scan s = scan({"-o", "-u", "-b", "", "-t", "-old", "-n", "-o", "-b"});
    EXPECT_EQ(s.message, "");
    EXPECT_STREQ(s.options.outputArg, "-u");
    ASSERT_EQ(s.options.boardArgs.size(), 1u);
    EXPECT_STREQ(s.options.boardArgs[0], "");
    EXPECT_STREQ(s.options.imageArgs[fw::index(fw::PartKind::tar)], "-old");
    EXPECT_FALSE(s.options.oldRequested);
    ASSERT_EQ(s.options.namedArgs.size(), 1u);
    EXPECT_STREQ(s.options.namedArgs[0].name, "-o");
    EXPECT_STREQ(s.options.namedArgs[0].path, "-b");
}

TEST(Options, LongestValuesThatFitAreAccepted) {
    const std::string p255(255, 'p'), n63(63, 'n');
    const Scan s = scan({"-o", p255, "-b", "1", "-p20", p255, "-n", n63, p255});
    EXPECT_EQ(s.message, "");
    EXPECT_EQ(s.options.mtdArgs.size(), 1u);
}

TEST(Options, MtdOptionIsKnownByItsFirstThreeCharacters) {
    const Scan s = scan({"-o", "x", "-b", "1", "-p20", "a", "-p020", "b", "-p3x", "c", "-p07", "d", "-p", "-px"});
    EXPECT_EQ(s.message, "");
    ASSERT_EQ(s.options.mtdArgs.size(), 4u);
    const int expected[] = {20, 20, 3, 7};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(s.options.mtdArgs[i].index, expected[i]);
    EXPECT_STREQ(s.options.mtdArgs[2].path, "c");
}

TEST(Options, UnknownArgumentsArePassedOverOneAtATime) {
    const Scan s = scan({"-x", "-u", "boot.img", "-q", "-o", "out.pkg", "-B", "-b", "1", "-U"});
    EXPECT_EQ(s.message, "");
    EXPECT_STREQ(s.options.imageArgs[fw::index(fw::PartKind::boot)], "boot.img");
    EXPECT_STREQ(s.options.outputArg, "out.pkg");
}

TEST(Options, RepeatsReplaceSingleValuesAndAppendToLists) {
    const Scan s = scan({"-o", "a.pkg", "-o", "b.pkg", "-u", "x.img", "-u", "y.img", "-b", "1f", "-b", "1f",
                         "-old", "-old", "-clear", "-clear"});
    EXPECT_EQ(s.message, "");
    EXPECT_STREQ(s.options.outputArg, "b.pkg");
    EXPECT_STREQ(s.options.imageArgs[fw::index(fw::PartKind::boot)], "y.img");
    EXPECT_EQ(s.options.boardArgs.size(), 2u);
    EXPECT_TRUE(s.options.oldRequested);
}

TEST(Options, ListsHoldAnyNumberOfMtdAndNamedPairsButAHundredBoards) {
    std::vector<std::string> args{"-o", "x"};
    for (int i = 0; i < 101; ++i) args.insert(args.end(), {"-b", std::to_string(i)});
    for (int i = 0; i < 30; ++i) args.insert(args.end(), {"-p" + std::to_string(i % 20 + 1), "m"});
    for (int i = 0; i < 30; ++i) args.insert(args.end(), {"-n", "n" + std::to_string(i), "f"});
    const Scan s = scan(args);
    EXPECT_EQ(s.message, "");
    EXPECT_EQ(s.options.boardArgs.size(), 100u);
    EXPECT_STREQ(s.options.boardArgs[99], "99");
    EXPECT_EQ(s.options.mtdArgs.size(), 30u);
    EXPECT_EQ(s.options.namedArgs.size(), 30u);
}

TEST(Options, BoardCodesReadAsEightHexadecimalCharacters) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"1f", 0x1F},         {"0c35", 0xC35},     {"  a20", 0xA20},      {"\t1F", 0x1F},
        {"zz", 0},            {"", 0},             {"123456789", 0x12345678}, {"12g4", 0x12},
        {"0x1f", 0x1F},       {"ffffffff", 0xFFFFFFFF}, {"-1", 0xFFFFFFFF},
    };
    for (const auto& [text, code] : cases) EXPECT_EQ(fw::parseBoardCode(text), code) << '"' << text << '"';
}

}  // namespace
