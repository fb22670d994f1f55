// The built fwinspect, stopped by a signal while it extracts or signs:
// nothing it made remains (the folders it created included), and it ends
// by that signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <fstream>
#include <functional>

#include "support/test_support.h"

namespace {

pid_t startInspector(const std::vector<std::string>& args) {
    std::vector<const char*> argv{FWINSPECT_BINARY};
    for (const auto& a : args) argv.push_back(a.c_str());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child != 0) return child;
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execv(argv[0], const_cast<char* const*>(argv.data()));
    ::_exit(122);
}

// A package of one 256 MiB part: long enough to read that the tool can be
// caught in the middle of it.
class InspectorInterrupted : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string pkg = dir.file("big.update");

    void SetUp() override {
        const std::string rfs = dir.file("rfs");
        const int fd = ::open(rfs.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 256 << 20), 0);
        ::close(fd);
        const pid_t pack = fwtest::startPacker({"-o", pkg, "-b", "1", "-r", rfs}, [] {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
        });
        ASSERT_EQ(fwtest::waitForEnd(pack).exitCode, 0);
        ASSERT_EQ(::unlink(rfs.c_str()), 0);
    }

    // Stops the tool once `begun` holds, checks it is still at work, then
    // sends `signal` and lets it go on.
    fwtest::Ending interruptWhen(pid_t child, const std::function<bool()>& begun, int signal) {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!begun() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        EXPECT_EQ(::kill(child, SIGSTOP), 0);
        int status = 0;
        EXPECT_EQ(::waitpid(child, &status, WUNTRACED), child);
        if (!WIFSTOPPED(status)) {
            ADD_FAILURE() << "the tool was done before it could be stopped";
            return {};
        }
        EXPECT_EQ(::kill(child, signal), 0);
        EXPECT_EQ(::kill(child, SIGCONT), 0);
        return fwtest::waitForEnd(child);
    }
};

TEST_F(InspectorInterrupted, ExtractLeavesNoFolderAndNoFile) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        const std::string made = dir.file("made"), out = made + "/deeper/out";
        const pid_t child = startInspector({"extract", pkg, out});
        // DIR itself appears only when filled: its parents show the run at work.
        const fwtest::Ending end = interruptWhen(child, [&] { return fwtest::exists(made + "/deeper"); }, signal);
        EXPECT_EQ(end.signal, signal) << "exit " << end.exitCode;
        EXPECT_FALSE(fwtest::exists(made)) << strsignal(signal);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"big.update"});
    }
}

TEST_F(InspectorInterrupted, SignLeavesNoSignature) {
    const std::string key = dir.file("k.pem"), cert = dir.file("c.pem");
    const std::string make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -subj /CN=t "
                             "-addext extendedKeyUsage=codeSigning -addext basicConstraints=critical,CA:FALSE -days 2 -keyout " + key + " -out " + cert +
                             " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "the openssl command line cannot make a test certificate";
    const std::string sig = dir.file("big.update.sig");
    const pid_t child = startInspector({"sign", "--key", key, "--cert", cert, "--output", sig, pkg});
    // Signing reads the whole package first: once the tool has read some of
    // it, it is in the middle.
    const auto readSome = [&] {
        std::ifstream io("/proc/" + std::to_string(child) + "/io");
        for (std::string k; io >> k;) {
            long long v = 0;
            io >> v;
            if (k == "rchar:") return v > (32 << 20);
        }
        return false;
    };
    const fwtest::Ending end = interruptWhen(child, readSome, SIGTERM);
    EXPECT_EQ(end.signal, SIGTERM) << "exit " << end.exitCode;
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"big.update", "c.pem", "k.pem"}));
}

}  // namespace
