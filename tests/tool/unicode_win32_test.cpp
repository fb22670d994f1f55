// The tools as a Windows user in any script runs them: arguments typed in
// UTF-16 reach every file as themselves under each ANSI code page, device
// names and odd spellings are read as Windows reads them, and a failure's
// exit status is one a batch file can test. CTest runs these under the
// code pages 1252, 936 and 1251 as well.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/win32_support.h"
#include "support/test_support.h"

namespace {

using fw::win32::wide;
using fwtest::Bytes;

void writeAt(const std::string& path, const Bytes& bytes) {
    FILE* f = ::_wfopen(fw::win32::osPath(path).c_str(), L"wb");
    ASSERT_NE(f, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

Bytes readAt(const std::string& path) {
    Bytes bytes;
    if (FILE* f = ::_wfopen(fw::win32::osPath(path).c_str(), L"rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(static_cast<std::uint8_t>(c));
        std::fclose(f);
    }
    return bytes;
}

bool endsWith(const Bytes& whole, const Bytes& tail) {
    return whole.size() >= tail.size() && std::equal(tail.begin(), tail.end(), whole.end() - tail.size());
}

class WindowsUnicode : public ::testing::Test {
protected:
    fwtest::ScratchDir scratch;
    std::string dir = scratch.path();
    std::string log = scratch.file("log");

    std::string made(const std::string& name, const Bytes& bytes) {
        const std::string path = dir + "\\" + name;
        writeAt(path, bytes);
        return path;
    }
    std::string folder(const std::string& name) {
        const std::string path = dir + "\\" + name;
        ::CreateDirectoryW(fw::win32::osPath(path).c_str(), nullptr);
        return path;
    }
    int pack(const std::vector<std::string>& args, const fwtest::ToolStart& how = {}) {
        return fwtest::runWindowsTool("fwpack.exe", args, log, {}, how);
    }
};

TEST_F(WindowsUnicode, TheTypedInputIsPackedNotItsLookAlike) {
    const struct {
        const char* typed;
        const char* lookAlike;
    } cases[] = {{"boot-\u03b1.img", "boot-a.img"},
                 {"rel-\u0142.img", "rel-l.img"},
                 {"\u03a9mega.img", "Omega.img"},
                 {"\uff21.img", "A.img"}};
    for (const auto& c : cases) {
        const Bytes typed = fwtest::patternBytes(300, 1), other = fwtest::patternBytes(300, 2);
        made(c.lookAlike, other);
        const std::string out = dir + "\\bf.update";
        ASSERT_EQ(pack({"-o", out, "-b", "0c35", "-u", made(c.typed, typed)}), 0) << fwtest::textOf(log);
        EXPECT_TRUE(endsWith(readAt(out), typed)) << c.typed;
    }
}

TEST_F(WindowsUnicode, InputsNamedInAnyScriptAreFound) {
    folder("\u56fa\u4ef6");
    const Bytes boot = fwtest::patternBytes(64, 3), kernel = fwtest::patternBytes(65, 4), rfs = fwtest::patternBytes(66, 5);
    const std::string out = dir + "\\p.update";
    ASSERT_EQ(pack({"-o", out, "-b", "0c35", "-u", made("\u56fa\u4ef6\\\u542f\u52a8.img", boot), "-k",
                    made("\u044f\u0434\u0440\u043e.img", kernel), "-r", made("\U0001F600.img", rfs)}),
              0);
    EXPECT_EQ(fwtest::textOf(log).find("packs :1,1,1-"), 0u) << fwtest::textOf(log);
    const Bytes package = readAt(out);
    for (const Bytes* part : {&boot, &kernel, &rfs})
        EXPECT_NE(std::search(package.begin(), package.end(), part->begin(), part->end()), package.end());
}

// Run from inside the folder, twice; a look-alike folder beside it keeps
// its own package.
TEST_F(WindowsUnicode, APackageInAFolderOfAnotherScriptIsReplacedThereOnly) {
    const Bytes kept = fwtest::patternBytes(10, 9);
    writeAt(folder("Orel") + "\\out.update", kept);
    for (const char* name : {"\u03a9rel", "\u53d1\u5e03"}) {
        fwtest::ToolStart how;
        how.workingFolder = folder(name);
        for (std::uint32_t round = 1; round <= 2; ++round) {
            const Bytes boot = fwtest::patternBytes(200, round);
            ASSERT_EQ(pack({"-o", "out.update", "-b", "0c35", "-u", made("boot.img", boot)}, how), 0)
                << name << ": " << fwtest::textOf(log);
            EXPECT_TRUE(endsWith(readAt(how.workingFolder + "\\out.update"), boot)) << name << " round " << round;
        }
    }
    EXPECT_EQ(readAt(dir + "\\Orel\\out.update"), kept);
}

// The name field's bytes are the code page's, taken from each code page's
// own table; a name it cannot hold is refused, never stored as '?' or a
// look-alike.
TEST_F(WindowsUnicode, ANameIsStoredInTheCodePageOrRefused) {
    const struct {
        const char* name;
        const char* in1252;
        const char* in1251;
        const char* in936;
    } cases[] = {
        {"ab", "ab", "ab", "ab"},
        {"caf\u00e9", "caf\xe9", nullptr, "caf\xa8\xa6"},
        {"\u044f\u0434\u0440\u043e", nullptr, "\xff\xe4\xf0\xee", "\xa7\xf1\xa7\xd5\xa7\xe2\xa7\xe0"},
        {"\u03a9", nullptr, nullptr, "\xa6\xb8"},
        {"\u542f\u52a8", nullptr, nullptr, "\xc6\xf4\xb6\xaf"},
        {"\U0001F600", nullptr, nullptr, nullptr},
    };
    const UINT page = ::GetACP();
    if (const char* asked = std::getenv("FWTEST_CODE_PAGE")) {
        ASSERT_EQ(page, std::strtoul(asked, nullptr, 10));
    }
    if (page != 1252 && page != 1251 && page != 936) GTEST_SKIP() << "code page " << page;
    const Bytes content = fwtest::patternBytes(40, 7);
    const std::string input = made("named.img", content);
    for (const auto& c : cases) {
        const char* field = page == 1252 ? c.in1252 : page == 1251 ? c.in1251 : c.in936;
        const std::string out = dir + "\\n.update";
        ::DeleteFileW(fw::win32::osPath(out).c_str());
        const int status = pack({"-o", out, "-b", "0c35", "-n", c.name, input});
        if (field == nullptr) {
            EXPECT_EQ(status, 255) << c.name;
            EXPECT_NE(fwtest::textOf(log).find("[name not in the code page for -n]"), std::string::npos) << c.name;
            EXPECT_TRUE(readAt(out).empty());
            continue;
        }
        ASSERT_EQ(status, 0) << c.name << ": " << fwtest::textOf(log);
        Bytes expected(field, field + std::strlen(field));
        expected.resize((expected.size() + 3) / 4 * 4, 0);
        expected.insert(expected.end(), content.begin(), content.end());
        EXPECT_TRUE(endsWith(readAt(out), expected)) << c.name;
        // The log shows the name as typed, UTF-8 in a file.
        EXPECT_NE(fwtest::textOf(log).find(std::string("[part name <") + c.name + ","), std::string::npos)
            << fwtest::textOf(log);
    }
}

TEST_F(WindowsUnicode, DeviceNamesAreRefusedAtOnceAsInputsAndOutputs) {
    const std::string boot = made("boot.img", fwtest::patternBytes(10));
    // Ends a run that hangs, so the test fails instead of waiting.
    const auto limit = [started = ::GetTickCount64()](void* process) {
        if (::GetTickCount64() - started < 60'000) return true;
        ::TerminateProcess(process, 99);
        return false;
    };
    for (const char* name : {"nul.img", "aux.img", "com1.img", "NUL", "con.x.img", "lpt9 .img"}) {
        const std::string path = dir + "\\" + name;
        int status = fwtest::runWindowsTool("fwpack.exe", {"-o", dir + "\\o.update", "-b", "0c35", "-k", path}, log, limit);
        EXPECT_EQ(status, 255) << name;
        EXPECT_NE(fwtest::textOf(log).find("cant read [" + path + "]!"), std::string::npos) << fwtest::textOf(log);
        status = fwtest::runWindowsTool("fwpack.exe", {"-o", path, "-b", "0c35", "-u", boot}, log, limit);
        EXPECT_EQ(status, 255) << name;
        EXPECT_NE(fwtest::textOf(log).find("cant open file[" + path + "]!"), std::string::npos) << fwtest::textOf(log);
    }
}

// As Explorer reads "x.update.": the file x.update, written and replaced.
TEST_F(WindowsUnicode, TrailingDotsAndSpacesAreDroppedFromTheOutputName) {
    for (const char* typed : {"x.update.", "x.update . .", "x.update"}) {
        const Bytes boot = fwtest::patternBytes(50, static_cast<std::uint32_t>(std::strlen(typed)));
        ASSERT_EQ(pack({"-o", dir + "\\" + typed, "-b", "0c35", "-u", made("boot.img", boot)}), 0) << typed;
        EXPECT_TRUE(endsWith(readAt(dir + "\\x.update"), boot)) << typed;
    }
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    const HANDLE h = ::FindFirstFileW(fw::win32::osPath(dir + "\\x.update*").c_str(), &found);
    for (bool more = h != INVALID_HANDLE_VALUE; more; more = ::FindNextFileW(h, &found))
        names.push_back(fw::win32::narrow(found.cFileName));
    if (h != INVALID_HANDLE_VALUE) ::FindClose(h);
    EXPECT_EQ(names, std::vector<std::string>{"x.update"});
}

// Past MAX_PATH: fwpack's arguments keep their 255 bytes, so it is given
// paths relative to a working folder that together run past it; fwinspect
// takes the whole path. An extract folder is made as named in any script.
TEST_F(WindowsUnicode, PathsLongerThanMaxPathAndExtractFoldersInAnyScriptWork) {
    fwtest::ToolStart how;
    how.workingFolder = folder(std::string(120 - std::min<std::size_t>(dir.size(), 100), 'w'));
    std::string below;
    for (int i = 0; i < 5; ++i) {
        below += std::string(i == 0 ? "" : "\\") + std::string(40, 'd');
        ::CreateDirectoryW(fw::win32::osPath(how.workingFolder + "\\" + below).c_str(), nullptr);
    }
    const std::string deep = how.workingFolder + "\\" + below;
    ASSERT_GT(deep.size(), 300u);
    const Bytes boot = fwtest::patternBytes(3000, 6);
    writeAt(deep + "\\boot.img", boot);
    ASSERT_EQ(pack({"-o", below + "\\p.update", "-b", "0c35", "-u", below + "\\boot.img"}, how), 0)
        << fwtest::textOf(log);
    const std::string out = deep + "\\p.update";
    EXPECT_TRUE(endsWith(readAt(out), boot));
    for (const std::string& into : {deep + "\\parts", dir + "\\\u03a9mega"}) {
        ASSERT_EQ(fwtest::runWindowsTool("fwinspect.exe", {"extract", out, into}, log), 0) << fwtest::textOf(log);
        EXPECT_EQ(readAt(into + "\\boot.img"), boot) << into;
    }
    EXPECT_EQ(::GetFileAttributesW(fw::win32::osPath(dir + "\\Omega").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
