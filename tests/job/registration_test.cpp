#include "job/registration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/writer.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;

class Registration : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::unique_ptr<fw::PackageJob> job = fw::createJob();

    std::string file(const std::string& name, std::size_t size, std::uint32_t salt = 1) {
        return dir.write(name, fwtest::patternBytes(size, salt));
    }
    std::string missing() const { return dir.file("missing.img"); }
};

TEST_F(Registration, PartKindGetsPathLengthAndItsTypeCodeWithoutBeingRead) {
    struct Kind {
        fw::PartKind kind;
        const char* name;
        std::uint32_t typeCode;
    };
    const Kind kinds[] = {{fw::PartKind::boot, "boot", 1},     {fw::PartKind::kernel, "kernel", 2},
                          {fw::PartKind::rfs, "rfs", 3},       {fw::PartKind::app, "app", 4},
                          {fw::PartKind::config, "config", 5}, {fw::PartKind::logo, "logo", 6},
                          {fw::PartKind::chlogo, "chlogo", 7}, {fw::PartKind::tar, "tar", 9},
                          {fw::PartKind::flash, "flash", 22}};
    for (const Kind& info : kinds) {
        const std::string path = file(std::string(info.name) + ".img", 100 + info.typeCode, info.typeCode);
        fw::registerImage(*job, info.kind, path.c_str());
        const std::size_t k = fw::index(info.kind);
        EXPECT_EQ(job->hasImage[k], 1);
        EXPECT_STREQ(job->imagePaths[k].data(), path.c_str());
        const fw::PartHeader& h = job->fixedHeaders[k];
        EXPECT_EQ(h.magic, 0x5350502Au);
        EXPECT_EQ(h.typeCode, info.typeCode) << info.name;
        EXPECT_EQ(h.dataLength, 100 + info.typeCode);
        EXPECT_EQ(h.digest, fw::Digest{}) << "the writer digests what it copies";
        EXPECT_EQ(h.nameLength, 0u);
        EXPECT_EQ(h.partIndex, 0u);
    }
}

TEST_F(Registration, MissingInputsDropOutSilently) {
    fw::registerImage(*job, fw::PartKind::boot, missing().c_str());
    fw::registerMtdParts(*job, {{4, missing().c_str()}});
    fw::registerNamedParts(*job, {{"x", missing().c_str()}});
    EXPECT_EQ(job->hasImage[fw::index(fw::PartKind::boot)], 0);
    EXPECT_EQ(job->imagePaths[fw::index(fw::PartKind::boot)][0], '\0');
    EXPECT_EQ(job->mtdMask, 0u);
    EXPECT_EQ(job->namedMask, 0u);
}

TEST_F(Registration, UnreadableInputIsRegisteredWithUnknownLength) {
    // A folder exists and opens, but cannot be read: its length must never
    // be taken for an empty file's.
    fw::registerImage(*job, fw::PartKind::rfs, dir.path().c_str());
    const std::size_t k = fw::index(fw::PartKind::rfs);
    EXPECT_EQ(job->hasImage[k], 1);
    EXPECT_EQ(job->imageLengths[k], -3);
    EXPECT_EQ(job->fixedHeaders[k].dataLength, 0xFFFFFFFFu);
}

TEST_F(Registration, LaterMtdPairWithTheSameIndexDecides) {
    const std::string a = file("a.img", 10, 1), b = file("b.img", 20, 2);
    fw::registerMtdParts(*job, {{3, a.c_str()}, {3, b.c_str()}});
    EXPECT_EQ(job->mtdMask, 0b100u);
    EXPECT_STREQ(job->mtdPaths[2].data(), b.c_str());
    EXPECT_EQ(job->mtdHeaders[2].typeCode, 21u);
    EXPECT_EQ(job->mtdHeaders[2].partIndex, 3u);
    EXPECT_EQ(job->mtdHeaders[2].dataLength, 20u);

    fw::registerMtdParts(*job, {{3, missing().c_str()}});
    EXPECT_EQ(job->mtdMask, 0u);
    EXPECT_EQ(job->mtdPaths[2][0], '\0');
}

// lint tells which pairs a later one replaces; what it tells must be what
// registration keeps.
TEST_F(Registration, ReplacedLaterNamesThePairsWhoseSlotAnotherPairTakes) {
    const std::string a = file("a.img", 10, 1), b = file("b.img", 20, 2), c = file("c.img", 30, 3);
    const std::vector<fw::MtdArg> mtd{{3, a.c_str()}, {5, b.c_str()}, {3, c.c_str()}};
    fw::registerMtdParts(*job, mtd);
    for (std::size_t i = 0; i < mtd.size(); ++i)
        EXPECT_EQ(fw::replacedLater(mtd, i), job->mtdPaths[mtd[i].index - 1].data() != std::string(mtd[i].path)) << i;
    const std::vector<fw::NamedArg> named{{"x", a.c_str()}, {"y", b.c_str()}, {"x", c.c_str()}, {"xy", a.c_str()}};
    fw::registerNamedParts(*job, named);
    EXPECT_EQ(job->namedMask, 0b111u);
    for (std::size_t i = 0; i < named.size(); ++i) {
        std::size_t s = 0;
        while (s < 3 && job->partNames[s].data() != std::string(named[i].name)) ++s;
        ASSERT_LT(s, 3u) << named[i].name;
        EXPECT_EQ(fw::replacedLater(named, i), job->namedPaths[s].data() != std::string(named[i].path)) << i;
    }
}

TEST_F(Registration, MtdIndicesOutsideOneToTwentyAreSkipped) {
    const std::string a = file("a.img", 10);
    fw::registerMtdParts(*job, {{0, a.c_str()}, {21, a.c_str()}, {-5, a.c_str()}, {20, a.c_str()}});
    EXPECT_EQ(job->mtdMask, 1u << 19);
}

TEST_F(Registration, NamedSlotsGoToNewNamesInAscendingOrder) {
    const std::string a = file("a.bin", 5, 1), b = file("b.bin", 6, 2), c = file("c.bin", 7, 3);
    fw::registerNamedParts(*job, {{"x", a.c_str()}, {"z", c.c_str()}, {"y", b.c_str()}});
    EXPECT_EQ(job->namedMask, 0b111u);
    EXPECT_STREQ(job->partNames[0].data(), "x");
    EXPECT_STREQ(job->partNames[1].data(), "z");
    EXPECT_STREQ(job->partNames[2].data(), "y");

    fw::registerNamedParts(*job, {{"z", a.c_str()}});
    EXPECT_EQ(job->namedMask, 0b111u);
    EXPECT_STREQ(job->namedPaths[1].data(), a.c_str());
}

TEST_F(Registration, MissingFileFreesTheSlotOfItsNameForTheNextNewName) {
    const std::string a = file("a.bin", 5, 1), b = file("b.bin", 6, 2);
    fw::registerNamedParts(*job, {{"x", a.c_str()}, {"x", missing().c_str()}, {"y", b.c_str()}});
    EXPECT_EQ(job->namedMask, 1u);
    EXPECT_STREQ(job->partNames[0].data(), "y");
    EXPECT_EQ(std::memcmp(job->partNames[0].data(), "y\0\0\0", 4), 0);
    EXPECT_EQ(job->namedHeaders[0].nameLength, 4u);
}

TEST_F(Registration, NameFieldIsTheNameRoundedUpToWholeWordsAndTheWriterDigestsIt) {
    const Bytes content = fwtest::patternBytes(5);
    const std::string path = dir.write("f.bin", content);
    struct Case {
        const char* name;
        std::uint32_t field;
    };
    const std::string longest(63, 'n');
    for (const Case& c : {Case{"", 0}, Case{"a", 4}, Case{"boot", 4}, Case{"abcde", 8}, Case{longest.c_str(), 64}}) {
        auto fresh = fw::createJob();
        fw::registerNamedParts(*fresh, {{c.name, path.c_str()}});
        const fw::PartHeader& h = fresh->namedHeaders[0];
        EXPECT_EQ(h.typeCode, 20u);
        EXPECT_EQ(h.nameLength, c.field) << c.name;
        EXPECT_EQ(h.dataLength, c.field + 5);
        Bytes covered(c.field, 0);
        std::copy(c.name, c.name + std::strlen(c.name), covered.begin());
        covered.insert(covered.end(), content.begin(), content.end());
        fw::addBoardCode(*fresh, 0x1f);
        fwtest::CapturedOutput out;
        ASSERT_EQ(fw::writePackage(*fresh, dir.file("p.update").c_str(), out.stream()), 0) << out.text();
        const Bytes package = fwtest::readFile(dir.file("p.update"));
        const std::size_t digestAt = 44 + 28;  // one board, one part
        EXPECT_TRUE(std::equal(package.begin() + digestAt, package.begin() + digestAt + 16, fwtest::md5Of(covered).begin()))
            << c.name;
    }
}

TEST_F(Registration, TwentyNamesFillTheTableAndLaterPairsAreIgnored) {
    const std::string a = file("a.bin", 5), b = file("b.bin", 9, 2);
    std::vector<std::string> names;
    for (int i = 0; i < 21; ++i) names.push_back("part" + std::to_string(i));
    std::vector<fw::NamedArg> pairs;
    for (const auto& n : names) pairs.push_back({n.c_str(), a.c_str()});
    pairs.push_back({"part0", b.c_str()});  // the table is full: ignored too
    fw::registerNamedParts(*job, pairs);
    EXPECT_EQ(job->namedMask, (1u << 20) - 1);
    EXPECT_STREQ(job->partNames[19].data(), "part19");
    EXPECT_STREQ(job->namedPaths[0].data(), a.c_str());
}

}  // namespace
