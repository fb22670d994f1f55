// Extraction is all or nothing, never writes through an existing name,
// and offers the rebuild command only when it is exact.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "inspect/extract/extract.h"
#include "support/in_process.h"
#include "support/package_bytes.h"
#include "support/test_support.h"

namespace {

using fw::PartKind;
using fwtest::Bytes;

using fwtest::fwinspect;
using Outcome = fwtest::InspectOutcome;

class Extract : public ::testing::Test {
public:
    fwtest::ScratchDir dir;
    Bytes boot = fwtest::patternBytes(1000, 1), rfs = fwtest::patternBytes(3000, 2);
    std::string pkg = dir.write("p.update", fwtest::buildPackage({0x0c35}, {fwtest::fixedPart(PartKind::boot, boot),
                                                                           fwtest::fixedPart(PartKind::rfs, rfs)}));
    std::string out = dir.file("out");

    // Extracts with `damage` run between reading the structure and the data.
    Outcome extractChanging(const std::string& into, std::function<void()> damage, bool force = false) {
        fw::ExtractOptions options;
        options.force = force;
        options.inspection.test.afterStructure = std::move(damage);
        fwtest::CapturedOutput o, e;
        const int status = fw::extractPackage(pkg.c_str(), into.c_str(), options, o.stream(), e.stream());
        return {status, o.text(), e.text()};
    }
    // Inverts the last data byte of the package.
    void damageLastPart() {
        Bytes b = fwtest::readFile(pkg);
        b.back() ^= 0xff;
        dir.write("p.update", b);
    }
};

// Parts of many pieces are written by whichever core is free, piece by
// piece at their offsets, the name field left out: each file comes out
// whole and in order.
TEST_F(Extract, PartsOfManyPiecesComeOutByteForByte) {
    const Bytes big = fwtest::patternBytes(5 * 1024 * 1024 + 3, 7), kernel = fwtest::patternBytes(3 * 1024 * 1024 + 1, 8),
                named = fwtest::patternBytes(2 * 1024 * 1024 + 5, 9);
    pkg = dir.write("many.update", fwtest::buildPackage({1}, {fwtest::fixedPart(PartKind::boot, boot),
                                                              fwtest::fixedPart(PartKind::kernel, kernel),
                                                              fwtest::fixedPart(PartKind::rfs, big),
                                                              fwtest::namedPart("cfg", named)}));
    const Outcome r = fwinspect({"extract", pkg, out});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(fwtest::entriesOf(out), (std::vector<std::string>{"boot.img", "cfg", "kernel.img", "rfs.img"}));
    EXPECT_EQ(fwtest::readFile(out + "/boot.img"), boot);
    EXPECT_EQ(fwtest::readFile(out + "/rfs.img"), big);
    EXPECT_EQ(fwtest::readFile(out + "/kernel.img"), kernel);
    EXPECT_EQ(fwtest::readFile(out + "/cfg"), named);
}

TEST_F(Extract, AFileAlreadyThereIsNamedAndNothingIsCreated) {
    ASSERT_TRUE(std::filesystem::create_directory(out));
    dir.write("out/rfs.img", std::string("keep"));
    const Outcome r = fwinspect({"extract", pkg, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(out + "/rfs.img already exists; nothing extracted (--force replaces it)"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(fwtest::entriesOf(out), std::vector<std::string>{"rfs.img"});
    EXPECT_EQ(fwtest::readFile(out + "/rfs.img"), Bytes({'k', 'e', 'e', 'p'}));
}

// Whichever step refuses, the run says once that nothing was extracted.
TEST_F(Extract, NothingExtractedIsSaidOnce) {
    const auto count = [](const std::string& text) {
        std::size_t n = 0;
        for (auto at = text.find("nothing"); at != std::string::npos; at = text.find("nothing", at + 1)) ++n;
        return n;
    };
    ASSERT_TRUE(std::filesystem::create_directory(out));
    dir.write("out/rfs.img", std::string("keep"));
    const std::vector<std::string> cases[] = {
        {"extract", "--part", "-p3", pkg, dir.file("other")},  // no such part
        {"extract", pkg, out},                                  // a file in the way
    };
    for (const auto& args : cases) {
        const Outcome r = fwinspect(args);
        EXPECT_NE(r.status, 0) << args[2];
        EXPECT_LE(count(r.err), 1u) << r.err;
    }
    const Outcome damaged = extractChanging(dir.file("other"), [&] { damageLastPart(); });
    EXPECT_EQ(count(damaged.err), 1u) << damaged.err;
}

TEST_F(Extract, ForceReplacesTheNameAndLeavesAHardLinksOtherNameAlone) {
    const std::string outside = dir.write("outside", std::string("outside"));
    ASSERT_TRUE(std::filesystem::create_directory(out));
    std::filesystem::create_hard_link(outside, out + "/boot.img");
    const Outcome r = fwinspect({"extract", "--force", pkg, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fwtest::readFile(outside), Bytes({'o', 'u', 't', 's', 'i', 'd', 'e'}));
    EXPECT_EQ(fwtest::readFile(out + "/boot.img"), boot);
    EXPECT_EQ(fwtest::entriesOf(out), (std::vector<std::string>{"boot.img", "rfs.img"}));
}

TEST_F(Extract, MissingFoldersAreMadeAndTakenBackWhenTheDataProvesBad) {
    const std::string nested = dir.file("a/b/c");
    const Outcome bad = extractChanging(nested, [&] { damageLastPart(); });
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out,
              "part 1 (rfs): digest does not match its data\n"
              "the package changed while it was read, or its path now names another file\n");
    EXPECT_NE(bad.err.find("nothing extracted"), std::string::npos);
    EXPECT_FALSE(fwtest::exists(dir.file("a")));

    damageLastPart();  // undone
    const Outcome good = fwinspect({"extract", pkg, nested});
    EXPECT_EQ(good.status, 0) << good.err;
    EXPECT_EQ(fwtest::readFile(nested + "/rfs.img"), rfs);
}

TEST_F(Extract, AFailureLeavesWhatStoodInTheFolderAsItWas) {
    ASSERT_TRUE(std::filesystem::create_directory(out));
    dir.write("out/boot.img", std::string("old boot"));
    dir.write("out/notes", std::string("mine"));
    const Outcome r = extractChanging(out, [&] { damageLastPart(); }, true);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(fwtest::entriesOf(out), (std::vector<std::string>{"boot.img", "notes"}));  // no temporary file left
    EXPECT_EQ(fwtest::readFile(out + "/boot.img"), Bytes({'o', 'l', 'd', ' ', 'b', 'o', 'o', 't'}));
}

TEST_F(Extract, APackageThatShrinksUnderTheReaderExtractsNothing) {
    const Outcome r = extractChanging(out, [&] { std::filesystem::resize_file(pkg, 1200); });
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("part 1 (rfs): data cannot be read"), std::string::npos) << r.out;
    EXPECT_FALSE(fwtest::exists(out));
}

struct NoRebuild {
    const char* what;
    std::vector<std::uint32_t> boards;
    std::vector<fwtest::RawPart> parts;
    const char* reason;
};

TEST_F(Extract, TheRebuildCommandIsLeftOutWithItsReasonWhenFwpackCannotMakeTheSameBytes) {
    std::vector<fwtest::RawPart> twentyOne;
    for (int i = 0; i < 21; ++i) twentyOne.push_back(fwtest::namedPart("n" + std::to_string(i), {1, 2, 3}));
    const NoRebuild cases[] = {
        {"no board code", {}, {fwtest::fixedPart(PartKind::boot, boot)}, "it has no board code, and fwpack needs one"},
        {"64-byte name", {1}, {fwtest::namedPart(std::string(64, 'x'), {1})}, "a part name is longer than the 63 bytes"},
        {"21 named parts", {1}, twentyOne, "it has more named parts than the 20 fwpack keeps"},
    };
    for (const NoRebuild& c : cases) {
        dir.write("p.update", fwtest::buildPackage(c.boards, c.parts));
        const std::string into = dir.file(std::string("x-") + c.what);
        const Outcome r = fwinspect({"extract", pkg, into});
        EXPECT_EQ(r.status, 0) << c.what << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.what;
        EXPECT_NE(r.err.find("no fwpack command rebuilds " + pkg + " byte for byte: " + c.reason), std::string::npos)
            << c.what << "\n" << r.err;
        EXPECT_EQ(fwtest::entriesOf(into).size(), c.parts.size()) << c.what;
    }
}

}  // namespace

namespace {

// --part takes an mtd part's option or its partition; a part's exact label
// comes first, so a part named mtd2 is still reachable.
TEST_F(Extract, PartTakesTheOptionOrThePartitionOfAnMtdPart) {
    const Bytes mtd = fwtest::patternBytes(50, 3), named = fwtest::patternBytes(20, 4);
    const std::string mtdOnly = dir.write("m.update", fwtest::buildPackage({0x0c35}, {fwtest::mtdPart(3, mtd)}));
    const std::string withNamed = dir.write(
        "n.update", fwtest::buildPackage({0x0c35}, {fwtest::mtdPart(3, mtd), fwtest::namedPart("mtd2", named)}));
    const struct {
        std::vector<std::string> parts;
        std::string file;
        Bytes bytes;
    } chosen[] = {{{"-p3"}, "mtd2.img", mtd}, {{"mtd2"}, "mtd2.img", mtd}, {{"mtd2", "-p3"}, "mtd2.img", mtd}};
    for (const auto& c : chosen) {
        std::vector<std::string> args{"extract"};
        for (const std::string& p : c.parts) args.insert(args.end(), {"--part", p});
        const std::string into = dir.file("o" + std::to_string(&c - chosen));
        args.insert(args.end(), {mtdOnly, into});
        const auto r = fwinspect(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(fwtest::readFile(into + "/" + c.file), c.bytes);
        EXPECT_EQ(fwtest::entriesOf(into).size(), 1u);
    }
    for (const char* odd : {"-p03", "mtd02", "mtd", "-p", "MTD2", "mtd2.img"}) {
        const auto r = fwinspect({"extract", "--part", odd, mtdOnly, dir.file("odd")});
        EXPECT_EQ(r.status, 1) << odd;
        EXPECT_NE(r.err.find("no part " + std::string(odd) + "; it holds -p3 (mtd2); nothing extracted"), std::string::npos)
            << r.err;
    }
    ASSERT_EQ(fwinspect({"extract", "--part", "mtd2", withNamed, dir.file("n")}).status, 0);
    EXPECT_EQ(fwtest::entriesOf(dir.file("n")), std::vector<std::string>{"mtd2"});
}

}  // namespace
