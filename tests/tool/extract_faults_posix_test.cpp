// The built fwinspect under strace's failed steps and signals while it
// names, and two runs racing into one new folder.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "support/package_bytes.h"
#include "support/test_support.h"

namespace {

struct ExtractFaults : ::testing::Test {
    fwtest::ScratchDir dir, logs;
    const fwtest::Bytes boot = fwtest::patternBytes(1000, 1);
    const std::string pkg = dir.write("p.update", fwtest::buildPackage({1}, {fwtest::fixedPart(fw::PartKind::boot, boot),
                                                                            fwtest::fixedPart(fw::PartKind::rfs, {1, 2})}));
    const std::string out = dir.file("out"), log = logs.file("log");
};

// No earlier file is lost, each one not back under its name and each new
// part left over is named, and a signal once naming began waits.
TEST_F(ExtractFaults, NoEarlierFileIsLostAndEveryLeftoverIsNamed) {
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot run here";
    const std::pair<const char*, int> cases[] = {  // the faults, and the status or minus the ending signal
        {"renameat2:error=EIO:when=2+", 1},        // put back by a rename
        {"renameat2:error=ENOSPC:when=2+ -e inject=renameat:error=ENOSPC", 1},
        {"unlinkat:error=EIO", 0},          {"linkat:signal=TERM:when=1", -SIGTERM},
        {"renameat2:signal=TERM:when=1", 0}, {"unlinkat:signal=TERM:when=1", 0},
        {"pwrite64:error=ENOSPC", 1},
    };
    for (const auto& [faults, status] : cases) {
        ASSERT_EQ(std::system(("rm -rf " + out + " && mkdir " + out).c_str()), 0);
        dir.write("out/boot.img", std::string("old boot")), dir.write("out/rfs.img", std::string("old rfs"));
        const int ended = std::system(("ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o /dev/null -e inject=" +
                                       std::string(faults) + " " FWINSPECT_BINARY " extract --force " + pkg + " " + out +
                                       " >/dev/null 2>" + log).c_str());
        const int code = WEXITSTATUS(ended);  // strace ends as the tool did: by its signal, or 128 + it from the shell
        EXPECT_EQ(WIFSIGNALED(ended) ? -WTERMSIG(ended) : code > 128 ? 128 - code : code, status) << faults;
        std::string held;
        for (const std::string& e : fwtest::entriesOf(out)) {
            held += fwtest::textOf(out + "/" + e) + "\n";
            EXPECT_TRUE(e == "boot.img" || e == "rfs.img" || fwtest::textOf(log).find(out + "/" + e) != std::string::npos)
                << faults << ": " << e << " unnamed in\n" << fwtest::textOf(log);
        }
        const std::string said = fwtest::textOf(log);
        EXPECT_EQ(said.find("nothing extracted"), said.rfind("nothing extracted")) << faults << ": said twice in\n" << said;
        EXPECT_TRUE(status == 0 || (held.find("old boot\n") != held.npos && held.find("old rfs\n") != held.npos)) << faults;
        EXPECT_TRUE(status != 0 || fwtest::readFile(out + "/boot.img") == boot) << faults;
    }
}

// A damaged package fails after making the folders; a sound one started
// with it into the same new folder must end whole every time.
TEST_F(ExtractFaults, TwoRunsIntoOneNewFolderNeverBreakEachOther) {
    const fwtest::RawPart large = fwtest::fixedPart(fw::PartKind::rfs, fwtest::patternBytes(4 << 20, 3));
    const std::string sound = dir.write("s.update", fwtest::buildPackage({1}, {large}));
    fwtest::Bytes bad = fwtest::readFile(pkg);
    bad.back() ^= 0xff;
    const std::string damaged = dir.write("d.update", bad);
    const auto quiet = [] {
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr)) std::_Exit(127);
    };
    for (int round = 0; round < 20; ++round) {
        const std::string into = dir.file("r" + std::to_string(round) + "/deeper/out");
        const pid_t failing = fwtest::startTool(FWINSPECT_BINARY, {"extract", damaged, into}, quiet);
        const pid_t whole = fwtest::startTool(FWINSPECT_BINARY, {"extract", sound, into}, quiet);
        EXPECT_EQ(fwtest::waitForEnd(failing).exitCode, 1) << round;
        EXPECT_EQ(fwtest::waitForEnd(whole).exitCode, 0) << round;
        EXPECT_EQ(fwtest::entriesOf(into + "/.."), std::vector<std::string>{"out"}) << round;  // nothing of the failed run's
    }
}

}  // namespace
