// Outputs the writer meets: folders it may not write, files it may or may
// not rewrite in place, immutable files and link loops. The earlier output
// stays whenever the new package cannot take its place.
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

// The output's folder lets nobody but root make a file; the package that
// stands there belongs to the unprivileged user who packs.
class ReadOnlyFolder : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string folder = dir.file("ro");
    std::string out = folder + "/out.update";
    std::string boot = dir.write("boot", fwtest::patternBytes(5000, 4));
    const Bytes earlier = fwtest::patternBytes(9000, 6);

    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as an unprivileged user";
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
        dir.write("ro/out.update", earlier);
        ASSERT_EQ(::chown(out.c_str(), 65534, 65534), 0);
    }

    // Packs as user 65534 in a child; its exit status and what it printed.
    fwtest::RunResult packAsNobody(const std::string& kernel = "") {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) return {-2, "pipe"};
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipeFds[0]);
            if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(120);
            std::FILE* text = ::fdopen(pipeFds[1], "w");
            const char* argv[] = {"fwpack", "-o", out.c_str(), "-b", "1", "-u", boot.c_str(), "-k", kernel.c_str()};
            const int status = fw::runPacker(kernel.empty() ? 7 : 9, argv, text);
            std::fclose(text);
            ::_exit(status & 0xFF);
        }
        ::close(pipeFds[1]);
        std::string said;
        char buffer[512];
        for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) said.append(buffer, static_cast<std::size_t>(n));
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -3, said};
    }

    std::vector<std::string> folderEntries() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename());
        return names;
    }
};

TEST_F(ReadOnlyFolder, WritableOutputIsRewrittenInPlace) {
    struct stat before {}, after {};
    ASSERT_EQ(::stat(out.c_str(), &before), 0);
    const auto r = packAsNobody();
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "packs :1,0,0-0,0,0-0 flash-0 \nfinished!");
    ASSERT_EQ(::stat(out.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_uid, 65534u);
    const Bytes package = fwtest::readFile(out);
    ASSERT_EQ(package.size(), 44u + 56 + 5000);
    EXPECT_EQ(Bytes(package.end() - 5000, package.end()), fwtest::readFile(boot));
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"out.update"});
}

// Rewriting in place gives up the earlier file; a run that then fails
// leaves it empty, never holding part of a package.
TEST_F(ReadOnlyFolder, FailedRunInPlaceLeavesAnEmptyFile) {
    const auto r = packAsNobody(dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.output, "packs :1,1,0-0,0,0-0 flash-0 \ncant read [" + dir.path() + "]!\n");
    EXPECT_EQ(fwtest::readFile(out), Bytes{});
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"out.update"});
}

TEST_F(ReadOnlyFolder, OutputThatCannotBeWrittenEitherStaysAsItWas) {
    ASSERT_EQ(::chmod(out.c_str(), 0444), 0);
    const auto r = packAsNobody();
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.output, "packs :1,0,0-0,0,0-0 flash-0 \ncant open file[" + out + "]!\n");
    EXPECT_EQ(fwtest::readFile(out), earlier);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"out.update"});
}

// Where new files can be made, an output the user may not write is still
// not replaced: opening it for writing, as the packer always did, fails.
TEST_F(ReadOnlyFolder, OutputTheUserMayNotWriteIsRefusedWhereFilesCanBeMade) {
    ASSERT_EQ(::chown(folder.c_str(), 65534, 65534), 0);
    for (mode_t mode : {0444, 0}) {
        ASSERT_EQ(::chmod(out.c_str(), mode), 0);
        const auto r = packAsNobody();
        EXPECT_EQ(r.status, 255) << mode;
        EXPECT_EQ(r.output, "packs :1,0,0-0,0,0-0 flash-0 \ncant open file[" + out + "]!\n");
        EXPECT_EQ(fwtest::readFile(out), earlier);
        EXPECT_EQ(folderEntries(), std::vector<std::string>{"out.update"});
    }
}

TEST(WriterOutput, ImmutableOutputIsRefusedEvenForRoot) {
    fwtest::ScratchDir dir;
    const std::string boot = dir.write("boot", fwtest::patternBytes(10));
    const std::string out = dir.write("out", fwtest::patternBytes(20, 3));
    if (std::system(("chattr +i " + out + " 2>/dev/null").c_str()) != 0) GTEST_SKIP() << "cannot make a file immutable here";
    const auto r = fwtest::runPackerWith({"-o", out, "-b", "1", "-u", boot});
    EXPECT_EQ(std::system(("chattr -i " + out).c_str()), 0);
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "packs :1,0,0-0,0,0-0 flash-0 \ncant open file[" + out + "]!\n");
    EXPECT_EQ(fwtest::readFile(out), fwtest::patternBytes(20, 3));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot", "out"}));
}

TEST(WriterOutput, SymbolicLinkLoopIsRefusedAndStays) {
    fwtest::ScratchDir dir;
    const std::string boot = dir.write("boot", fwtest::patternBytes(10));
    const std::string loop = dir.file("loop");
    ASSERT_EQ(::symlink("loop", loop.c_str()), 0);
    const auto r = fwtest::runPackerWith({"-o", loop, "-b", "1", "-u", boot});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "packs :1,0,0-0,0,0-0 flash-0 \ncant open file[" + loop + "]!\n");
    struct stat st {};
    ASSERT_EQ(::lstat(loop.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot", "loop"}));
}

}  // namespace
