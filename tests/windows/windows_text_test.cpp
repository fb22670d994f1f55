// What fwinspect prints on Windows: a path's backslashes as they are, and
// a rebuild command that cmd.exe hands to fwpack.exe argument for argument.
#include <gtest/gtest.h>

#include "inspect/report/report.h"
#include "platform/shell_words.h"

namespace {

TEST(WindowsText, ArgumentsAreQuotedForCmdAndTheRuntimesArgv) {
    const std::pair<std::string, std::string> cases[] = {
        {"C:\\fw\\boot.img", "C:\\fw\\boot.img"},
        {"//server/share/x-1_2.img", "//server/share/x-1_2.img"},
        {"two words", "\"two words\""},
        {"", "\"\""},
        {"a&b|c<d>e^f(g)", "\"a&b|c<d>e^f(g)\""},
        {"C:\\dir with space\\", "\"C:\\dir with space\\\\\""},
        {"say \"hi\"", "^\"say \\^\"hi\\^\"^\""},
        {"back\\\"slash", "^\"back\\\\\\^\"slash^\""},
        {"100%", "^\"100^%^\""},
        {"%PATH%&!x!", "^\"^%PATH^%^&^!x^!^\""},
        {"caf\xe9", "\"caf\xe9\""},
    };
    for (const auto& [text, quoted] : cases) EXPECT_EQ(fw::shellQuoted(text), quoted) << text;
}

TEST(WindowsText, OnlyControlCharactersCannotPassThroughCmd) {
    EXPECT_TRUE(fw::shellCanQuote("caf\xe9 & \"x\" 100%"));
    for (const char* text : {"tab\there", "line\nbreak", "del\x7f", "\x1b[2J"}) EXPECT_FALSE(fw::shellCanQuote(text)) << text;
}

TEST(WindowsText, APathsBackslashesPrintAsThemselvesAndANamesAreEscaped) {
    EXPECT_EQ(fw::escapePath("C:\\fw\\out/p\x01.update"), "C:\\fw\\out/p\\x01.update");
    EXPECT_EQ(fw::escapePath("\\\\server\\share\\p.update"), "\\\\server\\share\\p.update");
    EXPECT_EQ(fw::escapeText("C:\\fw"), "C:\\\\fw");
}

}  // namespace
