// What only Windows has: its path spellings, share modes, delete-on-close,
// file attributes and the ANSI code page of a part name's bytes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "platform/files.h"
#include "platform/folders.h"
#include "platform/win32_support.h"
#include "support/in_process.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;

// A backslashed spelling of a path, as a Windows user types it.
std::string backslashed(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

TEST(WindowsPaths, FolderAndNameFollowDrivesUncAndBothSeparators) {
    struct Case {
        const char* path;
        const char* folder;
        const char* name;
    };
    const Case cases[] = {
        {"C:\\fw\\out.update", "C:\\fw", "out.update"},
        {"C:/fw/out.update", "C:/fw", "out.update"},
        {"dir/sub\\out.update", "dir/sub", "out.update"},
        {"C:\\out.update", "C:\\", "out.update"},
        {"C:out.update", "C:", "out.update"},
        {"\\out.update", "\\", "out.update"},
        {"\\\\server\\share\\out.update", "\\\\server\\share\\", "out.update"},
        {"\\\\server\\share\\dir\\out.update", "\\\\server\\share\\dir", "out.update"},
        {"out.update", ".", "out.update"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fw::folderOf(c.path), c.folder) << c.path;
        EXPECT_EQ(fw::baseOf(c.path), c.name) << c.path;
    }
}

TEST(WindowsPaths, ExistenceIsTheRuntimesAccessTest) {
    fwtest::ScratchDir dir;
    const std::string file = dir.write("boot.img", "x");
    EXPECT_TRUE(fw::fileExists(file.c_str()));
    EXPECT_TRUE(fw::fileExists(backslashed(file).c_str()));
    EXPECT_TRUE(fw::fileExists(dir.path().c_str()));
    EXPECT_FALSE(fw::fileExists(dir.file("none.img").c_str()));
}

TEST(WindowsPaths, AnOutputThatIsAnInputUnderAnotherSpellingIsRefused) {
    fwtest::ScratchDir dir;
    const Bytes boot = fwtest::patternBytes(100);
    const std::string input = dir.write("boot.img", boot);
    std::string spelled = backslashed(dir.file("BOOT.IMG"));
    const auto r = fwtest::runPackerWith({"-o", spelled, "-b", "0c35", "-u", input});
    EXPECT_NE(r.status, 0) << r.output;
    EXPECT_EQ(fwtest::readFile(input), boot);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot.img"}));
}

class WindowsInputs : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string out = dir.file("out.update");
    std::string input = dir.write("rfs.img", fwtest::patternBytes(5000));
};

TEST_F(WindowsInputs, AnInputAnotherProgramHoldsOpenForWritingIsCantRead) {
    const HANDLE writer = ::CreateFileA(input.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    const auto r = fwtest::runPackerWith({"-o", out, "-b", "0c35", "-r", input});
    ::CloseHandle(writer);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("cant read [" + input + "]!\n"), std::string::npos) << r.output;
    EXPECT_FALSE(fwtest::exists(out));
    const auto again = fwtest::runPackerWith({"-o", out, "-b", "0c35", "-r", input});
    EXPECT_EQ(again.status, 0) << again.output;
}

TEST_F(WindowsInputs, NoWriterCanOpenAnInputWhileItIsRead) {
    fw::InputFile in;
    fw::InputRules rules;
    rules.refuseWhileWritten = true;
    ASSERT_EQ(in.open(input.c_str(), rules), fw::Opening::ok);
    const HANDLE writer = ::CreateFileA(input.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = ::GetLastError();
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // A reader is still welcome.
    fw::InputFile second;
    EXPECT_EQ(second.open(input.c_str(), rules), fw::Opening::ok);
}

class WindowsOutput : public ::testing::Test {
protected:
    fwtest::ScratchDir dir;
    std::string out = dir.file("out.update");
    std::string boot = dir.write("boot.img", fwtest::patternBytes(3000, 7));
    Bytes earlier = fwtest::patternBytes(77, 3);

    fwtest::RunResult pack() { return fwtest::runPackerWith({"-o", out, "-b", "0c35", "-u", boot}); }
};

TEST_F(WindowsOutput, ReplacingKeepsTheEarlierFilesHiddenAttributeAndOnlyTheNameChanges) {
    dir.write("out.update", earlier);
    const std::string other = dir.file("other-link.update");
    ASSERT_TRUE(::CreateHardLinkA(other.c_str(), out.c_str(), nullptr));
    ASSERT_TRUE(::SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_HIDDEN));
    const auto r = pack();
    ASSERT_EQ(r.status, 0) << r.output;
    // Header, one board, one part offset, the part's header and data.
    EXPECT_EQ(fwtest::readFile(out).size(), 36u + 4 + 4 + 56 + 3000);
    EXPECT_EQ(fwtest::readFile(other), earlier);
    EXPECT_NE(::GetFileAttributesA(out.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot.img", "other-link.update", "out.update"}));
}

TEST_F(WindowsOutput, AReadOnlyOutputIsRefusedAndKept) {
    dir.write("out.update", earlier);
    ASSERT_TRUE(::SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_READONLY));
    const auto r = pack();
    ::SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("cant open file[" + out + "]!\n"), std::string::npos) << r.output;
    EXPECT_EQ(fwtest::readFile(out), earlier);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot.img", "out.update"}));
}

// The package is written to a delete-on-close file: the system removes it
// when the killed process's handles close, and the earlier output stays.
TEST_F(WindowsOutput, AKilledRunLeavesTheFolderAsItWas) {
    dir.write("out.update", earlier);
    const std::string big = dir.write("rfs.img", fwtest::patternBytes(192u << 20, 5));
    bool killed = false;
    const int code = fwtest::runWindowsTool(
        "fwpack.exe", {"-o", out, "-b", "0c35", "-r", big}, dir.path() + "/../fwtest-killed.log",
        [&](void* process) {
            for (const auto& e : std::filesystem::directory_iterator(dir.path()))
                if (e.path().filename().string().rfind(".fwpack-", 0) == 0) {
                    killed = ::TerminateProcess(static_cast<HANDLE>(process), 9) != 0;
                    return false;
                }
            return true;
        });
    std::filesystem::remove(dir.path() + "/../fwtest-killed.log");
    ASSERT_TRUE(killed) << "the run ended (status " << code << ") before its temporary file was seen";
    EXPECT_EQ(code, 9);
    EXPECT_EQ(fwtest::readFile(out), earlier);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"boot.img", "out.update", "rfs.img"}));
}

// Arguments come in UTF-16, and a name is stored with its bytes in the
// ANSI code page, as the earlier Windows tool stored it.
TEST(WindowsArguments, ANameAndPathInTheAnsiCodePageAreKeptAsItsBytes) {
    const wchar_t accented[] = L"caf\u00e9";
    char ansi[16] = {};
    BOOL lossy = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, accented, -1, ansi, sizeof ansi, nullptr, &lossy);
    if (n <= 0 || lossy) GTEST_SKIP() << "code page " << ::GetACP() << " has no e with acute accent";
    const std::string field(ansi);
    const std::string name = fw::win32::narrow(accented);
    fwtest::ScratchDir dir;
    const Bytes content = fwtest::patternBytes(500, 9);
    const std::wstring widePath = std::filesystem::path(dir.path()).wstring() + L"\\" + accented + L".img";
    {
        FILE* f = ::_wfopen(widePath.c_str(), L"wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(content.data(), 1, content.size(), f);
        std::fclose(f);
    }
    const std::string out = dir.file("out.update");
    const int code = fwtest::runWindowsTool("fwpack.exe", {"-o", out, "-b", "0c35", "-n", name, dir.file(name + ".img")},
                                            dir.file("log"));
    ASSERT_EQ(code, 0) << fwtest::textOf(dir.file("log"));
    Bytes expected(field.begin(), field.end());
    expected.resize((expected.size() + 3) / 4 * 4, 0);
    expected.insert(expected.end(), content.begin(), content.end());
    const Bytes package = fwtest::readFile(out);
    EXPECT_NE(std::search(package.begin(), package.end(), expected.begin(), expected.end()), package.end());
}

}  // namespace
