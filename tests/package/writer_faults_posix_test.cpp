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
#include "support/in_process.h"
#include "support/test_support.h"

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
