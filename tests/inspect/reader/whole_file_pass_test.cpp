// When the whole file is digested (to check or make a signature), the
// parts, the structure and the extracted bytes come from that one read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>

#include "inspect/reader/package_reader.h"
#include "support/package_bytes.h"
#include "support/test_support.h"

namespace {

using fw::PartKind;
using fwtest::Bytes;

// Parts across several 512 KiB pieces, one empty, one with a name field.
Bytes releaseOfFourParts() {
    return fwtest::buildPackage({0x0c35}, {fwtest::fixedPart(PartKind::boot, fwtest::patternBytes(700000, 1)),
                                           fwtest::fixedPart(PartKind::rfs, fwtest::patternBytes(300001, 3)),
                                           fwtest::mtdPart(3, {}),
                                           fwtest::namedPart("abcde", fwtest::patternBytes(600000, 2))});
}

// Pieces may come in any order and from several threads: each lands at its
// offset, and by a part's end every byte must have come exactly once.
struct Findings : fw::InspectionSink, fw::PartDataSink {
    std::vector<fw::PartReport> parts;
    std::vector<std::string> defects;
    std::map<std::uint32_t, Bytes> bytes;
    std::map<std::uint32_t, std::uint64_t> counted;
    std::mutex m;
    void part(const fw::PartReport& r) override { parts.push_back(r); }
    void defect(const std::string& text) override { defects.push_back(text); }
    void data(const fw::PartReport& r, std::uint64_t at, const std::uint8_t* from, std::size_t count) override {
        std::lock_guard lock(m);
        Bytes& d = bytes[r.number];
        if (d.size() < at + count) d.resize(at + count);
        std::copy(from, from + count, d.begin() + static_cast<std::ptrdiff_t>(at));
        counted[r.number] += count;
    }
    void end(const fw::PartReport& r, bool) override {
        std::lock_guard lock(m);
        EXPECT_EQ(counted[r.number], bytes[r.number].size()) << "part " << r.number << ": a byte came twice";
    }
};

class WholeFileRead : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    Bytes package = releaseOfFourParts();
    std::string path = dir.write("p.update", package);
    Bytes whole;

    fw::InspectionOptions readingWhole() {
        fw::InspectionOptions options;
        options.inputDigests = true;
        options.packageBytes = [this](const std::uint8_t* bytes, std::size_t count) {
            whole.insert(whole.end(), bytes, bytes + count);
        };
        return options;
    }
    fw::InspectionResult inspect(fw::InspectionOptions options, Findings& found) {
        options.partData = &found;
        std::string why;
        return fw::inspectPackage(path.c_str(), options, found, &why);
    }
};

TEST_F(WholeFileRead, GivesThePartsAndTheWholeFileTheSameBytesAsReadingPartByPart) {
    Findings byParts, once;
    fw::InspectionOptions separately;
    separately.inputDigests = true;
    ASSERT_EQ(inspect(separately, byParts), fw::InspectionResult::sound);
    ASSERT_EQ(inspect(readingWhole(), once), fw::InspectionResult::sound) << once.defects.front();
    EXPECT_EQ(whole, package);
    ASSERT_EQ(once.parts.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(once.parts[i].digestOk) << i;
        EXPECT_EQ(once.parts[i].actualDigest, byParts.parts[i].actualDigest) << i;
        EXPECT_EQ(once.parts[i].contentDigest, byParts.parts[i].contentDigest) << i;
    }
    EXPECT_EQ(once.bytes, byParts.bytes);
    EXPECT_EQ(once.bytes[0], fwtest::patternBytes(700000, 1));
    EXPECT_EQ(once.bytes[1], fwtest::patternBytes(300001, 3));
}

TEST_F(WholeFileRead, AStructuralByteThatReadsDifferentlyTheSecondTimeIsADefect) {
    // Storage that answers the data pass otherwise than the structure's
    // reads: the board table, the part table, a part header, a name field.
    const std::uint64_t places[] = {36, 44, 60, 1000286};
    for (const std::uint64_t place : places) {
        Findings found;
        whole.clear();
        fw::InspectionOptions options = readingWhole();
        options.test.tamperRead = [place](std::uint64_t at, std::uint8_t* bytes, std::size_t count) {
            if (place >= at && place < at + count) bytes[place - at] ^= 0x5a;
        };
        EXPECT_EQ(inspect(options, found), fw::InspectionResult::defective) << place;
        const std::string expected = "the package changed while it was read: the byte at offset " +
                                     std::to_string(place) + " read differently the second time";
        EXPECT_EQ(std::count(found.defects.begin(), found.defects.end(), expected), 1) << place;
    }
}

TEST_F(WholeFileRead, APartByteThatReadsDifferentlyFailsThatPartsDigestInTheSameRead) {
    Findings found;
    fw::InspectionOptions options = readingWhole();
    options.test.tamperRead = [](std::uint64_t at, std::uint8_t* bytes, std::size_t count) {
        if (at + count > 800000 && at <= 800000) bytes[800000 - at] ^= 1;
    };
    EXPECT_EQ(inspect(options, found), fw::InspectionResult::defective);
    EXPECT_EQ(found.defects, std::vector<std::string>{"part 1 (rfs): digest does not match its data"});
    EXPECT_EQ(whole[800000], package[800000] ^ 1);  // the whole file's digest saw the same byte
}

TEST_F(WholeFileRead, APackageGrownOrReplacedWhileReadIsADefectEitherWay) {
    const std::string other = dir.write("other", package);
    bool changed = false;
    // Windows refuses to rename over a file that is open without delete
    // sharing, which already keeps the package as it was read.
    const std::pair<const char*, std::function<void()>> changes[] = {
        {"a byte appended",
         [&] {
             std::FILE* f = std::fopen(path.c_str(), "ab");
             changed = f != nullptr && std::fputc(0, f) == 0 && std::fclose(f) == 0;
         }},
        {"renamed over", [&] { changed = std::rename(other.c_str(), path.c_str()) == 0; }},
    };
    for (const auto& [what, change] : changes) {
        for (const bool wholeFile : {true, false}) {
            dir.write("p.update", package);
            dir.write("other", package);
            Findings found;
            fw::InspectionOptions options = wholeFile ? readingWhole() : fw::InspectionOptions{};
            options.test.afterStructure = change;
            const fw::InspectionResult result = inspect(options, found);
            if (!changed) continue;
            EXPECT_EQ(result, fw::InspectionResult::defective) << what;
            ASSERT_FALSE(found.defects.empty()) << what;
            EXPECT_EQ(found.defects.back(), "the package changed while it was read, or its path now names another file")
                << what << (wholeFile ? ", read whole" : ", read by parts");
        }
    }
}

TEST_F(WholeFileRead, AStopEndsThePassWithTheUnreadPartsMarked) {
    Findings found;
    fw::InspectionOptions options = readingWhole();
    int asked = 0;
    options.stopRequested = [&asked] { return ++asked > 1; };
    EXPECT_EQ(inspect(options, found), fw::InspectionResult::stopped);
    EXPECT_LT(whole.size(), package.size());
}

// Memory that runs out: fewer pieces in memory give the same bytes; none
// at all, or an extraction that runs out on any thread, ends the reading as
// unreadable, saying why, instead of ending the process.
TEST_F(WholeFileRead, MemoryRunningOutGivesTheSameBytesOrSaysSo) {
    Findings expected;
    ASSERT_EQ(inspect(readingWhole(), expected), fw::InspectionResult::sound);
    struct ThrowingSink : Findings {
        void data(const fw::PartReport& r, std::uint64_t at, const std::uint8_t* from, std::size_t count) override {
            if (at > 0) throw std::bad_alloc();
            Findings::data(r, at, from, count);
        }
    };
    for (const bool wholeFile : {true, false}) {
        const char* way = wholeFile ? "read whole" : "read by parts";
        for (const std::size_t fit : {1u, 2u}) {
            Findings found;
            whole.clear();
            fw::InspectionOptions options = wholeFile ? readingWhole() : fw::InspectionOptions{};
            options.test.piecesThatFit = fit;
            EXPECT_EQ(inspect(options, found), fw::InspectionResult::sound) << way << fit;
            EXPECT_EQ(found.bytes, expected.bytes) << way << fit;
            EXPECT_EQ(whole, wholeFile ? package : Bytes{}) << way << fit;
        }
        fw::InspectionOptions none = wholeFile ? readingWhole() : fw::InspectionOptions{};
        none.test.piecesThatFit = 0;
        ThrowingSink throwing;
        fw::InspectionOptions extracting = wholeFile ? readingWhole() : fw::InspectionOptions{};
        extracting.partData = &throwing;
        for (const fw::InspectionOptions* options : {&none, &extracting}) {
            Findings found;
            std::string why;
            EXPECT_EQ(fw::inspectPackage(path.c_str(), *options, found, &why), fw::InspectionResult::unreadable)
                << way;
            EXPECT_EQ(why, "out of memory") << way;
        }
    }
}

}  // namespace
