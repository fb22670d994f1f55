#include "package/writer.h"

#include <gtest/gtest.h>

#include "support/in_process.h"
#include "support/package_bytes.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;
using fwtest::RawPart;

class Writer : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string out = dir.file("out.update");

    // Inputs named after their kind, of distinct sizes and contents.
    std::string input(const std::string& name, std::size_t size) {
        return dir.write(name, fwtest::patternBytes(size, static_cast<std::uint32_t>(size)));
    }
    Bytes bytesOf(const std::string& name) { return fwtest::readFile(dir.file(name)); }
    fwtest::RunResult pack(std::vector<std::string> args) {
        args.insert(args.begin(), {"-o", out});
        return fwtest::runPackerWith(args);
    }
};

TEST_F(Writer, OneBootImageMakesTheSmallestPackage) {
    const std::string boot = dir.write("boot.img", "0123456789");
    const auto r = pack({"-b", "123", "-u", boot});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "packs :1,0,0-0,0,0-0 flash-0 \nfinished!");
    const Bytes pkg = fwtest::readFile(out);
    ASSERT_EQ(pkg.size(), 110u);
    EXPECT_EQ(fwtest::wordAt(pkg, 40), 44u);
    EXPECT_EQ(pkg, fwtest::expectedPackage(0x1, {0x123}, {{1, bytesOf("boot.img")}}));
}

TEST_F(Writer, PartsAreFourAlignedWithZeroGaps) {
    input("boot.img", 10);
    input("kernel.img", 7);
    const auto r = pack({"-b", "1", "-k", dir.file("kernel.img"), "-u", dir.file("boot.img")});
    ASSERT_EQ(r.status, 0) << r.output;
    const Bytes pkg = fwtest::readFile(out);
    EXPECT_EQ(fwtest::wordAt(pkg, 40), 48u);
    EXPECT_EQ(fwtest::wordAt(pkg, 44), 116u);
    EXPECT_EQ(pkg[114], 0);
    EXPECT_EQ(pkg[115], 0);
    EXPECT_EQ(pkg.size(), 116u + 56 + 7);
    EXPECT_EQ(pkg, fwtest::expectedPackage(0x3, {1}, {{1, bytesOf("boot.img")}, {2, bytesOf("kernel.img")}}));
}

struct AllKinds {
    std::vector<std::string> args;
};

AllKinds allNineKinds(Writer& w, const fwtest::ScratchDir& dir) {
    (void)w;
    const std::pair<const char*, std::size_t> files[] = {{"boot", 11},  {"kernel", 22}, {"rfs", 33},
                                                         {"app", 44},   {"config", 55}, {"logo", 66},
                                                         {"chlogo", 77}, {"tar", 88},   {"flash", 99}};
    for (const auto& [name, size] : files) dir.write(name, fwtest::patternBytes(size, static_cast<std::uint32_t>(size)));
    return {{"-b", "a20", "-b", "a14", "-u", dir.file("boot"), "-k", dir.file("kernel"), "-r", dir.file("rfs"), "-a",
             dir.file("app"), "-g", dir.file("config"), "-l", dir.file("logo"), "-c", dir.file("chlogo"), "-t",
             dir.file("tar"), "-flash", dir.file("flash")}};
}

Bytes tarData(const Bytes& archive) {
    return fwtest::concat(fwtest::nameField(fwtest::tarPath, 40), archive);
}

TEST_F(Writer, AllNineKindsInTheNormalLayout) {
    const auto r = pack(allNineKinds(*this, dir).args);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output,
              "packs :1,1,1-1,1,1-1 flash-1 \nrfs len = 33\napp len = 44\nPart5 len = 55\nPart5 len = 99\nfinished!");
    const Bytes expected = fwtest::expectedPackage(
        0x20017F, {0xA20, 0xA14},
        {{1, bytesOf("boot")}, {2, bytesOf("kernel")}, {3, bytesOf("rfs")}, {4, bytesOf("app")},
         {5, bytesOf("config")}, {22, bytesOf("flash")}, {6, bytesOf("logo")}, {7, bytesOf("chlogo")},
         {9, tarData(bytesOf("tar")), 40}});
    EXPECT_EQ(fwtest::readFile(out), expected);
}

TEST_F(Writer, OldLayoutLeavesOutKernelAppConfigAndRenumbers) {
    auto args = allNineKinds(*this, dir).args;
    args.push_back("-old");
    const auto r = pack(args);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "packs :1,1,1-1,1,1-1 flash-1 \nrfs len = 33\nPart5 len = 99\nfinished!");
    const Bytes expected = fwtest::expectedPackage(
        0x20014B, {0xA20, 0xA14},
        {{1, bytesOf("boot")}, {2, bytesOf("rfs")}, {22, bytesOf("flash")}, {4, bytesOf("logo")},
         {7, bytesOf("chlogo")}, {9, tarData(bytesOf("tar")), 40}});
    EXPECT_EQ(fwtest::readFile(out), expected);
}

TEST_F(Writer, OldLayoutWithBootAndLogoCountsBoth) {
    input("boot", 3);
    input("logo", 5);
    ASSERT_EQ(pack({"-old", "-b", "1", "-l", dir.file("logo"), "-u", dir.file("boot")}).status, 0);
    EXPECT_EQ(fwtest::readFile(out), fwtest::expectedPackage(0x9, {1}, {{1, bytesOf("boot")}, {4, bytesOf("logo")}}));
}

TEST_F(Writer, TarArchiveCarriesItsTargetPathAndANewDigest) {
    for (std::size_t n : {0u, 1u, 10000u}) {
        input("a.tar.gz", n);
        ASSERT_EQ(pack({"-b", "1", "-t", dir.file("a.tar.gz"), "-u", dir.file("a.tar.gz")}).status, 0);
        const Bytes pkg = fwtest::readFile(out);
        const Bytes archive = bytesOf("a.tar.gz");
        EXPECT_EQ(pkg, fwtest::expectedPackage(0x101, {1}, {{1, archive}, {9, tarData(archive), 40}})) << n;
        const std::size_t tarAt = fwtest::wordAt(pkg, 44);
        EXPECT_EQ(pkg[tarAt + 56 + 39], 0);
    }
}

TEST_F(Writer, MtdPartsStandInIndexOrder) {
    input("a.img", 9);
    input("b.img", 6);
    const auto r = pack({"-b", "1", "-p5", dir.file("a.img"), "-p2", dir.file("b.img")});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "packs :0,0,0-0,0,0-0 flash-0 \n[part 1:" + dir.file("b.img") + "] len = 6\n[part 4:" +
                            dir.file("a.img") + "] len = 9\nfinished!");
    EXPECT_EQ(fwtest::readFile(out), fwtest::expectedPackage(0x100000, {1}, {{21, bytesOf("b.img"), 0, 2},
                                                                              {21, bytesOf("a.img"), 0, 5}}));
}

TEST_F(Writer, NamedPartsCarryTheirNameField) {
    input("f5", 5);
    input("f2", 2);
    const auto r = pack({"-b", "1", "-n", "abcde", dir.file("f5"), "-n", "boot", dir.file("f2"), "-n", "", dir.file("f2")});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "packs :0,0,0-0,0,0-0 flash-0 \n[part name <abcde," + dir.file("f5") +
                            ">] len = 5\n[part name <boot," + dir.file("f2") + ">] len = 2\n[part name <," +
                            dir.file("f2") + ">] len = 2\nfinished!");
    EXPECT_EQ(fwtest::readFile(out),
              fwtest::expectedPackage(0x80000, {1},
                                      {{20, fwtest::concat(fwtest::nameField("abcde", 8), bytesOf("f5")), 8},
                                       {20, fwtest::concat(fwtest::nameField("boot", 4), bytesOf("f2")), 4},
                                       {20, bytesOf("f2"), 0}}));
}

TEST_F(Writer, FortyNinePartsAllReachTheOffsetTable) {
    std::vector<std::string> args{"-b", "1"};
    std::vector<RawPart> parts;
    const char* options[] = {"-u", "-k", "-r", "-a", "-g", "-flash", "-l", "-c"};
    const std::uint32_t codes[] = {1, 2, 3, 4, 5, 22, 6, 7};
    for (int i = 0; i < 8; ++i) {
        args.insert(args.end(), {options[i], input("k" + std::to_string(i), 5 + static_cast<std::size_t>(i))});
        parts.push_back({codes[i], bytesOf("k" + std::to_string(i))});
    }
    args.insert(args.end(), {"-t", input("t", 3)});
    parts.push_back({9, tarData(bytesOf("t")), 40});
    for (int i = 1; i <= 20; ++i) {
        args.insert(args.end(), {"-p" + std::to_string(i), input("m" + std::to_string(i), 20u + static_cast<std::size_t>(i))});
        parts.push_back({21, bytesOf("m" + std::to_string(i)), 0, static_cast<std::uint32_t>(i)});
    }
    for (int i = 0; i < 20; ++i) {
        const std::string name = "n" + std::to_string(i);
        args.insert(args.end(), {"-n", name, input(name, 50u + static_cast<std::size_t>(i))});
        parts.push_back({20, fwtest::concat(fwtest::nameField(name, 4), bytesOf(name)), 4});
    }
    const auto r = pack(args);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(fwtest::readFile(out), fwtest::expectedPackage(0x38017F, {1}, parts));
}

// Parts of many pieces, longer than a core keeps a chain before another
// may take it over, read on one core and written from another, and ending
// off any piece or word boundary: every byte still lands in its place.
TEST_F(Writer, PartsCopiedPieceByPieceOnSeveralCoresLandWhereTheyBelong) {
    std::vector<std::string> args{"-b", "1"};
    std::vector<RawPart> parts;
    const std::size_t sizes[] = {20'000'003, 17'825'793, 1'310'721, 131'072, 5};
    for (std::size_t i = 0; i < std::size(sizes); ++i) {
        const std::string name = "n" + std::to_string(i);
        args.insert(args.end(), {"-n", name, input(name, sizes[i])});
        parts.push_back({20, fwtest::concat(fwtest::nameField(name, 4), bytesOf(name)), 4});
    }
    const auto r = pack(args);
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(fwtest::readFile(out), fwtest::expectedPackage(0x80000, {1}, parts));
}

TEST_F(Writer, SameInputsAlwaysGiveTheSameBytes) {
    auto args = allNineKinds(*this, dir).args;
    ASSERT_EQ(pack(args).status, 0);
    const Bytes first = fwtest::readFile(out);
    ASSERT_EQ(pack(args).status, 0);
    EXPECT_EQ(fwtest::readFile(out), first);
}

}  // namespace
