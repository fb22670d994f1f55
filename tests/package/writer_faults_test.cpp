// Failures of the writer: none may leave a damaged package at the output
// path, lose the file that stood there, or touch an input.
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
#include "test_support.h"

namespace {

using fwtest::Bytes;

class WriterFaults : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string out = dir.file("out.update");
    const Bytes earlier = fwtest::patternBytes(33, 99);
    std::map<std::string, Bytes> inputs;  // what each input held when made

    void SetUp() override { dir.write("out.update", earlier); }

    std::string input(const std::string& name, std::size_t size, std::uint32_t salt = 1) {
        inputs[name] = fwtest::patternBytes(size, salt);
        return dir.write(name, inputs[name]);
    }

    // The output holds what it held, no temporary file is left, and every
    // input that is still meant to be there is as it was made.
    void expectOutputUntouched(const std::vector<std::string>& entries) {
        EXPECT_EQ(fwtest::readFile(out), earlier);
        std::vector<std::string> expected = entries;
        expected.push_back("out.update");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(dir.entries(), expected);
        for (const auto& [name, bytes] : inputs) {
            if (std::find(entries.begin(), entries.end(), name) != entries.end()) {
                EXPECT_EQ(fwtest::readFile(dir.file(name)), bytes) << name;
            }
        }
    }
};

TEST_F(WriterFaults, OutputFolderMissing) {
    input("boot", 10);
    const std::string nowhere = dir.file("no/such/dir/out.update");
    const auto r = fwtest::runPackerWith({"-o", nowhere, "-b", "1", "-u", dir.file("boot")});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "packs :1,0,0-0,0,0-0 flash-0 \ncant open file[" + nowhere + "]!\n");
    expectOutputUntouched({"boot"});
}

TEST_F(WriterFaults, OutputIsAnInputUnderAnyName) {
    const std::string boot = input("boot", 10);
    ASSERT_EQ(::symlink(boot.c_str(), dir.file("link").c_str()), 0);
    ASSERT_EQ(::link(boot.c_str(), dir.file("hard").c_str()), 0);
    const Bytes before = fwtest::readFile(boot);
    for (const std::string& o : {boot, dir.path() + "/./boot", dir.file("link"), dir.file("hard")}) {
        const auto r = fwtest::runPackerWith({"-o", o, "-b", "1", "-p3", boot});
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.output, "packs :0,0,0-0,0,0-0 flash-0 \ndest file is a source file[" + o + "]!\n");
        EXPECT_EQ(fwtest::readFile(boot), before);
    }
    expectOutputUntouched({"boot", "hard", "link"});
}

TEST_F(WriterFaults, DirectoryAsInputCannotBeRead) {
    const std::string boot = input("boot", 300000);
    const std::string folder = dir.file("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    for (const char* option : {"-k", "-t", "-p1"}) {
        const auto r = fwtest::runPackerWith({"-o", out, "-b", "1", "-u", boot, option, folder});
        EXPECT_EQ(r.status, -1) << option;
        EXPECT_NE(r.output.find("cant read [" + folder + "]!\n"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("finished!"), std::string::npos);
        expectOutputUntouched({"boot", "folder"});
    }
}

// Registers, lets `change` act on the inputs, then writes.
class ChangedInput : public WriterFaults {
protected:
    std::string boot = input("boot", 5000, 1);
    std::string rfs = dir.write("rfs", fwtest::patternBytes(7000, 2));  // changed on purpose

    fwtest::RunResult writeAfter(const std::function<void()>& change) {
        auto job = fw::createJob();
        fw::addBoardCode(*job, 1);
        fw::registerImage(*job, fw::PartKind::boot, boot.c_str());
        fw::registerImage(*job, fw::PartKind::rfs, rfs.c_str());
        change();
        fwtest::CapturedOutput text;
        const int status = fw::writePackage(*job, out.c_str(), text.stream());
        return {status, text.text()};
    }
};

TEST_F(ChangedInput, VanishedInputGetsItsOpenMessage) {
    const auto r = writeAfter([&] { ::unlink(rfs.c_str()); });
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "packs :1,0,1-0,0,0-0 flash-0 \ncant open [" + rfs + "]!rfs\n");
    expectOutputUntouched({"boot"});
}

TEST_F(ChangedInput, ShrunkOrGrownInputCannotBeRead) {
    for (off_t size : {off_t{6999}, off_t{0}, off_t{7001}, off_t{100000}}) {
        dir.write("rfs", fwtest::patternBytes(7000, 2));
        const auto r = writeAfter([&] { ASSERT_EQ(::truncate(rfs.c_str(), size), 0); });
        EXPECT_EQ(r.status, -1) << size;
        EXPECT_EQ(r.output, "packs :1,0,1-0,0,0-0 flash-0 \ncant read [" + rfs + "]!\n") << size;
        expectOutputUntouched({"boot", "rfs"});
    }
}

// The built fwpack under a file size limit whose signal is ignored, so a
// write past it fails.
fwtest::RunResult packUnderSizeLimit(const std::vector<std::string>& args, rlim_t limit, const std::string& log) {
    const pid_t child = fwtest::startPacker(args, [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit bytes{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &bytes);
        if (!std::freopen(log.c_str(), "w", stdout)) ::_exit(121);
    });
    const fwtest::Ending end = fwtest::waitForEnd(child);
    const std::string said = fwtest::textOf(log);
    ::unlink(log.c_str());
    return {end.exitCode, said};
}

TEST_F(WriterFaults, WriteFailingPartWayLeavesNoPackage) {
    const std::string rfs = input("rfs", 3 << 20);
    const auto r = packUnderSizeLimit({"-o", out, "-b", "1", "-r", rfs}, 1 << 20, dir.file("log"));
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.output, "packs :0,0,1-0,0,0-0 flash-0 \ncant write file[" + out + "]!\n");
    expectOutputUntouched({"rfs"});
}

// The parts are copied side by side, the largest first; what is said is
// what writing them in turn would say: the count lines of every part
// before the first that could not be written.
TEST_F(WriterFaults, PartsWrittenBeforeAWriteFailureAreCounted) {
    const std::string rfs = input("rfs", 4), app = input("app", 200000, 2);
    for (int run = 0; run < 5; ++run) {
        const auto r = packUnderSizeLimit({"-o", out, "-b", "1", "-r", rfs, "-a", app}, 100 << 10, dir.file("log"));
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.output, "packs :0,0,1-1,0,0-0 flash-0 \nrfs len = 4\ncant write file[" + out + "]!\n") << run;
    }
    expectOutputUntouched({"app", "rfs"});
}

TEST_F(WriterFaults, SymbolicLinkOutputReplacesItsTargetAndStays) {
    const std::string boot = dir.write("boot", fwtest::patternBytes(10));
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("../out.update", dir.file("sub/link").c_str()), 0);
    const auto r = fwtest::runPackerWith({"-o", dir.file("sub/link"), "-b", "1", "-u", boot});
    ASSERT_EQ(r.status, 0) << r.output;
    struct stat st {};
    ASSERT_EQ(::lstat(dir.file("sub/link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(fwtest::readFile(out).size(), 110u);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot", "out.update", "sub"}));
}

TEST_F(WriterFaults, DeviceOutputIsWrittenInPlace) {
    const std::string boot = dir.write("boot", fwtest::patternBytes(10));
    const auto r = fwtest::runPackerWith({"-o", "/dev/null", "-b", "1", "-u", boot});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "packs :1,0,0-0,0,0-0 flash-0 \nfinished!");
    struct stat st {};
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// The size limit is decided from the registered lengths alone, so it is
// checked here on a job whose lengths are set by hand.
TEST(PackageSize, LargestPackageIsFourGibibytesLessOneByte) {
    auto job = fw::createJob();
    fw::addBoardCode(*job, 1);
    const std::size_t boot = fw::index(fw::PartKind::boot), rfs = fw::index(fw::PartKind::rfs);
    job->hasImage[boot] = job->hasImage[rfs] = 1;
    fw::setText(job->imagePaths[boot], "boot.img");
    fw::setText(job->imagePaths[rfs], "rfs.img");
    job->imageLengths[boot] = 10;  // part at 48, next at 116
    const std::int64_t fits = 0xFFFFFFFFll - 116 - 56;
    job->imageLengths[rfs] = fits;
    EXPECT_EQ(fw::planPackage(*job).beyondLimit, nullptr);
    job->imageLengths[rfs] = fits + 1;
    EXPECT_STREQ(fw::planPackage(*job).beyondLimit, "rfs.img");
    job->imageLengths[boot] = 0x100000000ll;
    EXPECT_STREQ(fw::planPackage(*job).beyondLimit, "boot.img");
    job->imageLengths[boot] = -1;  // unreadable: reported by the writer instead
    EXPECT_EQ(fw::planPackage(*job).beyondLimit, nullptr);
}

// Written onto /dev/null in place, so the test needs no disk for its package.
TEST(PackageSize, PartsBetweenTwoAndFourGibibytesArePacked) {
    fwtest::ScratchDir dir;
    const std::string big = dir.write("big.img", fwtest::Bytes{});
    ASSERT_EQ(::truncate(big.c_str(), 0xA0000000ll), 0);
    const auto r = fwtest::runPackerWith({"-o", "/dev/null", "-b", "1", "-r", big});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output, "packs :0,0,1-0,0,0-0 flash-0 \nrfs len = 2684354560\nfinished!");
}

TEST_F(WriterFaults, SparseInputBeyondFourGibibytesIsRefused) {
    const std::string big = dir.file("big.img");
    {
        std::FILE* f = std::fopen(big.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    ASSERT_EQ(::truncate(big.c_str(), 0x100000000ll), 0);
    const auto r = fwtest::runPackerWith({"-o", out, "-b", "1", "-u", big});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.output, "packs :1,0,0-0,0,0-0 flash-0 \npackage too large [" + big + "]!\n");
    expectOutputUntouched({"big.img"});
}

}  // namespace

namespace {

struct OpenFailure {
    const char* gone;  // the input that vanishes after registration
    std::string message;  // with PATH where its path goes
};

// Every kind's message for an input that can no longer be opened, in a job
// that also holds a part before it.
TEST(WriterOpenFailures, EachKindNamesItsInput) {
    const std::string location = "[CCaldrewinCmd::OnBnClickedButtonDest.";
    const OpenFailure cases[] = {
        {"boot", "cant open [PATH]!boot\n"},
        {"kernel", "cant open [PATH]!kernel\n"},
        {"rfs", "cant open [PATH]!rfs\n"},
        {"app", "cant open [PATH]!app\n"},
        {"config", location + "447]cant open [PATH]!config\n"},
        {"flash", location + "477]cant open [PATH]!flash\n"},
        {"logo", "cant open [PATH]!logo\n"},
        {"chlogo", "cant open [PATH]!chlogo\n"},
        {"tar", "cant open [PATH]!tar file\n"},
        {"mtd2", location + "625]cant open [PATH]!by index [2] mask = 5\n"},
        {"named", "cant open [PATH]!by name[splash]\n"},
    };
    for (const OpenFailure& c : cases) {
        fwtest::ScratchDir dir;
        auto job = fw::createJob();
        fw::addBoardCode(*job, 1);
        for (const fw::KindInfo& info : fw::kindTable) {
            if (!fw::isFixed(info.kind)) continue;
            const std::string path = dir.write(std::string(info.name), fwtest::patternBytes(9));
            fw::registerImage(*job, info.kind, path.c_str());
        }
        const std::string m0 = dir.write("mtd0", fwtest::patternBytes(5)), m2 = dir.write("mtd2", fwtest::patternBytes(6));
        fw::registerMtdParts(*job, {{1, m0.c_str()}, {3, m2.c_str()}});
        const std::string named = dir.write("named", fwtest::patternBytes(7));
        fw::registerNamedParts(*job, {{"splash", named.c_str()}});

        const std::string gone = dir.file(c.gone);
        ASSERT_EQ(::unlink(gone.c_str()), 0);
        fwtest::CapturedOutput text;
        EXPECT_EQ(fw::writePackage(*job, dir.file("out").c_str(), text.stream()), -1);
        std::string expected = c.message;
        expected.replace(expected.find("PATH"), 4, gone);
        const std::string output = text.text();
        EXPECT_EQ(output.substr(output.size() - std::min(output.size(), expected.size())), expected) << c.gone;
        EXPECT_EQ(output.find("finished!"), std::string::npos);
        EXPECT_FALSE(fwtest::exists(dir.file("out"))) << c.gone;
    }
}

}  // namespace

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
    std::system(("chattr -i " + out).c_str());
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
