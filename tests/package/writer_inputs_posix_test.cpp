// Inputs the writer cannot read as the job registered them: gone, never
// ending, unopenable or of a made-up size. Each ends in its own message and
// no package.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <filesystem>

#include "cli/packer.h"
#include "job/registration.h"
#include "package/part_plan.h"
#include "package/writer.h"
#include "support/in_process.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;

// Inputs that never end, or cannot be read twice.
class EndlessInputs : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string out = dir.file("out.update");
    std::string boot = dir.write("boot", fwtest::patternBytes(100, 4));
};

const std::string byIndex = "[CCaldrewinCmd::OnBnClickedButtonDest.625]cant open [";

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A FIFO is never opened, so it cannot be read; a socket's open fails, and
// the run says so in the words of the part's kind.
TEST_F(EndlessInputs, FifoCannotBeReadAndSocketCannotBeOpened) {
    const std::string fifo = dir.file("fifo"), socket = dir.file("socket");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    ASSERT_EQ(::mknod(socket.c_str(), S_IFSOCK | 0644, 0), 0);
    const struct {
        std::vector<std::string> option;
        std::string input, message;
    } cases[] = {
        {{"-k"}, fifo, "cant read [" + fifo + "]!\n"},
        {{"-p2"}, fifo, "cant read [" + fifo + "]!\n"},
        {{"-t"}, fifo, "cant read [" + fifo + "]!\n"},
        {{"-k"}, socket, "cant open [" + socket + "]!kernel\n"},
        {{"-p2"}, socket, byIndex + socket + "]!by index [1] mask = 2\n"},
        {{"-t"}, socket, "cant open [" + socket + "]!tar file\n"},
        {{"-n", "splash"}, socket, "cant open [" + socket + "]!by name[splash]\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"-o", out, "-b", "1", "-u", boot};
        args.insert(args.end(), c.option.begin(), c.option.end());
        args.push_back(c.input);
        const auto r = fwtest::runPackerWith(args);
        EXPECT_EQ(r.status, -1);
        EXPECT_TRUE(endsWith(r.output, c.message)) << r.output;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot", "fifo", "socket"}));
}

// A folder opens for root and then cannot be read; for anyone else, one
// without permissions fails its open.
TEST_F(EndlessInputs, FolderThatCannotBeOpenedSaysSo) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as an unprivileged user";
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string locked = dir.file("locked"), log = dir.file("log");
    ASSERT_EQ(::mkdir(locked.c_str(), 0), 0);
    const std::pair<const char*, std::string> cases[] = {
        {"-k", "cant open [" + locked + "]!kernel\n"},
        {"-p2", byIndex + locked + "]!by index [1] mask = 2\n"},
    };
    for (const auto& [option, message] : cases) {
        const pid_t child = fwtest::startPacker({"-o", "/dev/null", "-b", "1", "-u", boot, option, locked}, [&] {
            if (!std::freopen(log.c_str(), "w", stdout) || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(121);
        });
        EXPECT_EQ(fwtest::waitForEnd(child).exitCode, 255);
        EXPECT_TRUE(endsWith(fwtest::textOf(log), message)) << fwtest::textOf(log);
    }
}

// procfs says 0 bytes whatever a file holds, sysfs 4096: such a file is
// packed with what reading it gives.
TEST_F(EndlessInputs, FileOfAMadeUpSizeIsPackedWithWhatItHolds) {
    const Bytes version = fwtest::readFile("/proc/version");
    const auto r = fwtest::runPackerWith({"-o", out, "-b", "1", "-u", boot, "-r", "/proc/version"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "packs :1,0,1-0,0,0-0 flash-0 \nrfs len = " + std::to_string(version.size()) + "\nfinished!");
    const Bytes package = fwtest::readFile(out);
    EXPECT_TRUE(std::equal(version.rbegin(), version.rend(), package.rbegin()));
}

TEST_F(EndlessInputs, DeviceThatNeverEndsIsTooLargeWhereTheFormatEnds) {
    auto job = fw::createJob();
    fw::addBoardCode(*job, 1);
    fw::registerImage(*job, fw::PartKind::boot, boot.c_str());
    fw::registerImage(*job, fw::PartKind::rfs, "/dev/zero");
    fw::WriterHooks hooks;
    hooks.packageLimit = 3 << 20;
    fwtest::CapturedOutput text;
    EXPECT_EQ(fw::writePackage(*job, out.c_str(), text.stream(), &hooks), -1);
    EXPECT_EQ(text.text(), "packs :1,0,1-0,0,0-0 flash-0 \npackage too large [/dev/zero]!\n");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"boot"});
}

TEST_F(EndlessInputs, DeviceThatEndsIsPackedLikeAnEmptyFile) {
    const auto r = fwtest::runPackerWith({"-o", out, "-b", "1", "-u", boot, "-r", "/dev/null"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "packs :1,0,1-0,0,0-0 flash-0 \nrfs len = 0\nfinished!");
    EXPECT_EQ(fwtest::wordAt(fwtest::readFile(out), 28), 2u);  // part count
}

}  // namespace
