// Extract names files by Windows' rules: a part name Windows would read as a
// device, change as it creates the file, or refuse, and two names that are
// one file there, are unsafe names, and nothing is extracted.
#include <gtest/gtest.h>

#include <filesystem>

#include "inspect/extract/extract.h"
#include "inspect/package_bytes.h"

namespace {

using fw::PartKind;
using fwtest::Bytes;

struct Extracted {
    int status;
    std::string err;
    bool folderMade;
};

Extracted extractNamed(const std::vector<std::string>& names) {
    fwtest::ScratchDir dir;
    std::vector<fwtest::RawPart> parts{fwtest::fixedPart(PartKind::boot, fwtest::patternBytes(100, 1))};
    std::uint32_t salt = 2;
    for (const std::string& n : names) parts.push_back(fwtest::namedPart(n, fwtest::patternBytes(50, salt++)));
    const std::string pkg = dir.write("p.update", fwtest::buildPackage({0x0c35}, parts));
    const std::string out = dir.file("out");
    fwtest::CapturedOutput o, e;
    const int status = fw::extractPackage(pkg.c_str(), out.c_str(), fw::ExtractOptions{}, o.stream(), e.stream());
    return {status, e.text(), std::filesystem::exists(out)};
}

TEST(WindowsExtract, ANameWindowsCannotKeepAsItIsIsRefusedAndNothingIsExtracted) {
    const char* const unsafe[] = {"CON",     "con",  "NUL.txt", "nul .bin", "Aux",   "PRN.img", "COM1", "lpt9.x",
                                  "CONIN$",  "dot.", "space ",  "a:b",      "a\\b",  "what?",   "x*y",  "<in>",
                                  "pipe|it", "q\"t", "tab\tin"};
    for (const char* name : unsafe) {
        const Extracted r = extractNamed({name});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.err.find("cannot be a file name here, so nothing is extracted"), std::string::npos) << name << r.err;
        EXPECT_FALSE(r.folderMade) << name;
    }
}

TEST(WindowsExtract, NamesThatDifferOnlyInCaseAreOneFileAndRefused) {
    const Extracted r = extractNamed({"Splash", "SPLASH"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("named SPLASH"), std::string::npos) << r.err;
    EXPECT_FALSE(r.folderMade);
}

TEST(WindowsExtract, NamesThatOnlyLookReservedAreExtracted) {
    const Extracted r = extractNamed({"console", "COM10", "LPT0", "nul2.txt", ".hidden", "a.b.c"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.folderMade);
}

}  // namespace
