// The writer reads each input once and digests exactly what it copies: an
// input that changes before or while it is copied never becomes a part
// whose digest looks true but is not.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <functional>

#include "job/registration.h"
#include "package/writer.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;

class OneRead : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string out = dir.file("p.update");
    std::unique_ptr<fw::PackageJob> job = fw::createJob();

    // Backdated, so that any later write moves the file's times even within
    // the file system's clock tick.
    std::string input(const std::string& name, const Bytes& bytes) {
        const std::string path = dir.write(name, bytes);
        const struct timespec past[2] = {{1'000'000, 0}, {1'000'000, 0}};
        EXPECT_EQ(::utimensat(AT_FDCWD, path.c_str(), past, 0), 0);
        return path;
    }
    int write(std::string& printed, const fw::WriterHooks* hooks = nullptr) {
        fwtest::CapturedOutput text;
        const int status = fw::writePackage(*job, out.c_str(), text.stream(), hooks);
        printed = text.text();
        return status;
    }
    // The digest recorded for the only part of a one-board package.
    fw::Digest recordedDigest() const {
        const Bytes p = fwtest::readFile(out);
        fw::Digest d;
        std::copy(p.begin() + 44 + 28, p.begin() + 44 + 44, d.begin());
        return d;
    }
    Bytes partData() const {
        const Bytes p = fwtest::readFile(out);
        return Bytes(p.begin() + 44 + 56, p.end());
    }
};

TEST_F(OneRead, InputRewrittenWithTheSameLengthAfterRegistrationPacksItsNewBytes) {
    const std::string boot = input("boot", fwtest::patternBytes(5000, 1));
    fw::addBoardCode(*job, 1);
    fw::registerImage(*job, fw::PartKind::boot, boot.c_str());
    const Bytes rewritten = fwtest::patternBytes(5000, 2);
    dir.write("boot", rewritten);

    std::string printed;
    ASSERT_EQ(write(printed), 0) << printed;
    EXPECT_EQ(partData(), rewritten);
    EXPECT_EQ(recordedDigest(), fwtest::md5Of(rewritten));
}

TEST_F(OneRead, InputReplacedWholeBeforeTheWriterPacksTheReplacement) {
    const std::string rfs = input("rfs", fwtest::patternBytes(700, 1));
    fw::addBoardCode(*job, 1);
    fw::registerImage(*job, fw::PartKind::rfs, rfs.c_str());
    const Bytes replacement = fwtest::patternBytes(700, 3);
    dir.write("rfs.new", replacement);
    ASSERT_EQ(std::rename(dir.file("rfs.new").c_str(), rfs.c_str()), 0);

    std::string printed;
    ASSERT_EQ(write(printed), 0) << printed;
    EXPECT_EQ(printed, "packs :0,0,1-0,0,0-0 flash-0 \nrfs len = 700\nfinished!");
    EXPECT_EQ(partData(), replacement);
    EXPECT_EQ(recordedDigest(), fwtest::md5Of(replacement));
}

// A test hook rewrites the input after the first piece has been copied:
// the copy must not pass for the input.
TEST_F(OneRead, InputWrittenToWhileCopiedFailsTheRunAndLeavesNoPackage) {
    const Bytes original = fwtest::patternBytes(3 << 20, 1);
    struct Case {
        const char* name;
        std::function<void(const std::string&)> change;
    };
    const Case cases[] = {
        // Where the writer holds a lease on the input, the open for writing
        // is refused at once (a blocking one would wait for the lease to
        // go), and that attempt alone must fail the run; elsewhere the byte
        // is written and the file's times tell.
        {"same length, other bytes", [](const std::string& p) {
             const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
             if (fd < 0) {
                 EXPECT_EQ(errno, EWOULDBLOCK);
                 return;
             }
             EXPECT_EQ(::pwrite(fd, "x", 1, 2 << 20), 1);
             ::close(fd);
         }},
        {"touched only", [](const std::string& p) { ::utimensat(AT_FDCWD, p.c_str(), nullptr, 0); }},
    };
    for (const Case& c : cases) {
        auto fresh = fw::createJob();
        job.swap(fresh);
        const std::string app = input("app", original);
        fw::addBoardCode(*job, 1);
        fw::registerImage(*job, fw::PartKind::app, app.c_str());
        fw::WriterHooks hooks;
        hooks.afterFirstPiece = [&](const char* path) { c.change(path); };

        std::string printed;
        EXPECT_EQ(write(printed, &hooks), -1) << c.name;
        EXPECT_EQ(printed, "packs :0,0,0-1,0,0-0 flash-0 \ncant read [" + app + "]!\n") << c.name;
        EXPECT_FALSE(fwtest::exists(out)) << c.name;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"app"}) << c.name;
    }
}

TEST_F(OneRead, WritingTheSameJobTwiceGivesTheSamePackage) {
    fw::addBoardCode(*job, 0xc35);
    fw::registerImage(*job, fw::PartKind::tar, input("t", fwtest::patternBytes(300'001, 4)).c_str());
    fw::registerImage(*job, fw::PartKind::boot, input("b", fwtest::patternBytes(10, 5)).c_str());
    fw::registerMtdParts(*job, {{2, input("m", fwtest::patternBytes(77, 6)).c_str()}});
    fw::registerNamedParts(*job, {{"abcde", input("n", fwtest::patternBytes(5, 7)).c_str()}});
    std::string first, second;
    ASSERT_EQ(write(first), 0) << first;
    const Bytes once = fwtest::readFile(out);
    ASSERT_EQ(write(second), 0) << second;
    EXPECT_EQ(fwtest::readFile(out), once);
    EXPECT_EQ(first, second);
}

// A character device has no length until read; one that never ends meets
// the format's limit and is refused as too large, not read for ever.
TEST_F(OneRead, EndlessDeviceStopsAtTheLimitAndEndingDeviceIsPacked) {
    fw::addBoardCode(*job, 1);
    fw::registerImage(*job, fw::PartKind::kernel, "/dev/zero");
    fw::registerImage(*job, fw::PartKind::boot, "/dev/null");
    fw::WriterHooks hooks;
    hooks.packageLimit = 1 << 20;
    std::string printed;
    EXPECT_EQ(write(printed, &hooks), -1);
    EXPECT_EQ(printed, "packs :1,1,0-0,0,0-0 flash-0 \npackage too large [/dev/zero]!\n");
    EXPECT_FALSE(fwtest::exists(out));

    auto fresh = fw::createJob();
    fw::addBoardCode(*fresh, 1);
    fw::registerImage(*fresh, fw::PartKind::boot, "/dev/null");
    fwtest::CapturedOutput text;
    ASSERT_EQ(fw::writePackage(*fresh, out.c_str(), text.stream()), 0) << text.text();
    EXPECT_EQ(fwtest::readFile(out).size(), 100u);
    EXPECT_EQ(recordedDigest(), fwtest::md5Of({}));
}

}  // namespace
