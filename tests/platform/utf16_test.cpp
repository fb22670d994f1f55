#include "platform/utf16.h"

#include <gtest/gtest.h>

namespace {

struct Spelling {
    std::u16string utf16;
    std::string utf8;
};

TEST(Utf16, EveryTextHasOneSpellingBothWays) {
    const Spelling cases[] = {
        {u"", ""},
        {u"boot.img", "boot.img"},
        {u"caf\u00e9", "caf\xc3\xa9"},
        {u"\u56fa\u4ef6/\u542f\u52a8.img", "\xe5\x9b\xba\xe4\xbb\xb6/\xe5\x90\xaf\xe5\x8a\xa8.img"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},
        {u"a\xD800" u"b", "a\xed\xa0\x80" "b"},  // a high surrogate alone
        {u"\xDC00", "\xed\xb0\x80"},             // a low surrogate alone
        {u"x\xD83D", "x\xed\xa0\xbd"},           // a high surrogate at the end
    };
    for (const Spelling& c : cases) {
        EXPECT_EQ(fw::utf8FromUtf16(c.utf16), c.utf8);
        std::u16string back;
        EXPECT_TRUE(fw::utf16FromUtf8(c.utf8, back)) << c.utf8;
        EXPECT_TRUE(back == c.utf16) << c.utf8;
    }
}

TEST(Utf16, BytesThatAreNoTextAreRefusedNotReplaced) {
    const char* const bad[] = {
        "\x80",                      // a continuation byte first
        "\xc0\x80",                  // an overlong NUL
        "\xe0\x80\xaf",              // an overlong '/'
        "\xe4\xb8",                  // cut short
        "\xf4\x90\x80\x80",          // past U+10FFFF
        "\xf8\x88\x80\x80\x80",      // a five-byte form
        "\xed\xa0\xbd\xed\xb8\x80",  // a pair spelt as two halves
        "ok\xff",
    };
    for (const char* b : bad) {
        std::u16string into = u"stale";
        EXPECT_FALSE(fw::utf16FromUtf8(b, into)) << b;
        EXPECT_TRUE(into.empty());
    }
}

}  // namespace
