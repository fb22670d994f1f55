// The built fwinspect while strace fails the steps of naming or sends a
// signal in the middle of them, and two runs racing into one new folder:
// no earlier file is lost, what is not back under its name is named on
// standard error, and one run never takes back what another made.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdlib>

#include "package_bytes.h"

namespace {

using fw::PartKind;
using fwtest::Bytes;

const std::vector<std::string> finalNames{"boot.img", "rfs.img"};

class ExtractFaults : public ::testing::Test {
protected:
    fwtest::ScratchDir dir, logs;
    const Bytes boot = fwtest::patternBytes(1000, 1), rfs = fwtest::patternBytes(3000, 2);
    const std::string pkg = dir.write("p.update", fwtest::buildPackage({1}, {fwtest::fixedPart(PartKind::boot, boot),
                                                                            fwtest::fixedPart(PartKind::rfs, rfs)}));
    const std::string out = dir.file("out"), log = logs.file("log");
    const std::vector<std::string> earlier{"old boot", "old rfs"};

    // The exit status, or minus the signal that ended the run.
    int extractOverEarlierFiles(const std::string& faults) {
        std::system(("rm -rf " + out + " && mkdir " + out).c_str());
        for (std::size_t i = 0; i < finalNames.size(); ++i) dir.write("out/" + finalNames[i], earlier[i]);
        const std::string command = "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o /dev/null " + faults +
                                    " " FWINSPECT_BINARY " extract --force " + pkg + " " + out + " >/dev/null 2>" + log;
        const int status = std::system(command.c_str());
        if (WIFSIGNALED(status)) return -WTERMSIG(status);
        return WEXITSTATUS(status) > 128 ? 128 - WEXITSTATUS(status) : WEXITSTATUS(status);
    }
};

TEST_F(ExtractFaults, NoEarlierFileIsLostAndEveryLeftoverIsNamed) {
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot run here";
    struct Case {
        const char* faults;
        int status;
        bool asItWas;  // else the new parts when the status is 0
    } const cases[] = {
        {"-e inject=renameat2:error=EIO:when=2+", 1, true},  // swapped back by a rename
        {"-e inject=renameat2:error=ENOSPC:when=2+ -e inject=renameat:error=ENOSPC", 1, false},
        {"-e inject=unlinkat:error=EIO", 0, false},
        {"-e inject=linkat:signal=TERM:when=1", -SIGTERM, true},
        {"-e inject=renameat2:signal=TERM:when=1", 0, false},
        {"-e inject=unlinkat:signal=TERM:when=1", 0, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(extractOverEarlierFiles(c.faults), c.status) << c.faults;
        const std::string err = fwtest::textOf(log);
        std::vector<std::string> held;
        for (const std::string& e : fwtest::entriesOf(out)) {
            held.push_back(fwtest::textOf(out + "/" + e));
            const bool final = e == finalNames[0] || e == finalNames[1];
            EXPECT_TRUE(final || err.find(out + "/" + e) != std::string::npos) << c.faults << ": " << e << "\n" << err;
        }
        for (const std::string& text : earlier)  // a run that fails loses none
            EXPECT_TRUE(c.status == 0 || std::find(held.begin(), held.end(), text) != held.end()) << c.faults << ": lost " << text;
        if (c.asItWas) {
            EXPECT_EQ(fwtest::entriesOf(out), finalNames) << c.faults;
        }
        if (c.status == 0) {
            EXPECT_EQ(fwtest::readFile(out + "/boot.img"), boot) << c.faults;
        }
    }
}

// A damaged package fails after it made the folders; a sound one into the
// same new folder, started with it, must still end whole every time.
TEST_F(ExtractFaults, TwoRunsIntoOneNewFolderNeverBreakEachOther) {
    const Bytes big = fwtest::patternBytes(4 << 20, 3);
    const std::string sound = dir.write("sound.update", fwtest::buildPackage({1}, {fwtest::fixedPart(PartKind::rfs, big)}));
    Bytes bad = fwtest::readFile(pkg);
    bad.back() ^= 0xff;
    const std::string damaged = dir.write("damaged.update", bad);
    const auto quiet = [] { std::freopen("/dev/null", "w", stdout), std::freopen("/dev/null", "w", stderr); };
    for (int round = 0; round < 20; ++round) {
        const std::string made = dir.file("r" + std::to_string(round)), into = made + "/deeper/out";
        const pid_t failing = fwtest::startTool(FWINSPECT_BINARY, {"extract", damaged, into}, quiet);
        const pid_t whole = fwtest::startTool(FWINSPECT_BINARY, {"extract", sound, into}, quiet);
        EXPECT_EQ(fwtest::waitForEnd(failing).exitCode, 1) << round;
        EXPECT_EQ(fwtest::waitForEnd(whole).exitCode, 0) << round;
        EXPECT_EQ(fwtest::entriesOf(made + "/deeper"), std::vector<std::string>{"out"}) << round;
        EXPECT_EQ(fwtest::entriesOf(into), std::vector<std::string>{"rfs.img"}) << round;
    }
}

}  // namespace
