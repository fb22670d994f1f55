// The writer's outcome tells the truth: 0 only for a whole, sound package
// at the output path, and any other outcome leaves the earlier output as it
// was, whatever failed and whenever.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>

#include "support/fake_os_calls.h"
#include "support/in_process.h"
#include "support/test_support.h"
#include "job/registration.h"
#include "package/writer.h"
#include "platform/interruption.h"

namespace {

using fwtest::Bytes;

class Outcome : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string out = dir.file("out.update");
    const Bytes earlier = fwtest::patternBytes(77, 5);
    std::string boot = dir.write("boot", fwtest::patternBytes(5000, 1));
    std::string rfs = dir.file("rfs");
    std::string logo = dir.write("logo", fwtest::patternBytes(3000, 3));
    std::unique_ptr<fw::PackageJob> job = fw::createJob();

    void SetUp() override { dir.write("out.update", earlier); }

    void registerThree() {
        fw::addBoardCode(*job, 1);
        fw::registerImage(*job, fw::PartKind::boot, boot.c_str());
        fw::registerImage(*job, fw::PartKind::rfs, rfs.c_str());
        fw::registerImage(*job, fw::PartKind::logo, logo.c_str());
    }
    fwtest::RunResult write(const fw::WriterHooks* hooks = nullptr) {
        fwtest::CapturedOutput text;
        const int status = fw::writePackage(*job, out.c_str(), text.stream(), hooks);
        return {status, text.text()};
    }
    void expectEarlierOutput() {
        EXPECT_EQ(fwtest::readFile(out), earlier);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot", "logo", "out.update", "rfs"}));
    }
};

// A folder at registration has no length, so no place for itself or the
// parts behind it; that a file stands there by the time of the copy (a
// build step recreating it) changes nothing, and no part lands at offset 0.
TEST_F(Outcome, InputUnexaminedAtRegistrationEndsTheRunEvenIfReadableLater) {
    ASSERT_EQ(::mkdir(rfs.c_str(), 0755), 0);
    registerThree();
    ASSERT_EQ(::rmdir(rfs.c_str()), 0);
    dir.write("rfs", fwtest::patternBytes(7000, 2));
    const auto r = write();
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "packs :1,0,1-0,1,0-0 flash-0 \ncant read [" + rfs + "]!\n");
    expectEarlierOutput();
}

TEST_F(Outcome, ThreadsOrBuffersThatCannotBeHadChangeNoByte) {
    dir.write("rfs", fwtest::patternBytes(300000, 2));
    registerThree();
    ASSERT_EQ(write().status, 0);
    const Bytes whole = fwtest::readFile(out);
    const std::pair<std::size_t, std::size_t> limits[] = {{0, SIZE_MAX}, {1, SIZE_MAX}, {SIZE_MAX, 1}, {0, 1}};
    for (const auto& [threads, buffers] : limits) {
        ASSERT_EQ(::unlink(out.c_str()), 0);
        fw::WriterHooks hooks;
        hooks.threadsThatStart = threads;
        hooks.buffersThatFit = buffers;
        const auto r = write(&hooks);
        EXPECT_EQ(r.status, 0) << threads << " " << buffers;
        EXPECT_EQ(r.output, "packs :1,0,1-0,1,0-0 flash-0 \nrfs len = 300000\nfinished!");
        EXPECT_EQ(fwtest::readFile(out), whole) << threads << " " << buffers;
    }
}

// Not one buffer: a failure the package's messages have no words for, so
// standard output says nothing of it and `why` does.
TEST_F(Outcome, NoMemoryForAnyBufferKeepsTheEarlierOutputAndSaysWhy) {
    dir.write("rfs", fwtest::patternBytes(300000, 2));
    registerThree();
    fw::WriterHooks hooks;
    hooks.buffersThatFit = 0;
    fwtest::CapturedOutput text;
    std::string why;
    EXPECT_EQ(fw::writePackage(*job, out.c_str(), text.stream(), &hooks, &why), -1);
    EXPECT_EQ(text.text(), "packs :1,0,1-0,1,0-0 flash-0 \n");
    EXPECT_EQ(why, "out of memory");
    expectEarlierOutput();
}

// A process holding the input open for writing, or mapping it writable,
// may be half-way through a write: the input is refused, not packed torn.
TEST_F(Outcome, InputHeldOpenForWritingIsRefused) {
    dir.write("rfs", fwtest::patternBytes(7000, 2));
    {
        const int probe = ::open(logo.c_str(), O_RDONLY);
        const bool leases = ::fcntl(probe, F_SETLEASE, F_RDLCK) == 0;
        ::close(probe);
        if (!leases) GTEST_SKIP() << "this file system or user cannot take read leases";
    }
    registerThree();
    const std::function<int()> writers[] = {
        [&] { return ::open(rfs.c_str(), O_WRONLY); },
        [&] {
            const int fd = ::open(rfs.c_str(), O_RDWR);
            void* map = ::mmap(nullptr, 7000, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            ::close(fd);
            return map == MAP_FAILED ? -1 : 100;
        },
    };
    for (const auto& startWriter : writers) {
        const int held = startWriter();
        ASSERT_GE(held, 0);
        const auto r = write();
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.output, "packs :1,0,1-0,1,0-0 flash-0 \ncant read [" + rfs + "]!\n");
        expectEarlierOutput();
        if (held < 100) ::close(held);
    }
}

// A pty master whose other side nobody opens never delivers a byte.
TEST_F(Outcome, SilentDeviceEndsTheRunAfterTheIdleLimit) {
    if (!fwtest::exists("/dev/ptmx")) GTEST_SKIP() << "no /dev/ptmx";
    dir.write("rfs", fwtest::patternBytes(10, 2));
    fw::addBoardCode(*job, 1);
    fw::registerImage(*job, fw::PartKind::boot, boot.c_str());
    fw::registerImage(*job, fw::PartKind::kernel, "/dev/ptmx");
    fw::WriterHooks hooks;
    hooks.streamIdleLimit = std::chrono::milliseconds(200);
    const auto r = write(&hooks);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "packs :1,1,0-0,0,0-0 flash-0 \ncant read [/dev/ptmx]!\n");
    expectEarlierOutput();
}

// "finished!" is printed before naming, so a close that fails then is
// reported after it, on a line of its own; the earlier output stays.
TEST_F(Outcome, FailedFinalCloseKeepsTheEarlierOutput) {
    dir.write("rfs", fwtest::patternBytes(10, 2));
    registerThree();
    fwtest::FakeOsCalls calls;
    calls.closeFails = true;
    fw::WriterHooks hooks;
    hooks.output = &calls;
    const auto r = write(&hooks);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "packs :1,0,1-0,1,0-0 flash-0 \nrfs len = 10\nfinished!\ncant write file[" + out + "]!\n");
    expectEarlierOutput();
}

TEST_F(Outcome, LogThatCannotBeWrittenKeepsTheEarlierOutput) {
    dir.write("rfs", fwtest::patternBytes(10, 2));
    registerThree();
    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(fw::writePackage(*job, out.c_str(), full), -1);
    std::fclose(full);
    expectEarlierOutput();
}

// A failed run empties an output it wrote in place; one it could not
// empty holds part of a package, and the run says so.
TEST_F(Outcome, AnOutputInPlaceThatCannotBeEmptiedIsNamed) {
    dir.write("rfs", fwtest::patternBytes(10, 2));
    registerThree();
    for (const bool emptyingFails : {false, true}) {
        fwtest::FakeOsCalls calls;
        calls.newFiles = fwtest::FakeOsCalls::NewFiles::none;
        calls.truncateFails = emptyingFails;
        fw::WriterHooks hooks;
        hooks.output = &calls;
        std::FILE* full = std::fopen("/dev/full", "w");
        ASSERT_NE(full, nullptr);
        std::string why;
        EXPECT_EQ(fw::writePackage(*job, out.c_str(), full, &hooks, &why), -1);
        std::fclose(full);
        EXPECT_EQ(why, emptyingFails ? out + " could not be emptied and holds part of a package: do not use it" : "");
        EXPECT_EQ(fwtest::readFile(out).empty(), !emptyingFails) << emptyingFails;
    }
}

// Once naming has begun the package will be whole: a signal then must not
// end the run as if it had been interrupted before.
TEST_F(Outcome, SignalWhileNamingLetsTheRunFinish) {
    dir.write("rfs", fwtest::patternBytes(10, 2));
    registerThree();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        fw::removeTemporaryFileOnInterrupt();
        fwtest::FakeOsCalls calls;
        calls.whileNaming = [] { ::raise(SIGTERM); };
        fw::WriterHooks hooks;
        hooks.output = &calls;
        std::FILE* quiet = std::fopen("/dev/null", "w");
        ::_exit(fw::writePackage(*job, out.c_str(), quiet, &hooks) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const auto verdict = fwtest::fwinspect({"verify", out});
    EXPECT_EQ(verdict.status, 0) << verdict.out;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot", "logo", "out.update", "rfs"}));
}

}  // namespace
