// fwinspect sbom describes only a sound package, the same way every time,
// and links each image's own bill of materials to its part.
#include <gtest/gtest.h>

#include "inspect/sbom/sbom_document.h"

#include "support/in_process.h"
#include "support/package_bytes.h"
#include "support/test_support.h"

namespace {

using fw::PartKind;
using fwtest::fwinspect;

TEST(SbomDocument, TimesAreRfc3339InUtc) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "1970-01-01T00:00:00Z"},
        {1700000000, "2023-11-14T22:13:20Z"},
        {951782399, "2000-02-28T23:59:59Z"},
        {951782400, "2000-02-29T00:00:00Z"},
        {fw::latestTimestamp, "9999-12-31T23:59:59Z"},
    };
    for (const auto& [seconds, text] : cases) EXPECT_EQ(fw::rfc3339Seconds(seconds), text) << seconds;
}

TEST(SbomDocument, PathsBecomeIriReferences) {
    const std::pair<const char*, const char*> cases[] = {
        {"rfs.spdx.json", "rfs.spdx.json"},
        {"build/a b%#?.json", "build/a%20b%25%23%3F.json"},
        {"a:b.json", "a%3Ab.json"},
        {"/srv/release/rfs.json", "file:///srv/release/rfs.json"},
        {"C:/release/rfs.json", "file:///C:/release/rfs.json"},
        {"\xC3\xA9t\xC3\xA9.json", "%C3%A9t%C3%A9.json"},
        {"\xC2\x85nel.json", "%C2%85nel.json"},
        {"\xFF.json", "%FF.json"},
    };
    for (const auto& [path, iri] : cases) EXPECT_EQ(fw::iriReferenceOf(path), iri) << path;
}

class Sbom : public ::testing::Test {
public:
    fwtest::ScratchDir dir;
    fwtest::Bytes boot = fwtest::patternBytes(100, 1), splash = fwtest::patternBytes(30, 2);
    std::string package = dir.write(
        "r.update", fwtest::buildPackage({0x0c35}, {fwtest::fixedPart(PartKind::boot, boot), fwtest::namedPart("splash", splash)}));
};

TEST_F(Sbom, GivesTheSameBytesEachTimeAndLinksTheNamedPart) {
    const std::string linked = dir.write("s.cdx.json", std::string(R"({"bomFormat":"CycloneDX","specVersion":"1.6"})"));
    const auto first = fwinspect({"sbom", "--part-sbom", "splash=" + linked, package});
    const auto second = fwinspect({"sbom", "--part-sbom", "splash=" + linked, package});
    ASSERT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.out, second.out);
    EXPECT_EQ(first.err, "");
    const std::string& doc = first.out;
    EXPECT_NE(doc.find("\"content\": \"" + fwtest::hex(fwtest::md5Of(boot)) + "\""), std::string::npos);
    EXPECT_NE(doc.find("\"value\": \"" + fwtest::hex(fwtest::md5Of(splash)) + "\""), std::string::npos);
    // The reference sits in the last component, the splash part's.
    const std::size_t reference = doc.find("\"type\": \"bom\"");
    EXPECT_GT(reference, doc.find("\"bom-ref\": \"part-1\""));
    EXPECT_NE(doc.find("the CycloneDX 1.6 document of this image's build"), std::string::npos);
    // Another link is another document, with another serial number.
    const auto unlinked = fwinspect({"sbom", package});
    EXPECT_NE(unlinked.out.substr(0, 200), doc.substr(0, 200));
}

TEST_F(Sbom, WritesNothingForWhatItCannotVouchFor) {
    fwtest::Bytes damaged = fwtest::readFile(package);
    damaged.back() ^= 1;
    const std::string bad = dir.write("bad.update", damaged);
    const std::string text = dir.write("notes.json", std::string("{\"bomFormat\":\"SPDX\"}"));
    const std::string spdx = dir.write("rfs.spdx.json", std::string("{\"spdxVersion\":\"SPDX-2.3\"}"));
    const std::string out = dir.file("bom.json");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"sbom", "--output", out, bad}, 1, "part 1 (named splash): digest does not match its data\n"},
        {{"sbom", "--output", out, "--part-sbom", "splash=" + text, package}, 2, " is JSON but no SPDX or CycloneDX"},
        {{"sbom", "--output", out, "--part-sbom", "logo=" + spdx, package}, 2, "no part logo; it holds boot, splash;"},
        {{"sbom", "--output", package, package}, 2, " is the package; the document goes elsewhere"},
        {{"sbom", "--output", out, "--ca", dir.file("none.pem"), package}, 2, "none.pem"},
    };
    for (const auto& c : cases) {
        const auto r = fwinspect(c.args);
        EXPECT_EQ(r.status, c.status) << c.args.back() << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
        EXPECT_FALSE(fwtest::exists(out)) << c.err;
    }
    EXPECT_EQ(fwtest::readFile(package).size(), damaged.size());
}

}  // namespace
