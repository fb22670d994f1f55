// The streaming JSON check takes exactly RFC 8259's documents, however
// their bytes are split, and keeps only the top-level members asked for.
#include <gtest/gtest.h>

#include <string>

#include "inspect/text/json_check.h"

namespace {

struct Checked {
    bool valid;
    std::string why;
    std::string format;  // the kept members, "bomFormat|spdxVersion|@context"
};

// The bytes fed `step` at a time: one piece, or one byte after another.
Checked check(const std::string& text, std::size_t step) {
    fw::JsonCheck json({"bomFormat", "spdxVersion", "@context"});
    for (std::size_t at = 0; at < text.size(); at += step)
        json.feed(reinterpret_cast<const std::uint8_t*>(text.data()) + at, std::min(step, text.size() - at));
    Checked c;
    c.valid = json.finish(&c.why);
    c.format = json.member("bomFormat") + "|" + json.member("spdxVersion") + "|" + json.member("@context");
    return c;
}

TEST(JsonCheck, TakesDocumentsAndKeepsTheMembersAskedFor) {
    const struct {
        std::string text, kept;
    } cases[] = {
        {R"({"bomFormat":"CycloneDX","specVersion":"1.5"})", "CycloneDX||"},
        {"\xEF\xBB\xBF {\"spdxVersion\" : \"SPDX-2.3\" }\r\n", "|SPDX-2.3|"},
        {R"({"@context":["https://spdx.org/rdf/3.0.1/spdx-context.jsonld","x"],"a":{"bomFormat":"no"}})",
         "||https://spdx.org/rdf/3.0.1/spdx-context.jsonld x"},
        {R"({"x":[{"spdxVersion":"nested"}],"n":[-0,1.5e+3,0.25E-2,10,true,false,null],"e":"\"\\\/\b\f\n\r\t\u00e9"})",
         "||"},
        {"[]", "||"},
        {"0", "||"},
        {R"({"bomFormat":"Cyclone\"DX"})", "Cyclone\"DX||"},
    };
    for (const auto& c : cases)
        for (std::size_t step : {c.text.size(), std::size_t{1}}) {
            const Checked r = check(c.text, step);
            EXPECT_TRUE(r.valid) << c.text << " in pieces of " << step << ": " << r.why;
            EXPECT_EQ(r.format, c.kept) << c.text;
        }
}

TEST(JsonCheck, RefusesWhatIsNotOneDocumentAndSaysWhere) {
    const struct {
        std::string text, why;
    } cases[] = {
        {"", "not JSON: nothing at byte 0"},
        {"{\"a\":1", "not JSON: the end comes before the document is complete at byte 6"},
        {"{\"a\":1}{}", "not JSON: more after the document: '{' at byte 7"},
        {"{\"a\" 1}", "not JSON: unexpected '1' where ':' belongs at byte 5"},
        {"{a:1}", "not JSON: unexpected 'a' where a member's name belongs at byte 1"},
        {"[1,]", "not JSON: unexpected ']' where a value belongs at byte 3"},
        {"{\"a\":1,}", "not JSON: unexpected '}' where a member's name belongs at byte 7"},
        {"[1 2]", "not JSON: unexpected '2' at byte 3"},
        {"[01]", "not JSON: a number with a leading zero at byte 2"},
        {"[1.]", "not JSON: a number cut short at byte 3"},
        {"-", "not JSON: a number cut short at byte 1"},
        {"[1e]", "not JSON: a number cut short at byte 3"},
        {"[tru]", "not JSON: unexpected ']' at byte 4"},
        {"[\"a\tb\"]", "not JSON: a control character inside a string at byte 3"},
        {"[\"\\x\"]", "not JSON: an unknown escape \\x at byte 3"},
        {"[\"\\u12g4\"]", "not JSON: a \\u escape without four hexadecimal digits at byte 6"},
        {"[}", "not JSON: unexpected '}' where a value belongs at byte 1"},
        {"{]", "not JSON: unexpected ']' where a member's name belongs at byte 1"},
        {"\xEF\xBB{}", "not JSON: a broken byte order mark at byte 2"},
        {std::string(1, '\0'), "not JSON: unexpected byte 0x00 where a value belongs at byte 0"},
        {std::string(fw::JsonCheck::deepest + 1, '['), "not JSON: nested deeper than 512 at byte 512"},
    };
    for (const auto& c : cases)
        for (std::size_t step : {std::max<std::size_t>(c.text.size(), 1), std::size_t{1}}) {
            const Checked r = check(c.text, step);
            EXPECT_FALSE(r.valid) << c.text;
            EXPECT_EQ(r.why, c.why) << c.text;
        }
}

}  // namespace
