// fwinspect never destroys what stood before, and answers only what the
// package shows: each case here once went wrong.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <sstream>

#include "support/in_process.h"
#include "support/package_bytes.h"
#include "support/test_support.h"

namespace {

using fw::PartKind;
using fwtest::Bytes;
using fwtest::fwinspect;

class Truth : public ::testing::Test {
public:
    fwtest::ScratchDir dir;
    Bytes boot = fwtest::patternBytes(1000, 1), kernel = fwtest::patternBytes(2000, 2), rfs = fwtest::patternBytes(3000, 3);
    std::string pkg = dir.write("p.update", fwtest::buildPackage({0x0c35}, {fwtest::fixedPart(PartKind::boot, boot),
                                                                           fwtest::fixedPart(PartKind::kernel, kernel),
                                                                           fwtest::fixedPart(PartKind::rfs, rfs)}));
    std::string out = dir.file("out");
};

TEST_F(Truth, ForceThatCannotNameALaterPartPutsEveryEarlierFileBack) {
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    dir.write("out/boot.img", std::string("old boot"));
    dir.write("out/kernel.img", std::string("old kernel"));
    ASSERT_EQ(::mkdir(dir.file("out/rfs.img").c_str(), 0755), 0);  // a folder at the last part's name
    const auto r = fwinspect({"extract", "--force", pkg, out});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("rfs.img is in the way and is not a file; nothing extracted"), std::string::npos) << r.err;
    EXPECT_EQ(fwtest::readFile(dir.file("out/boot.img")), Bytes({'o', 'l', 'd', ' ', 'b', 'o', 'o', 't'}));
    EXPECT_EQ(fwtest::readFile(dir.file("out/kernel.img")).size(), 10u);
    const auto names = [&] {
        std::vector<std::string> n;
        for (const auto& e : std::filesystem::directory_iterator(out)) n.push_back(e.path().filename());
        std::sort(n.begin(), n.end());
        return n;
    }();
    EXPECT_EQ(names, (std::vector<std::string>{"boot.img", "kernel.img", "rfs.img"}));
}

// chattr +i needs root and a file system that keeps the flag; skipped elsewhere.
TEST_F(Truth, ForceThatMeetsAnImmutableFileMidwayRestoresTheFilesItReplaced) {
    ASSERT_EQ(::mkdir(out.c_str(), 0755), 0);
    dir.write("out/boot.img", std::string("old boot"));
    dir.write("out/rfs.img", std::string("old rfs"));
    if (::geteuid() != 0 || std::system(("chattr +i " + out + "/rfs.img 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "no immutable files here";
    const auto r = fwinspect({"extract", "--force", pkg, out});
    EXPECT_EQ(std::system(("chattr -i " + out + "/rfs.img").c_str()), 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(fwtest::readFile(dir.file("out/boot.img")), Bytes({'o', 'l', 'd', ' ', 'b', 'o', 'o', 't'}));
    EXPECT_FALSE(fwtest::exists(dir.file("out/kernel.img")));
    EXPECT_EQ(fwtest::readFile(dir.file("out/rfs.img")).size(), 7u);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(out)) ++entries;
    EXPECT_EQ(entries, 2u);
}

TEST_F(Truth, OnlyTheChosenPartsAreExtractedAndAnUnknownLabelListsThePackagesParts) {
    auto r = fwinspect({"extract", "--part", "kernel", "--part", "boot", pkg, out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fwtest::readFile(out + "/kernel.img"), kernel);
    EXPECT_EQ(fwtest::readFile(out + "/boot.img"), boot);
    EXPECT_FALSE(fwtest::exists(out + "/rfs.img"));
    r = fwinspect({"extract", "--part", "-p3", pkg, dir.file("other")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the package has no part -p3; it holds boot, kernel, rfs; nothing extracted"), std::string::npos)
        << r.err;
    EXPECT_FALSE(fwtest::exists(dir.file("other")));
}

TEST_F(Truth, SignRefusesToWriteOverWhatItReads) {
    const Bytes before = fwtest::readFile(pkg);
    const std::string key = dir.write("k.pem", std::string("not read: the clash is found by inode"));
    ASSERT_EQ(::link(pkg.c_str(), dir.file("alias").c_str()), 0);
    ASSERT_EQ(::symlink(key.c_str(), dir.file("keylink").c_str()), 0);
    for (const std::string& output : {pkg, dir.file("alias"), key, dir.file("keylink")}) {
        const auto r = fwinspect({"sign", "--key", key, "--cert", key, "--output", output, pkg});
        EXPECT_EQ(r.status, 2) << output;
    }
    EXPECT_EQ(fwtest::readFile(pkg), before);
}

// 400 MB on paper, a few KiB on disk.
std::string sparseManyBoards(const fwtest::ScratchDir& dir) {
    const std::uint32_t boards = 100'000'000;
    Bytes part = fwtest::buildPackage({0x0c35}, {fwtest::fixedPart(PartKind::boot, fwtest::patternBytes(64))});
    const std::uint32_t first = fwtest::wordAt(part, 36 + 4);
    Bytes head;
    for (std::uint32_t w : {0x41555046u, 0x1u, 0u, 0u, 0u, boards, 36u, 1u, 36 + 4 * boards}) fwtest::appendWord(head, w);
    const std::string path = dir.write("huge.update", head);
    const int fd = ::open(path.c_str(), O_WRONLY);
    Bytes table;
    fwtest::appendWord(table, 36 + 4 * boards + 4);
    table.insert(table.end(), part.begin() + first, part.end());
    EXPECT_EQ(::pwrite(fd, table.data(), table.size(), 36 + 4ll * boards), static_cast<ssize_t>(table.size()));
    ::close(fd);
    return path;
}

TEST_F(Truth, AClaimOfAHundredMillionBoardsCostsNoMoreThanTheBytesThere) {
    const std::string huge = sparseManyBoards(dir);
    const std::vector<std::vector<std::string>> commands = {
        {"list", huge}, {"list", "--json", huge}, {"verify", huge}, {"diff", huge, pkg}, {"extract", huge, out}};
    for (const auto& args : commands) {
        const auto start = std::chrono::steady_clock::now();
        const auto r = fwinspect(args);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_NE(r.status, 0) << args[0];
        EXPECT_LT(seconds, 1.0) << args[0];
        EXPECT_LT(r.out.size() + r.err.size(), 64u << 10) << args[0];
        EXPECT_NE(r.out.find("board count 100000000, more than the 100 a package can hold"), std::string::npos)
            << args[0] << r.out;
    }
    EXPECT_FALSE(fwtest::exists(out));
}

TEST_F(Truth, AFileTooShortForAHeaderIsNotAPackage) {
    const std::string shortFile = dir.write("short", Bytes(20, 0));
    const auto list = fwinspect({"list", shortFile});
    EXPECT_EQ(list.status, 1);
    EXPECT_NE(list.out.find("(20 bytes): not a package\n"), std::string::npos) << list.out;
    EXPECT_EQ(list.out.find("layout"), std::string::npos) << list.out;
    const auto json = fwinspect({"list", "--json", shortFile});
    EXPECT_EQ(json.out.find("\"layout\""), std::string::npos) << json.out;
    EXPECT_EQ(json.out.find("\"header\""), std::string::npos) << json.out;
    EXPECT_NE(fwinspect({"verify", shortFile}).out.find(": not a package, 1 defect\n"), std::string::npos);
}

TEST_F(Truth, DiffOfADamagedPackageIsNeverSame) {
    Bytes cut = fwtest::readFile(pkg);
    cut.resize(cut.size() - 100);
    Bytes badMagic = fwtest::readFile(pkg);
    badMagic[fwtest::wordAt(badMagic, 40)] ^= 1;
    for (const Bytes& damaged : {cut, badMagic}) {
        const std::string other = dir.write("d.update", damaged);
        EXPECT_EQ(fwinspect({"diff", pkg, other}).status, 2);
        EXPECT_EQ(fwinspect({"diff", other, other}).status, 2);
    }
}

TEST_F(Truth, TheLayoutCanBeNamedWhenTheGuessIsWrong) {
    // Legacy board, normal parts: a package -b 1a0 without -old makes.
    const std::string legacy = dir.write("l.update", fwtest::buildPackage({0x1a0}, {fwtest::fixedPart(PartKind::app, boot),
                                                                                   fwtest::fixedPart(PartKind::flash, rfs)}));
    EXPECT_EQ(fwinspect({"verify", legacy}).status, 1);
    const auto r = fwinspect({"verify", "--layout", "normal", legacy});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(fwinspect({"list", "--layout", "normal", legacy}).out.find("layout   normal: as --layout says\n"),
              std::string::npos);
}

// The reader checks the header against the parts, but nothing checks the
// board codes: a verdict about a board rests on bytes no digest covers, so
// verify --board without a signature says so; a plain verify has no such line.
TEST_F(Truth, VerifyBoardWithoutASignatureSaysTheBoardsAreCoveredByNoDigest) {
    EXPECT_EQ(fwinspect({"verify", pkg}).out, pkg + ": sound, 3 parts\n");
    const auto r = fwinspect({"verify", "--board", "0c35", pkg});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, pkg + ": the header and board table are covered by no digest; only a signature (verify --ca) "
                           "vouches for them\n" + pkg + ": sound, 3 parts\n");
    const std::string one = dir.write("one.update", fwtest::buildPackage({1}, {fwtest::fixedPart(PartKind::boot, boot)}));
    EXPECT_NE(fwinspect({"verify", one}).out.find(": sound, 1 part\n"), std::string::npos);
}

// md5sum, sha256sum and stat of "abc" as the input of a named part.
TEST_F(Truth, NamedAndTarPartsShowTheDigestsOfTheirInputAlone) {
    const std::string abcMd5 = "900150983cd24fb0d6963f7d28e17f72";
    const std::string abcSha = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const std::string p = dir.write("n.update", fwtest::buildPackage({1}, {fwtest::fixedPart(PartKind::tar, {'a', 'b', 'c'}),
                                                                          fwtest::namedPart("splash", {'a', 'b', 'c'})}));
    const auto list = fwinspect({"list", "--digests", p});
    EXPECT_NE(list.out.find("input    part 0           3 bytes  md5 " + abcMd5 + "\n         sha256 " + abcSha + "\n"),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("input    part 1           3 bytes  md5 " + abcMd5), std::string::npos);
    const auto json = fwinspect({"verify", "--json", p});
    EXPECT_NE(json.out.find("\"input\":{\"length\":3,\"md5\":\"" + abcMd5 + "\",\"sha256\":\"" + abcSha + "\"}"),
              std::string::npos)
        << json.out;
    const std::string q = dir.write("m.update", fwtest::buildPackage({1}, {fwtest::fixedPart(PartKind::tar, {'a', 'b', 'c'}),
                                                                          fwtest::namedPart("splash", {'a', 'b'})}));
    const auto diff = fwinspect({"diff", q, p});
    EXPECT_NE(diff.out.find("; input length 2 -> 3, md5 "), std::string::npos) << diff.out;
}

}  // namespace

namespace {

// The most a package holds: every fixed kind, 20 mtd parts, 20 names of
// the longest length; every row's digest starts in the same column, so do
// the SHA-256 digests and every input line's.
// A read the disk fails is no fact about the package: the header, the
// board table or a part header that cannot be read makes the package
// unreadable (2), never "too short", a defect or a sound package without
// its boards.
TEST_F(Truth, AStructureReadTheDiskFailsMakesThePackageUnreadable) {
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot run here";
    for (const char* when : {"1", "2", "3", "5"}) {
        const std::string out = dir.file("out"), command =
            "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o /dev/null -P " + pkg +
            " -e trace=pread64 -e inject=pread64:error=EIO:when=" + when + " " FWINSPECT_BINARY " verify " + pkg +
            " >" + out + " 2>&1";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 2) << when;
        EXPECT_EQ(fwtest::textOf(out), "fwinspect: cannot read " + pkg + ": Input/output error\n") << when;
    }
}

TEST(ListColumns, FortyNinePartsWithTheLongestNamesStayAligned) {
    using fw::PartKind;
    std::vector<fwtest::RawPart> parts;
    for (PartKind k : {PartKind::boot, PartKind::kernel, PartKind::rfs, PartKind::app, PartKind::config,
                       PartKind::flash, PartKind::logo, PartKind::chlogo, PartKind::tar})
        parts.push_back(fwtest::fixedPart(k, fwtest::patternBytes(10)));
    for (std::uint32_t i = 1; i <= 20; ++i) parts.push_back(fwtest::mtdPart(i, fwtest::patternBytes(i * 1000)));
    for (int i = 0; i < 20; ++i)
        parts.push_back(fwtest::namedPart(std::string(61, 'n') + std::to_string(10 + i), fwtest::patternBytes(7)));
    fwtest::ScratchDir dir;
    const std::string pkg = dir.write("p.update", fwtest::buildPackage({0x0c35}, parts));
    const auto list = fwtest::fwinspect({"list", "--digests", pkg});
    ASSERT_EQ(list.status, 0) << list.out;
    const std::string md5 = fwtest::hex(fwtest::md5Of(fwtest::patternBytes(10)));
    std::set<std::size_t> digestColumns, sha256Columns, inputColumns;
    std::istringstream lines(list.out);
    int rows = 0, checked = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("input", 0) != 0 && line.find(md5) != std::string::npos) {
            ++rows;
            digestColumns.insert(line.find(md5));
        }
        if (line.size() > 6 && line.substr(2, 4) == "  ok") {
            ++checked;
            sha256Columns.insert(line.size() - 64);
        }
        if (line.rfind("input    part", 0) == 0) inputColumns.insert(line.find(" md5 "));
    }
    EXPECT_EQ(rows, 8);  // the fixed kinds but the tar part, whose data starts with its path
    EXPECT_EQ(checked, 49);
    EXPECT_EQ(digestColumns.size(), 1u) << list.out;
    EXPECT_EQ(sha256Columns.size(), 1u) << list.out;
    EXPECT_EQ(inputColumns.size(), 1u) << list.out;
}

}  // namespace
