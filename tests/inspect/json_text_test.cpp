// Names from a package reach JSON as text when they are UTF-8, escaped
// where JSON or a terminal needs it, and recoverable when they are not.
#include "inspect/text/json_text.h"

#include <gtest/gtest.h>

#include "package_bytes.h"

namespace {

TEST(JsonText, ValidUtf8StaysTextAndEveryOtherByteBecomesAReplacement) {
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},
        {"\xe2\x82\xac \xf0\x9f\x93\xa6", "\"\xe2\x82\xac \xf0\x9f\x93\xa6\""},
        {"q\"b\\s/", "\"q\\\"b\\\\s/\""},
        {"\n\t\r\b\f", "\"\\n\\t\\r\\b\\f\""},
        {std::string("\x00\x1b\x7f", 3), "\"\\u0000\\u001b\\u007f\""},
        {"\xc2\x9b\xc2\xa0", "\"\\u009b\xc2\xa0\""},           // C1 control escaped, no-break space kept
        {"\xe2\x80\xa8\xe2\x80\xa9", "\"\\u2028\\u2029\""},    // line separators break JavaScript
        {"a\xff", "\"a\\ufffd\""},                             // not UTF-8 at all
        {"\xc3", "\"\\ufffd\""},                                // cut short
        {"\xc0\xaf", "\"\\ufffd\\ufffd\""},                     // overlong slash
        {"\xe0\x80\xaf", "\"\\ufffd\\ufffd\\ufffd\""},          // overlong, three bytes
        {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},          // a surrogate
        {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // past U+10FFFF
        {"\x80x", "\"\\ufffdx\""},                              // a lone continuation byte
    };
    for (const auto& [bytes, literal] : cases) {
        EXPECT_EQ(fw::jsonString(bytes), literal) << fw::hexBytes(bytes);
        EXPECT_EQ(fw::isValidUtf8(bytes), literal.find("\\ufffd") == std::string::npos) << fw::hexBytes(bytes);
    }
}

TEST(JsonText, AMemberCarriesTheExactBytesOnlyWhenTheyAreNotUtf8) {
    EXPECT_EQ(fw::jsonTextMember("name", "caf\xc3\xa9"), "\"name\":\"caf\xc3\xa9\"");
    EXPECT_EQ(fw::jsonTextMember("name", "a\xff\x01"), "\"name\":\"a\\ufffd\\u0001\",\"nameHex\":\"61ff01\"");
}

TEST(JsonText, ListJsonParsesAndGivesBackNamesBoardsAndPath) {
    fwtest::ScratchDir dir;
#ifdef _WIN32
    const char* name = "caf\xc3\xa9-\xc3\xbe.update";  // Windows names are UTF-16: no other bytes name a file
#else
    const char* name = "caf\xc3\xa9-\xfe.update";
#endif
    const std::string pkg = dir.write(
        name,
        fwtest::buildPackage({0x0c35, 0x1a0, 0xffffffff}, {fwtest::namedPart("caf\xc3\xa9", {1}),
                                                           fwtest::namedPart("bad\xff\n\"", {2})}));
    const auto r = fwtest::fwinspect({"list", "--json", pkg});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_PYTHON_JSON(r.out, "ascii((d['package'][-14:], d['packageHex'][-28:], d['boards'], d['boardCodes'], "
                                        "[(p['name'], p.get('nameHex')) for p in d['parts']]))",
              "('/caf\\xe9-\\ufffd.update', '636166c3a92dfe2e757064617465', [3125, 416, 4294967295], "
              "['0c35', '01a0', 'ffffffff'], [('caf\\xe9', None), ('bad\\ufffd\\n\"', '626164ff0a22')])");
}

}  // namespace
