// The output target on its own: how it names, keeps and cleans up, on both
// the unnamed-file path and the short-named fallback.
#include "platform/output_target.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "support/fake_os_calls.h"
#include "support/test_support.h"
#include "platform/interruption.h"

namespace {

using fwtest::Bytes;
using NewFiles = fwtest::FakeOsCalls::NewFiles;

const Bytes payload = fwtest::patternBytes(70000, 5);

bool writeWhole(fw::OutputTarget& t) {
    return t.writeAt(40000, payload.data() + 40000, payload.size() - 40000) && t.writeAt(0, payload.data(), 40000);
}

// Each case on a file system with unnamed files, and on one without.
class OutputTarget : public ::testing::TestWithParam<NewFiles> {
protected:
    fwtest::ScratchDir dir;
    std::string out = dir.file("out.update");
    const Bytes earlier = fwtest::patternBytes(33, 9);

    fwtest::FakeOsCalls calls;

    void SetUp() override { calls.newFiles = GetParam(); }

    bool open(fw::OutputTarget& t, const std::string& path, std::uint64_t expectedSize = 0) {
        t.calls = &calls;
        return fw::openOutputTarget(path.c_str(), expectedSize, t);
    }

    bool pack(const std::string& path) {
        fw::OutputTarget t;
        return open(t, path, payload.size()) && writeWhole(t) && fw::commitOutputTarget(t);
    }
};

TEST_P(OutputTarget, NothingNamedStandsBesideTheOutputUntilItIsCommitted) {
    dir.write("out.update", earlier);
    fw::OutputTarget t;
    ASSERT_TRUE(open(t, out, payload.size()));
    ASSERT_TRUE(writeWhole(t));
    const auto whileWriting = dir.entries();
    if (GetParam() == NewFiles::any) {
        EXPECT_EQ(whileWriting, std::vector<std::string>{"out.update"});
    } else {
        ASSERT_EQ(whileWriting.size(), 2u);
        EXPECT_EQ(whileWriting.front().substr(0, 8), ".fwpack-");
    }
    EXPECT_EQ(fwtest::readFile(out), earlier);
    ASSERT_TRUE(fw::commitOutputTarget(t));
    EXPECT_EQ(fwtest::readFile(out), payload);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.update"});
}

TEST_P(OutputTarget, AbandonedOrFailedOutputLeavesTheEarlierFile) {
    dir.write("out.update", earlier);
    {
        fw::OutputTarget t;
        ASSERT_TRUE(open(t, out));
        ASSERT_TRUE(writeWhole(t));
        fw::abandonOutputTarget(t);
    }
    {
        fw::OutputTarget t;
        ASSERT_TRUE(open(t, out));
        t.failed = true;
        EXPECT_FALSE(fw::commitOutputTarget(t));
    }
    {
        fw::OutputTarget t;  // neither committed nor abandoned: ends with the run
        ASSERT_TRUE(open(t, out));
        ASSERT_TRUE(writeWhole(t));
    }
    EXPECT_EQ(fwtest::readFile(out), earlier);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.update"});
}

TEST_P(OutputTarget, ReplacedFileKeepsItsModeAndOwner) {
    dir.write("out.update", earlier);
    ASSERT_EQ(::chmod(out.c_str(), 0604), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(out.c_str(), 65534, 65534), 0);
    }
    ASSERT_TRUE(pack(out));
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(st.st_uid, root ? 65534u : ::geteuid());
    if (root) {
        EXPECT_EQ(st.st_gid, 65534u);
    }
    EXPECT_EQ(fwtest::readFile(out), payload);
}

TEST_P(OutputTarget, NewFileGetsTheModeTheUmaskAllows) {
    const mode_t old = ::umask(062);
    const bool packed = pack(out);
    ::umask(old);
    ASSERT_TRUE(packed);
    struct stat st {};
    ASSERT_EQ(::stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
}

TEST_P(OutputTarget, LongestFileNameIsWrittenAndReplaced) {
    const std::string name(255, 'n');
    ASSERT_TRUE(pack(dir.file(name)));
    ASSERT_TRUE(pack(dir.file(name)));
    EXPECT_EQ(fwtest::readFile(dir.file(name)), payload);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{name});
}

TEST_P(OutputTarget, PathsThatLeadNowhereAreRefused) {
    dir.write("file", earlier);
    ASSERT_EQ(::symlink("loop", dir.file("loop").c_str()), 0);
    ASSERT_EQ(::symlink("ping", dir.file("pong").c_str()), 0);
    ASSERT_EQ(::symlink("pong", dir.file("ping").c_str()), 0);
    ASSERT_EQ(::symlink("missing/out", dir.file("dangling").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("folder").c_str(), 0755), 0);
    const char* refused[] = {"loop", "ping", "loop/out", "file/out", "missing/out", "dangling", "folder", "folder/"};
    for (const char* path : refused) {
        fw::OutputTarget t;
        EXPECT_FALSE(open(t, dir.file(path))) << path;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"dangling", "file", "folder", "loop", "ping", "pong"}));
    EXPECT_EQ(fwtest::readFile(dir.file("file")), earlier);
}

INSTANTIATE_TEST_SUITE_P(BothWays, OutputTarget, ::testing::Values(NewFiles::any, NewFiles::namedOnly),
                         [](const auto& info) { return std::string(info.param == NewFiles::any ? "Unnamed" : "Named"); });

// In a child that installs the tool's handlers: a signal taken by a worker
// thread mid-write removes the short-named file and ends the child by the
// same signal.
TEST(Interruption, SignalInAnyThreadRemovesTheNamedTemporaryFile) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        fwtest::ScratchDir dir;
        const std::string out = dir.write("out.update", fwtest::patternBytes(10, 3));
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            fw::removeTemporaryFileOnInterrupt();
            fwtest::FakeOsCalls calls;
            calls.newFiles = NewFiles::namedOnly;
            fw::OutputTarget t;
            t.calls = &calls;
            if (!fw::openOutputTarget(out.c_str(), 0, t) || !writeWhole(t)) ::_exit(3);
            if (dir.entries().size() != 2) ::_exit(4);
            std::thread worker([signal] { ::raise(signal); });
            worker.join();
            ::_exit(5);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit " << WEXITSTATUS(status);
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.update"});
        EXPECT_EQ(fwtest::readFile(out), fwtest::patternBytes(10, 3));
    }
}

}  // namespace

namespace {

// Rewritten in place, the earlier file is given up: a close that reports
// an error leaves it empty, never holding a package that may be damaged.
TEST(OutputInPlace, FailedCloseLeavesTheFileEmpty) {
    fwtest::ScratchDir dir;
    const std::string out = dir.write("out.update", fwtest::patternBytes(33, 9));
    for (const bool fails : {false, true}) {
        fwtest::FakeOsCalls calls;
        calls.newFiles = NewFiles::none;
        calls.closeFails = fails;
        fw::OutputTarget t;
        t.calls = &calls;
        ASSERT_TRUE(fw::openOutputTarget(out.c_str(), 0, t));
        ASSERT_TRUE(writeWhole(t));
        EXPECT_EQ(fw::commitOutputTarget(t), !fails);
        EXPECT_EQ(fwtest::readFile(out), fails ? Bytes{} : payload) << fails;
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.update"});
    }
}

}  // namespace
