// fwpack.exe with the standard output a caller hands it, and stopped from
// the console: the exit code tells the truth, and a run that fails or is
// stopped leaves the folder as it was.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/in_process.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;
using fwtest::ToolStart;

// STATUS_CONTROL_C_EXIT, what a console program stopped by Ctrl-C ends with.
constexpr int controlCExit = static_cast<int>(0xC000013AU);

class WindowsStreams : public ::testing::Test {
protected:
    fwtest::ScratchDir dir, logs;
    std::string out = dir.file("out.update");
    std::string err = logs.file("err");
    Bytes earlier = fwtest::patternBytes(64, 7);
    std::string boot = dir.write("boot.img", fwtest::patternBytes(3000, 8));

    void SetUp() override { dir.write("out.update", earlier); }
    void expectEarlierOutput(const std::vector<std::string>& entries = {"boot.img", "out.update"}) {
        EXPECT_EQ(dir.entries(), entries);
        EXPECT_EQ(fwtest::readFile(out), earlier);
    }
};

TEST_F(WindowsStreams, NoStandardOutputIsTheNulDeviceAndTheRunSucceeds) {
    ToolStart how;
    how.output = ToolStart::Output::none;
    EXPECT_EQ(fwtest::runWindowsTool("fwpack.exe", {"-o", out, "-b", "1", "-u", boot}, err, {}, how), 0)
        << fwtest::textOf(err);
    EXPECT_EQ(fwtest::textOf(err), "");
    const auto verdict = fwtest::fwinspect({"verify", out});
    EXPECT_EQ(verdict.status, 0) << verdict.out << verdict.err;
}

// Windows has no SIGPIPE: the write fails, as on Linux where SIGPIPE is ignored.
TEST_F(WindowsStreams, APipeNobodyReadsIsCannotWriteStandardOutputAndKeepsTheEarlierOutput) {
    ToolStart how;
    how.output = ToolStart::Output::pipeNobodyReads;
    EXPECT_EQ(fwtest::runWindowsTool("fwpack.exe", {"-o", out, "-b", "1", "-u", boot}, err, {}, how), 255);
    EXPECT_EQ(fwtest::textOf(err), "fwpack: cannot write standard output\r\n");
    expectEarlierOutput();
}

// Console events need a console: under Wine only a run in a terminal has
// one (the test windows.console_events runs these under script(1), with
// FWTEST_REQUIRE_CONSOLE set so that no console is a failure there).
class WindowsConsoleEvents : public WindowsStreams {
protected:
    std::string big = dir.write("rfs.img", fwtest::patternBytes(192u << 20, 5));

    // Runs fwpack.exe and calls `stop` with its process id once its
    // temporary file is there; the exit code, and whether `stop` was called.
    std::pair<int, bool> packStoppedBy(const std::function<bool(DWORD)>& stop, DWORD flags) {
        bool stopped = false;
        ToolStart how;
        how.creationFlags = flags;
        const int code = fwtest::runWindowsTool(
            "fwpack.exe", {"-o", out, "-b", "0c35", "-r", big}, err,
            [&](void* process) {
                if (stopped) return true;
                for (const auto& e : std::filesystem::directory_iterator(dir.path()))
                    if (e.path().filename().string().rfind(".fwpack-", 0) == 0) {
                        stopped = true;
                        if (!stop(::GetProcessId(static_cast<HANDLE>(process)))) {
                            ::TerminateProcess(static_cast<HANDLE>(process), 1);
                            noConsole_ = true;
                        }
                        return true;
                    }
                return true;
            },
            how);
        return {code, stopped};
    }
    void expectStoppedBy(DWORD event);
    bool noConsole() const { return noConsole_; }
    std::string noConsoleText() const { return "no console: Wine delivers console events only in a terminal"; }

private:
    bool noConsole_ = false;
};

#define SKIP_WITHOUT_CONSOLE()                                                              \
    do {                                                                                    \
        if (noConsole()) {                                                                  \
            if (std::getenv("FWTEST_REQUIRE_CONSOLE") != nullptr) FAIL() << noConsoleText(); \
            GTEST_SKIP() << noConsoleText();                                                \
        }                                                                                   \
    } while (false)

// The whole console gets the event, the test program too: its own handler
// takes it, and is not inherited, so fwpack.exe's handler acts. Wine
// generates only Ctrl-C (not Ctrl-Break, nor an event for one process
// group), so Ctrl-Break is tested where the system can send it.
void WindowsConsoleEvents::expectStoppedBy(DWORD event) {
    const PHANDLER_ROUTINE swallow = [](DWORD) -> BOOL { return TRUE; };
    ::SetConsoleCtrlHandler(swallow, TRUE);
    const auto [code, stopped] = packStoppedBy([event](DWORD) { return ::GenerateConsoleCtrlEvent(event, 0) != 0; }, 0);
    ::Sleep(100);
    ::SetConsoleCtrlHandler(swallow, FALSE);
    ASSERT_TRUE(stopped) << "the run ended (status " << code << ") before its temporary file was seen";
    if (noConsole()) return;
    EXPECT_EQ(code, controlCExit) << fwtest::textOf(err);
    EXPECT_EQ(fwtest::textOf(err), "packs :0,0,1-0,0,0-0 flash-0 \r\n");
    expectEarlierOutput({"boot.img", "out.update", "rfs.img"});
}

TEST_F(WindowsConsoleEvents, CtrlCEndsTheRunWithControlCExitAndLeavesTheFolderAsItWas) {
    expectStoppedBy(CTRL_C_EVENT);
    SKIP_WITHOUT_CONSOLE();
}

TEST_F(WindowsConsoleEvents, CtrlBreakEndsTheRunWithControlCExitAndLeavesTheFolderAsItWas) {
    expectStoppedBy(CTRL_BREAK_EVENT);
    if (noConsole()) GTEST_SKIP() << "this system generates no Ctrl-Break here (Wine cannot)";
}

// Ignoring Ctrl-C (SetConsoleCtrlHandler(NULL, TRUE)) is inherited: the
// run goes on and completes.
TEST_F(WindowsConsoleEvents, ACtrlCTheParentIgnoresStaysIgnored) {
    ::SetConsoleCtrlHandler(nullptr, TRUE);
    const auto [code, stopped] =
        packStoppedBy([](DWORD) { return ::GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != 0; }, 0);
    ::Sleep(100);
    ::SetConsoleCtrlHandler(nullptr, FALSE);
    SKIP_WITHOUT_CONSOLE();
    ASSERT_TRUE(stopped) << "the run ended (status " << code << ") before its temporary file was seen";
    EXPECT_EQ(code, 0) << fwtest::textOf(err);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot.img", "out.update", "rfs.img"}));
    const auto verdict = fwtest::fwinspect({"verify", out});
    EXPECT_EQ(verdict.status, 0) << verdict.out << verdict.err;
    EXPECT_GT(std::filesystem::file_size(out), 192u << 20);
}

}  // namespace
