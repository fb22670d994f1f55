#include "inspect/report/report.h"

#include <gtest/gtest.h>

namespace {

TEST(EscapeText, TextShowsInAnyScriptAndOnlyBytesThatSteerTheTerminalAreEscaped) {
    const struct {
        const char* bytes;
        const char* shown;
    } cases[] = {
        {"caf\xc3\xa9", "caf\xc3\xa9"},
        {"\xe5\x90\xaf\xe5\x8a\xa8", "\xe5\x90\xaf\xe5\x8a\xa8"},
        {"\xf0\x9f\x98\x80", "\xf0\x9f\x98\x80"},
        {"a\xff", "a\\xff"},                             // no UTF-8
        {"\xe5\x90", "\\xe5\\x90"},                       // cut short
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},              // a surrogate
        {"\x1b[31m", "\\x1b[31m"},                       // C0
        {"\xc2\x9b" "31m", "\\xc2\\x9b" "31m"},          // C1: CSI
        {"a\xe2\x80\xae" "b", "a\\xe2\\x80\\xae" "b"},   // right-to-left override
        {"a\\b", "a\\\\b"},
    };
    for (const auto& c : cases) EXPECT_EQ(fw::escapeText(c.bytes), c.shown) << c.shown;
}

}  // namespace
