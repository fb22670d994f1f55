// Packages made to be slow, huge or confusing end in the right defect:
// the reader examines at most the 49 parts a package can hold and reads
// no part's bytes twice. Time and memory are measured in bench/hostile.py.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "support/in_process.h"
#include "support/package_bytes.h"
#include "support/test_support.h"

namespace {

using fw::PartKind;
using fwtest::Bytes;
using fwtest::fwinspect;

std::size_t linesWith(const std::string& text, const std::string& what) {
    std::istringstream in(text);
    std::size_t n = 0;
    for (std::string line; std::getline(in, line);) n += line.find(what) != std::string::npos;
    return n;
}

class Hostile : public ::testing::Test {
public:
    fwtest::ScratchDir dir;
};

TEST_F(Hostile, ThousandsOfEntriesForOnePartAreCutAtFortyNineAndReadOnce) {
    const std::string pkg = dir.write("p.update", fwtest::oneTargetManyEntries(5000, 5000 * 60));
    const auto r = fwinspect({"verify", pkg});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("package header: 5000 parts, more than the 49 a package can hold; only the first 49 are "
                         "examined"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(linesWith(r.out, "overlaps the tables or an earlier part; its data is not read again"), 48u) << r.out;
    EXPECT_EQ(linesWith(r.out, "digest does not match"), 0u);  // the part itself is sound
    const auto list = fwinspect({"list", "--digests", pkg});
    EXPECT_EQ(linesWith(list.out, "  unread"), 48u) << list.out;
    EXPECT_EQ(linesWith(list.out, "  ok"), 1u);
}

TEST_F(Hostile, ManyLongNamesAreExaminedOnlyUpToFortyNine) {
    std::vector<fwtest::RawPart> parts;
    for (int i = 0; i < 300; ++i) parts.push_back(fwtest::namedPart(std::to_string(i) + std::string(60, 'n'), {}));
    const std::string pkg = dir.write("p.update", fwtest::buildPackage({1}, parts));
    const auto r = fwinspect({"verify", pkg});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "package header: 300 parts, more than the 49 a package can hold; only the first 49 are examined\n" +
                         pkg + ": 1 defect\n");
}

TEST_F(Hostile, AnOverlappingPartIsADefectAndItsBytesAreNotDigestedAgain) {
    Bytes b = fwtest::buildPackage({1}, {fwtest::fixedPart(PartKind::boot, fwtest::patternBytes(400)),
                                         fwtest::fixedPart(PartKind::rfs, fwtest::patternBytes(8))});
    fw::putWord(&b[44], fwtest::wordAt(b, 40));  // both entries name the boot part
    const std::string pkg = dir.write("p.update", b);
    const auto r = fwinspect({"list", "--digests", pkg});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("part 1 (boot): offset 48 overlaps the tables or an earlier part; its data is not read again"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(linesWith(r.out, "  unread"), 1u);
    EXPECT_EQ(linesWith(r.out, "  ok"), 1u);
}

TEST_F(Hostile, AFifoIsRefusedWithoutWaitingForAWriter) {
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const char* command : {"verify", "list"}) {
        const auto r = fwinspect({command, fifo});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, "fwinspect: cannot read " + fifo + ": not a regular file or block device\n");
    }
    EXPECT_EQ(fwinspect({"extract", fifo, dir.file("out")}).status, 2);
    EXPECT_EQ(fwinspect({"diff", fifo, fifo}).status, 2);
    EXPECT_FALSE(fwtest::exists(dir.file("out")));
}

TEST_F(Hostile, ControlBytesInANameNeverReachTheTerminalRaw) {
    const std::string pkg =
        dir.write("p.update", fwtest::buildPackage({1}, {fwtest::namedPart("a\x1b]0;x\x07\x9b", {1}),
                                                         fwtest::namedPart("a\x1b]0;x\x07\x9b", {2})}));
    for (const char* command : {"verify", "list"}) {
        const auto r = fwinspect({command, pkg});
        EXPECT_NE(r.out.find("part 1 (named a\\x1b]0;x\\x07\\x9b): part name repeats"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find_first_of("\x1b\x07\x9b"), std::string::npos);
    }
    const auto json = fwinspect({"list", "--json", pkg});
    EXPECT_EQ(json.out.find_first_of("\x1b\x07"), std::string::npos);
}

}  // namespace
