// fwinspect diff matches parts by identity and says what changed.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "inspect/command/command_line.h"
#include "inspect/diff/diff.h"
#include "platform/progress.h"

#include "support/in_process.h"
#include "support/package_bytes.h"
#include "support/shell_tools.h"
#include "support/test_support.h"

namespace {

using fw::PartKind;
using fwtest::Bytes;
using fwtest::fwinspect;
using fwtest::RawPart;

class Diff : public ::testing::Test {
public:
    fwtest::ScratchDir dir;
    Bytes boot = fwtest::patternBytes(100, 1), rfs = fwtest::patternBytes(300, 2), mtd = fwtest::patternBytes(50, 3);

    std::vector<RawPart> release() {
        return {fwtest::fixedPart(PartKind::boot, boot), fwtest::fixedPart(PartKind::rfs, rfs), fwtest::mtdPart(3, mtd),
                fwtest::namedPart("splash", {9, 9})};
    }
    std::string write(const std::string& name, const std::vector<std::uint32_t>& boards,
                      const std::vector<RawPart>& parts, bool oldLayout = false) {
        return dir.write(name, fwtest::buildPackage(boards, parts, oldLayout));
    }
    fwtest::InspectOutcome diff(const std::vector<RawPart>& after, std::vector<std::uint32_t> boards = {0x0c35}) {
        return fwinspect({"diff", write("a.update", {0x0c35}, release()), write("b.update", boards, after)});
    }
    std::string tail(const std::string& a = "a.update", const std::string& b = "b.update") {
        return dir.file(a) + " -> " + dir.file(b) + ": ";
    }
};

TEST_F(Diff, IdenticalPackagesAreTheSame) {
    const auto r = diff(release());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, tail() + "same, 4 parts\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(Diff, AChangedPartShowsOldAndNewValues) {
    auto after = release();
    after[1] = fwtest::fixedPart(PartKind::rfs, fwtest::patternBytes(301, 2));
    const auto r = diff(after);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "changed  rfs: length 300 -> 301, md5 " + fwtest::hex(fwtest::md5Of(rfs)) + " -> " +
                         fwtest::hex(fwtest::md5Of(after[1].data)) + "\n" + tail() + "1 difference, 3 parts unchanged\n");
}

TEST_F(Diff, AddedAndRemovedPartsAndBoards) {
    auto after = release();
    after.erase(after.begin());                                                   // boot gone
    after.insert(after.begin() + 1, fwtest::fixedPart(PartKind::tar, {1, 2, 3}));  // tar new
    const auto r = diff(after, {0x0a20, 0x0c35, 0x1a0});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("board    added 01a0\nboard    added 0a20\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("removed  boot: 100 bytes, type code 1, md5 " + fwtest::hex(fwtest::md5Of(boot)) + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("added    tar: 43 bytes, type code 9, md5 "), std::string::npos);
    EXPECT_NE(r.out.find("kinds    0x180005 -> 0x180104\n"), std::string::npos);
    EXPECT_NE(r.out.find(tail() + "5 differences, 3 parts unchanged\n"), std::string::npos);
    const auto back = fwinspect({"diff", dir.file("b.update"), dir.file("a.update")});
    EXPECT_NE(back.out.find("board    removed 0a20\n"), std::string::npos) << back.out;
}

// The board table's order and repeats are bytes of the package too: such
// packages are not the same, whatever the board's updater makes of them.
TEST_F(Diff, BoardsInAnotherOrderOrRepeatedDiffer) {
    write("a.update", {0x0c35, 0x0a20}, release());
    const struct {
        std::vector<std::uint32_t> boards;
        const char* line;
    } cases[] = {
        {{0x0a20, 0x0c35}, "board    order 0c35 0a20 -> 0a20 0c35\n"},
        {{0x0c35, 0x0a20, 0x0c35}, "board    order 0c35 0a20 -> 0c35 0a20 0c35\n"},
    };
    for (const auto& c : cases) {
        write("b.update", c.boards, release());
        const auto r = fwinspect({"diff", dir.file("a.update"), dir.file("b.update")});
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_EQ(r.out, c.line + tail() + "1 difference, 4 parts unchanged\n");
        const auto json = fwinspect({"diff", "--json", dir.file("a.update"), dir.file("b.update")});
        EXPECT_PYTHON_JSON(json.out, "(d['same'], d['boardOrder']['old'], d['boards'])",
                           "(False, ['0c35', '0a20'], {'added': [], 'removed': []})");
    }
    const auto same = fwinspect({"diff", "--json", dir.file("a.update"), dir.file("a.update")});
    EXPECT_PYTHON_JSON(same.out, "(d['same'], d['boardOrder'])", "(True, None)");
}

// Named parts stand in the order of their -n: the same parts in another
// order are other bytes.
TEST_F(Diff, NamedPartsInAnotherOrderDiffer) {
    auto before = release();
    before.push_back(fwtest::namedPart("logo", {1, 2}));
    auto after = before;
    std::swap(after[3], after[4]);
    const std::string a = write("a.update", {0x0c35}, before), b = write("b.update", {0x0c35}, after);
    const auto r = fwinspect({"diff", a, b});
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(r.out, "parts    order named splash, named logo -> named logo, named splash\n" + tail() +
                         "1 difference, 5 parts unchanged\n");
    const auto json = fwinspect({"diff", "--json", a, b});
    EXPECT_PYTHON_JSON(json.out, "(d['same'], d['partOrder'])",
                       "(False, {'old': ['named splash', 'named logo'], 'new': ['named logo', 'named splash']})");
    EXPECT_PYTHON_JSON(fwinspect({"diff", "--json", a, a}).out, "(d['same'], d['partOrder'])", "(True, None)");
}

TEST_F(Diff, AnMtdImageUnderAnotherIndexOrARenamedPartIsRemovedAndAdded) {
    auto after = release();
    after[2] = fwtest::mtdPart(4, mtd);
    after[3] = fwtest::namedPart("splash\xff", {9, 9});
    const auto r = diff(after);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("removed  -p3 (mtd2): 50 bytes"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("added    -p4 (mtd3): 50 bytes"), std::string::npos);
    EXPECT_NE(r.out.find("removed  named splash: 10 bytes"), std::string::npos);
#ifdef _WIN32
    // The field is read in the code page, 1252 here: 0xff is ÿ.
    EXPECT_NE(r.out.find("added    named splash\xc3\xbf: 10 bytes"), std::string::npos) << r.out;
#else
    EXPECT_NE(r.out.find("added    named splash\\xff: 10 bytes"), std::string::npos);
#endif

    const auto json = fwinspect({"diff", "--json", dir.file("a.update"), dir.file("b.update")});
    EXPECT_PYTHON_JSON(json.out, "ascii([(p['change'], p['part'], p.get('nameHex'), p['label'], p['file']) for p in d['parts']])",
              "[('removed', '-p3 (mtd2)', None, '-p3', 'mtd2.img'), ('removed', 'named splash', None, 'splash', 'splash'), "
              "('added', '-p4 (mtd3)', None, '-p4', 'mtd3.img'), "
              "('added', 'named splash\\ufffd', '73706c617368ff', 'splash\\ufffd', 'splash\\ufffd')]");
}

TEST_F(Diff, TheOldLayoutAgainstTheNormalChangesTypeCodesAndLayout) {
    const std::vector<RawPart> normal{fwtest::fixedPart(PartKind::boot, boot), fwtest::fixedPart(PartKind::rfs, rfs)};
    const std::vector<RawPart> old{fwtest::fixedPart(PartKind::boot, boot), fwtest::fixedPart(PartKind::rfs, rfs, true)};
    const auto r = fwinspect({"diff", write("a.update", {0x1a0}, normal), write("b.update", {0x1a0}, old, true)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "layout   normal -> old\nkinds    0x5 -> 0x3\nchanged  rfs: type code 3 -> 2\n" + tail() +
                         "3 differences, 1 part unchanged\n");
}

// Between a sound package and a damaged one, neither "same" nor "different"
// is an answer a script may trust: the comparison is shown, the status is 2.
TEST_F(Diff, ADefectivePackageIsComparedAndEndsWithTwo) {
    Bytes b = fwtest::buildPackage({0x0c35}, release());
    b.back() ^= 1;  // the named part's data no longer matches its digest
    const auto r = fwinspect({"diff", write("a.update", {0x0c35}, release()), dir.write("b.update", b)});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out.rfind("defect   " + dir.file("b.update") + ": part 3 (named splash): digest does not match its data\n"
                          "changed  named splash: md5 ", 0),
              0u)
        << r.out;
    const auto json = fwinspect({"diff", "--json", dir.file("a.update"), dir.file("b.update")});
    EXPECT_PYTHON_JSON(json.out, "(d['old']['sound'], d['new']['sound'], len(d['new']['defects']), "
                                           "d['parts'][0]['differs'], d['same'], d['unchanged'])",
              "(True, False, 1, ['md5'], False, 3)");
}

TEST_F(Diff, AFileThatCannotBeReadOrIsNoPackageEndsWithTwo) {
    const std::string good = write("a.update", {1}, release());
    const std::string notPackage = dir.write("text", std::string(100, 'x'));
    Bytes cut = fwtest::buildPackage({1}, release());
    cut.resize(40);
    const std::string runsPast = dir.write("short.update", cut);
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{good, dir.file("missing")}, "fwinspect: cannot read " + dir.file("missing") + ": No such file or directory\n"},
        {{dir.path(), good}, "fwinspect: cannot read " + dir.path() + ": is a folder\n"},
        {{good, notPackage}, "fwinspect: " + notPackage + " is not a package: package magic is not FPUA\n"},
        {{runsPast, good}, "fwinspect: " + runsPast + " is not a package: package header: the tables run past the end of the file\n"},
    };
    for (const auto& [files, message] : cases) {
        const auto r = fwinspect({"diff", files[0], files[1]});
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_EQ(r.err, message);
        EXPECT_EQ(r.out, "");
    }
}

TEST_F(Diff, JsonIsOneDocumentWithBoardsAsNumbersAndText) {
    auto after = release();
    after[0] = fwtest::fixedPart(PartKind::boot, fwtest::patternBytes(100, 7));
    const auto r = fwinspect({"diff", "--json", write("a.update", {0x0c35}, release()),
                              write("b.update", {0x0c35, 0x12345678}, after)});
    EXPECT_EQ(r.status, 1);
    EXPECT_PYTHON_JSON(r.out, "(d['boards'], d['boardCodes'], d['same'], d['unchanged'], d['parts'][0]['part'], "
                                        "d['parts'][0]['old']['md5'] != d['parts'][0]['new']['md5'], 'layout' in d)",
              "({'added': [305419896], 'removed': []}, {'added': ['12345678'], 'removed': []}, False, 3, 'boot', True, "
              "False)");
}

// The progress line names the command the user ran, as parsed from its
// command line; a pause between pieces keeps the read long enough to draw.
TEST_F(Diff, TheProgressLineNamesDiff) {
    const std::string big = write("big.update", {1}, {fwtest::fixedPart(PartKind::rfs, Bytes(fw::progressThreshold + 1))});
    const char* argv[] = {"fwinspect", "diff", big.c_str(), big.c_str()};
    fw::Command c = fw::parseCommandLine(4, argv);
    c.options.stopRequested = [] {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return false;
    };
    fwtest::CapturedOutput out, err;
    fw::setProgressStream(err.stream());
    const int status = fw::diffPackages(big.c_str(), big.c_str(), fw::DiffOptions{c.options, false}, out.stream(), err.stream());
    fw::setProgressStream(nullptr);
    EXPECT_EQ(status, 0) << out.text();
    EXPECT_NE(err.text().find("\r\033[Kdiff big.update "), std::string::npos) << err.text();
    EXPECT_EQ(err.text().find("verify"), std::string::npos) << err.text();
}

}  // namespace
