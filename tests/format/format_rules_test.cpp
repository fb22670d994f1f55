// The format's rules on records alone: the layout a package reads in, and
// what a header or a run of parts breaks.
#include <gtest/gtest.h>

#include "format/layout_guess.h"
#include "format/part_checks.h"

namespace {

TEST(LayoutGuess, CodesOfOneLayoutSettleItAndLegacyBoardsDecideTheRest) {
    const std::vector<std::uint32_t> legacy{0x1a0, 0x1c2}, mixed{0x1a0, 0xc35};
    struct Case {
        std::vector<std::uint32_t> codes;
        const std::vector<std::uint32_t>* boards;
        bool old, guessed;
        const char* reason;
    };
    const Case cases[] = {
        {{1, 5}, &legacy, false, false, "type codes only the normal layout uses"},
        {{2, 22}, &legacy, true, true, "every board is a legacy board"},
        {{1, 9}, &legacy, true, false, "every board is a legacy board"},
        {{2}, &mixed, false, true, "not every board is a legacy board"},
        {{2}, nullptr, false, true, "not every board is a legacy board"},
        {{4, 3}, &legacy, false, false, "type codes only the normal layout uses"},
    };
    for (const Case& c : cases) {
        const fw::LayoutGuess g = fw::guessLayout(c.codes, c.boards);
        EXPECT_EQ(g.oldLayout, c.old) << c.reason;
        EXPECT_EQ(g.guessed, c.guessed) << c.reason;
        EXPECT_STREQ(g.reason, c.reason);
    }
}

fw::PackageHeaderBytes headerBytes(std::uint32_t magic, std::uint32_t boards, std::uint32_t parts,
                                   std::uint32_t partTable) {
    fw::PackageHeader h;
    h.magic = magic;
    h.boardCount = boards;
    h.partCount = parts;
    h.partTableOffset = partTable;
    return fw::encodePackageHeader(h);
}

TEST(PackageHeaderRules, ClaimsBeyondTheFileOrTheFormatAreDefects) {
    struct Case {
        fw::PackageHeaderBytes raw;
        std::uint64_t size;
        bool readable;
        std::uint32_t examined;
        std::vector<std::string> defects;
    };
    const Case cases[] = {
        {headerBytes(0x41555046, 1, 1, 40), 110, true, 1, {}},
        {headerBytes(0x12345678, 1, 1, 40), 110, false, 0, {"package magic is not FPUA"}},
        {headerBytes(0x41555046, 1, 1, 44), 110, true, 1, {"package header: part table offset 44, expected 40"}},
        {headerBytes(0x41555046, 1, 2, 40), 44, false, 0, {"package header: the tables run past the end of the file"}},
        {headerBytes(0x41555046, 1, 0, 40), 110, true, 0, {"package header: no parts"}},
        {headerBytes(0x41555046, 1, 3, 40), 110, false, 0, {"package header: 3 parts cannot fit in 110 bytes"}},
        {headerBytes(0x41555046, 100000000, 1, 400000036), 400000100, true, 1,
         {"package header: board count 100000000, more than the 100 a package can hold; the board table is not "
          "examined"}},
    };
    for (const Case& c : cases) {
        fw::Defects found;
        const fw::HeaderVerdict v = fw::checkPackageHeader(c.raw, c.size, found);
        EXPECT_EQ(v.readable, c.readable) << testing::PrintToString(c.defects);
        EXPECT_EQ(v.examined, c.examined) << testing::PrintToString(c.defects);
        EXPECT_EQ(found, c.defects);
    }
}

TEST(WritingOrder, PartKindsOnceInOrderThenMtdByIndexThenNamed) {
    using K = fw::PartKind;
    struct Step {
        K kind;
        std::uint32_t index;
        bool admitted;
    };
    const std::vector<Step> runs[] = {
        {{K::boot, 0, true}, {K::rfs, 0, true}, {K::flash, 0, true}, {K::logo, 0, true}, {K::tar, 0, true},
         {K::mtd, 1, true}, {K::mtd, 3, true}, {K::named, 0, true}, {K::named, 0, true}},
        {{K::rfs, 0, true}, {K::boot, 0, false}},
        {{K::kernel, 0, true}, {K::kernel, 0, false}},
        {{K::mtd, 3, true}, {K::mtd, 3, false}, {K::mtd, 2, false}},
        {{K::named, 0, true}, {K::mtd, 1, false}},
        {{K::logo, 0, true}, {K::flash, 0, false}},
    };
    for (const auto& run : runs) {
        fw::WritingOrder order;
        for (const Step& s : run) EXPECT_EQ(order.admits(s.kind, s.index), s.admitted) << fw::kindName(s.kind);
    }
}

}  // namespace
