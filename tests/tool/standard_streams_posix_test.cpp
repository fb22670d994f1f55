// The built fwpack with its standard descriptors as daemons, CI runners
// and pipelines hand them over: closed, a pipe nobody reads, a full disk.
// Whatever they are, the exit status tells the truth and a failed run keeps
// the earlier output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "support/in_process.h"
#include "support/package_bytes.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;
using fwtest::textOf;

class StandardStreams : public ::testing::Test {
protected:
    fwtest::ScratchDir dir, logs;
    std::string out = dir.file("out.update");
    std::string log = logs.file("log");
    const Bytes earlier = fwtest::patternBytes(64, 7);
    std::string boot = dir.write("boot", fwtest::patternBytes(3000, 8));

    void SetUp() override { dir.write("out.update", earlier); }

    std::function<void()> stdoutTo(const std::string& path) const {
        return [path] {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::dup2(fd, 1) < 0 || ::dup2(fd, 2) < 0) ::_exit(120);
        };
    }
    void expectEarlierOutput(const std::vector<std::string>& others = {"boot"}) {
        std::vector<std::string> entries = others;
        entries.push_back("out.update");
        std::sort(entries.begin(), entries.end());
        EXPECT_EQ(dir.entries(), entries);
        EXPECT_EQ(fwtest::readFile(out), earlier);
    }
};

// More than a stdio buffer of progress lines: had the package taken
// descriptor 1, they would have been written into it.
TEST_F(StandardStreams, ClosedInputAndOutputNeverReachThePackage) {
    std::vector<std::string> args{"-o", out, "-b", "1"};
    const std::string longName(190, 'x');
    for (int i = 1; i <= 20; ++i) {
        const std::string n = std::to_string(i);
        args.insert(args.end(), {"-p" + n, dir.write(longName + "m" + n, fwtest::patternBytes(100, i))});
        args.insert(args.end(), {"-n", std::string(60, 'n') + n, dir.write(longName + "n" + n, fwtest::patternBytes(50, i))});
    }
    const pid_t child = fwtest::startPacker(args, [] {
        ::close(0);
        ::close(1);
    });
    const fwtest::Ending end = fwtest::waitForEnd(child);
    EXPECT_EQ(end.exitCode, 0);
    const auto verdict = fwtest::fwinspect({"verify", out});
    EXPECT_EQ(verdict.status, 0) << verdict.out;
}

// The note of what the line passed over goes to standard error; closed or
// full, it changes neither standard output, the package nor the status.
TEST_F(StandardStreams, StandardErrorClosedOrFullLeavesThePackAsItIs) {
    const std::vector<std::string> typo{"-o", out, "-b", "0c35", "-kernel", boot, "-u", boot, "-p", "3", boot};
    const std::string said = logs.file("said"), noted = logs.file("noted");
    std::string firstLog;
    for (const std::string& err : {noted, std::string("closed"), std::string("/dev/full")}) {
        const pid_t child = fwtest::startPacker(typo, [&] {
            const int fd = ::open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::dup2(fd, 1) < 0) ::_exit(120);
            if (err == "closed") ::close(2);
            else if (::dup2(::open(err.c_str(), O_WRONLY | O_CREAT, 0644), 2) < 0) ::_exit(121);
        });
        EXPECT_EQ(fwtest::waitForEnd(child).exitCode, 0) << err;
        const std::string log = textOf(said);
        if (firstLog.empty()) firstLog = log;
        EXPECT_EQ(log, firstLog) << err;
        EXPECT_EQ(fwtest::fwinspect({"verify", out}).status, 0) << err;
    }
    EXPECT_EQ(firstLog.rfind("packs :1,0,0-0,0,0-0", 0), 0u) << firstLog;
    EXPECT_NE(textOf(noted).find("fwpack: to check the whole line: fwinspect lint -- "), std::string::npos);
}

TEST_F(StandardStreams, PipeNobodyReadsEndsTheRunAndKeepsTheEarlierOutput) {
    for (const bool ignored : {false, true}) {
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        ::close(fds[0]);
        const std::string err = logs.file("err");
        const pid_t child = fwtest::startPacker({"-o", out, "-b", "1", "-u", boot}, [&] {
            if (ignored) std::signal(SIGPIPE, SIG_IGN);
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (::dup2(fds[1], 1) < 0 || ::dup2(e, 2) < 0) ::_exit(120);
        });
        ::close(fds[1]);
        const fwtest::Ending end = fwtest::waitForEnd(child);
        if (ignored) {
            EXPECT_EQ(end.exitCode, 255);
            EXPECT_EQ(textOf(err), "fwpack: cannot write standard output\n");
        } else {
            EXPECT_EQ(end.signal, SIGPIPE) << "exit " << end.exitCode;
        }
        expectEarlierOutput();
    }
}

TEST_F(StandardStreams, FullDiskForTheLogKeepsTheEarlierOutput) {
    const pid_t child = fwtest::startPacker({"-o", out, "-b", "1", "-u", boot}, stdoutTo("/dev/full"));
    EXPECT_EQ(fwtest::waitForEnd(child).exitCode, 255);
    expectEarlierOutput();
}

// fwinspect's report is its result: one that never reached its reader
// fails the run, whatever the verdict on the package was (0 to a file).
TEST_F(StandardStreams, AnInspectorReportThatCannotBeWrittenEndsWithTwo) {
    const std::string pkg = dir.write("p.update", fwtest::buildPackage({0x0c35}, {fwtest::namedPart("a", {1, 2})}));
    const std::string err = logs.file("err");
    for (const auto& args : {std::vector<std::string>{"list", "--json", pkg}, {"verify", pkg}, {"--help"}}) {
        for (const char* to : {"/dev/null", "/dev/full"}) {
            const pid_t child = fwtest::startTool(FWINSPECT_BINARY, args, [&] {
                const int o = ::open(to, O_WRONLY), e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (o < 0 || e < 0 || ::dup2(o, 1) < 0 || ::dup2(e, 2) < 0) ::_exit(120);
            });
            const bool full = std::string(to) == "/dev/full";
            EXPECT_EQ(fwtest::waitForEnd(child).exitCode, full ? 2 : 0) << args[0] << " > " << to;
            EXPECT_EQ(textOf(err), full ? "fwinspect: cannot write standard output\n" : "") << args[0];
        }
    }
}

// A device that never delivers holds the run after its first line, which
// must already be in the log when the run is stopped.
TEST_F(StandardStreams, LogKeepsEveryLinePrintedBeforeASignal) {
    if (!fwtest::exists("/dev/ptmx")) GTEST_SKIP() << "no /dev/ptmx";
    const pid_t child = fwtest::startPacker({"-o", out, "-b", "1", "-u", boot, "-k", "/dev/ptmx"}, stdoutTo(log));
    const std::string line = "packs :1,1,0-0,0,0-0 flash-0 \n";
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (textOf(log) != line && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(::kill(child, SIGTERM), 0);
    EXPECT_EQ(fwtest::waitForEnd(child).signal, SIGTERM);
    EXPECT_EQ(textOf(log), line);
    expectEarlierOutput();
}

// Real faults, injected by strace where it can run: the input's open at
// registration fails (it would open again for the copy), or a read of it
// during the copy does.
TEST_F(StandardStreams, InjectedInputFaultsEndTheRun) {
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot run here";
    const std::string rfs = dir.write("rfs", fwtest::patternBytes(5000, 2));
    const std::string logo = dir.write("logo", fwtest::patternBytes(4000, 3));
    const std::pair<const char*, std::string> cases[] = {
        {"openat:error=EIO:when=1", "cant open [" + rfs + "]!rfs\n"},
        {"read:error=EIO:when=1", "cant read [" + rfs + "]!\n"},
    };
    for (const auto& [fault, message] : cases) {
        // LeakSanitizer cannot work under ptrace; the tool's own checks can.
        const std::string command = std::string("ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o /dev/null -P ") + rfs + " -e inject=" + fault + " " +
                                    FWPACK_BINARY + " -o " + out + " -b 1 -u " + boot + " -r " + rfs + " -l " + logo +
                                    " >" + log;
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 255) << fault;
        EXPECT_EQ(textOf(log), "packs :1,0,1-0,1,0-0 flash-0 \n" + message) << fault;
        expectEarlierOutput({"boot", "logo", "rfs"});
    }
}

// A package that cannot be given the earlier file's mode never replaces it.
TEST_F(StandardStreams, AModeThatCannotBeSetKeepsTheEarlierOutput) {
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot run here";
    const std::string command = std::string("ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o /dev/null ") +
                                "-e inject=fchmod:error=EIO " + FWPACK_BINARY + " -o " + out + " -b 1 -u " + boot + " >" +
                                log;
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 255) << textOf(log);
    expectEarlierOutput();
}

}  // namespace

// A bill of materials written to a closed standard output would be lost
// with status 0, and one appended to the package would damage it; the run
// refuses before it reads the package.
TEST_F(StandardStreams, SbomRefusesAStandardOutputThatIsClosedOrAnInput) {
    const fwtest::Bytes bytes = fwtest::buildPackage({1}, {fwtest::fixedPart(fw::PartKind::boot, {1, 2})});
    const std::string package = dir.write("r.update", bytes), err = logs.file("err");
    const std::pair<std::string, std::string> cases[] = {
        {"closed", "fwinspect: standard output is closed, so the document would be lost; write it with --output FILE\n"},
        {package, "fwinspect: standard output is the package; the document goes elsewhere (--output FILE)\n"},
    };
    for (const auto& [output, message] : cases) {
        const pid_t child = fwtest::startTool(FWINSPECT_BINARY, {"sbom", package}, [&] {
            const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (e < 0 || ::dup2(e, 2) < 0) ::_exit(120);
            if (output == "closed") ::close(1);
            else if (::dup2(::open(output.c_str(), O_WRONLY | O_APPEND), 1) < 0) ::_exit(121);
        });
        EXPECT_EQ(fwtest::waitForEnd(child).exitCode, 2) << output;
        EXPECT_EQ(textOf(err), message);
    }
    EXPECT_EQ(fwtest::readFile(package), bytes);
}
