// The built fwpack, interrupted in the middle of writing a package: the
// folder keeps exactly what it held, the earlier package byte for byte, and
// the run ends the way the signal ends it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include "support/test_support.h"

namespace {

using fwtest::Bytes;
using fwtest::textOf;

// Starts the tool with its standard output and error in `log`, after
// `limit` lowers the file size limit when it is not 0.
pid_t startTool(const std::vector<std::string>& args, const std::string& log, rlim_t limit = 0) {
    std::vector<const char*> argv{FWPACK_BINARY};
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child != 0) return child;
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0) ::_exit(120);
    const rlimit rl{limit, limit};
    if (limit != 0 && ::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(121);
    ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(122);
}

// Bytes the process has handed to write calls so far, -1 once it is gone.
long long bytesWritten(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    for (std::string key; io >> key;) {
        long long value = 0;
        io >> value;
        if (key == "wchar:") return value;
    }
    return -1;
}

class Interrupted : public ::testing::Test {
protected:
    fwtest::ScratchDir dir, logs;
    std::string out = dir.file("out.update");
    std::string log = logs.file("log");
    const Bytes earlier = fwtest::patternBytes(5000, 7);
    std::string boot = dir.write("boot", fwtest::patternBytes(3000, 8));

    void SetUp() override { dir.write("out.update", earlier); }

    void expectFolderAsBefore() {
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot", "out.update"}));
        EXPECT_EQ(fwtest::readFile(out), earlier);
    }
};

// /dev/zero as the rfs makes a run that writes for gigabytes; the child is
// stopped once it has written a few MiB, looked at, and then signalled.
TEST_F(Interrupted, SignalMidWriteLeavesTheFolderAsItWas) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
        const pid_t child = startTool({"-o", out, "-b", "1", "-u", boot, "-r", "/dev/zero"}, log);
        ASSERT_GT(child, 0);
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (bytesWritten(child) < (8 << 20) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_EQ(::kill(child, SIGSTOP), 0);
        const long long written = bytesWritten(child);
        EXPECT_GE(written, 8 << 20) << "the run did not get going";
        EXPECT_LT(written, 0xFFFFFFFFll) << "the run was over before it could be interrupted";
        expectFolderAsBefore();
        ASSERT_EQ(::kill(child, signal), 0);
        ASSERT_EQ(::kill(child, SIGCONT), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status) << ": " << textOf(log);
        EXPECT_EQ(WTERMSIG(status), signal);
        // Each line is out when printed, so even kill -9 keeps the log.
        EXPECT_EQ(textOf(log), "packs :1,0,1-0,0,0-0 flash-0 \n") << strsignal(signal);
        expectFolderAsBefore();
    }
}

// The limit strikes as SIGXFSZ, which ends the run as it would any
// program, after the temporary file is gone; where the signal is ignored
// the failing write is reported instead.
TEST_F(Interrupted, FileSizeLimitEndsTheRunAndLeavesTheFolderAsItWas) {
    const std::string rfs = dir.write("rfs", fwtest::patternBytes(3 << 20, 9));
    for (const bool ignored : {false, true}) {
        const auto previous = std::signal(SIGXFSZ, ignored ? SIG_IGN : SIG_DFL);
        const pid_t child = startTool({"-o", out, "-b", "1", "-r", rfs}, log, 1 << 20);
        std::signal(SIGXFSZ, previous);
        ASSERT_GT(child, 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        if (ignored) {
            ASSERT_TRUE(WIFEXITED(status)) << strsignal(WTERMSIG(status));
            EXPECT_EQ(WEXITSTATUS(status), 255);
            EXPECT_EQ(textOf(log), "packs :0,0,1-0,0,0-0 flash-0 \ncant write file[" + out + "]!\n");
        } else {
            ASSERT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
            EXPECT_EQ(textOf(log), "packs :0,0,1-0,0,0-0 flash-0 \n");
        }
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot", "out.update", "rfs"}));
        EXPECT_EQ(fwtest::readFile(out), earlier);
    }
}

}  // namespace
