// The built tools as a Windows user runs them: fwpack.exe packs, and
// fwinspect.exe lists, verifies, extracts and compares with backslashed
// paths printed as typed; the rebuild command extract prints, run by
// cmd.exe, packs the same bytes again.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "inspect/text/json_text.h"
#include "test_support.h"

namespace {

using fwtest::Bytes;

std::string backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

class WindowsTools : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string in = backslashed(dir.path()) + "\\in & out";
    std::string pkg = in + "\\p 100%.update";
    std::string log = dir.file("log");

    void SetUp() override {
        ASSERT_TRUE(::CreateDirectoryA(in.c_str(), nullptr));
        const std::vector<std::string> args{"-o", pkg, "-b", "0c35", "-b", "1a0",
                                            "-u", input("boot.img", 3000, 1), "-r", input("rfs.img", 70001, 2),
                                            "-p3", input("mtd2.img", 17, 3), "-n", "two words", input("w.img", 5, 4),
                                            "-n", "100%", input("p.img", 64, 5), "-n", "a&b^c (1)", input("q.img", 9, 6)};
        ASSERT_EQ(fwtest::runWindowsTool("fwpack.exe", args, log), 0) << fwtest::textOf(log);
    }
    std::string input(const char* name, std::size_t size, std::uint32_t salt) {
        const std::string path = in + "\\" + name;
        dir.write(std::string("in & out/") + name, fwtest::patternBytes(size, salt));
        return path;
    }
    // fwinspect.exe's exit code, its lines on `lines` (standard output and error).
    int inspect(const std::vector<std::string>& args, std::string& lines) {
        const int code = fwtest::runWindowsTool("fwinspect.exe", args, log);
        lines = fwtest::textOf(log);
        return code;
    }
};

TEST_F(WindowsTools, ListAndVerifyPrintThePathAsTypedWithCrLfLineEnds) {
    std::string lines;
    ASSERT_EQ(inspect({"verify", "--board", "1a0", pkg}, lines), 0) << lines;
    EXPECT_NE(lines.find(pkg), std::string::npos) << lines;
    EXPECT_EQ(lines.find("\\\\in"), std::string::npos) << lines;
    ASSERT_EQ(inspect({"list", pkg}, lines), 0) << lines;
    EXPECT_EQ(lines.rfind("package  " + pkg + " (", 0), 0u) << lines;
    const auto lineEnds = std::count(lines.begin(), lines.end(), '\n');
    EXPECT_GT(lineEnds, 6);
    std::size_t crLf = 0;
    for (std::size_t at = lines.find("\r\n"); at != std::string::npos; at = lines.find("\r\n", at + 2)) ++crLf;
    EXPECT_EQ(static_cast<std::ptrdiff_t>(crLf), lineEnds) << lines;
    ASSERT_EQ(inspect({"list", "--json", pkg}, lines), 0) << lines;
    EXPECT_NE(lines.find(fw::jsonString(pkg)), std::string::npos) << lines;
}

TEST_F(WindowsTools, TheRebuildCommandRunByCmdPacksTheSameBytes) {
    const std::string out = in + "\\parts";
    std::string lines;
    ASSERT_EQ(inspect({"extract", pkg, out}, lines), 0) << lines;
    const std::size_t at = lines.find("fwpack -o ");
    ASSERT_NE(at, std::string::npos) << lines;
    const std::string command = lines.substr(at, lines.find("\r\n", at) - at);
    EXPECT_NE(command.find(" -u \"" + out + "/boot.img\""), std::string::npos) << command;
    const Bytes original = fwtest::readFile(pkg);
    ASSERT_TRUE(::DeleteFileA(pkg.c_str()));
    // cmd.exe finds fwpack.exe beside the test program, through PATH.
    char self[MAX_PATH + 1];
    std::string folder(self, ::GetModuleFileNameA(nullptr, self, MAX_PATH + 1));
    folder.resize(folder.find_last_of("\\/"));
    const std::string path = "PATH=" + folder + ";" + std::getenv("PATH");
    ASSERT_EQ(::_putenv(path.c_str()), 0);
    const int status = std::system((command + " > " + backslashed(dir.file("rebuild.log"))).c_str());
    ASSERT_EQ(status, 0) << command << "\n" << fwtest::textOf(dir.file("rebuild.log"));
    EXPECT_EQ(fwtest::readFile(pkg), original) << command;
}

TEST_F(WindowsTools, DiffNamesWhatChangedBetweenTwoPackages) {
    const std::string other = in + "\\other.update";
    ASSERT_EQ(fwtest::runWindowsTool("fwpack.exe", {"-o", other, "-b", "0c35", "-u", input("boot2.img", 3000, 9)}, log), 0)
        << fwtest::textOf(log);
    std::string lines;
    EXPECT_EQ(inspect({"diff", pkg, pkg}, lines), 0) << lines;
    EXPECT_EQ(inspect({"diff", pkg, other}, lines), 1) << lines;
    EXPECT_NE(lines.find(pkg + " -> " + other), std::string::npos) << lines;
}

TEST_F(WindowsTools, SlashOrDashQuestionMarkPrintsTheHelp) {
    for (const char* ask : {"/?", "-?"}) {
        std::string lines;
        EXPECT_EQ(inspect({ask}, lines), 0) << lines;
        EXPECT_EQ(lines.rfind("usage: fwinspect list", 0), 0u) << lines;
    }
}

// A program holding the output open with write sharing (an editor, a
// scanner) stops only its naming, once "finished!" is out: the failure
// is a line of its own, and the earlier package stays.
TEST_F(WindowsTools, ANamingThatFailsAfterFinishedIsALineOfItsOwn) {
    const Bytes earlier = fwtest::readFile(pkg);
    const HANDLE holder = ::CreateFileA(pkg.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const int status = fwtest::runWindowsTool("fwpack.exe", {"-o", pkg, "-b", "0c35", "-u", in + "\\boot.img"}, log);
    ::CloseHandle(holder);
    const std::string lines = fwtest::textOf(log);
    EXPECT_EQ(status, 255) << lines;
    EXPECT_NE(lines.find("\r\nfinished!\r\ncant write file[" + pkg + "]!\r\n"), std::string::npos) << lines;
    EXPECT_EQ(fwtest::readFile(pkg), earlier);
}

}  // namespace
