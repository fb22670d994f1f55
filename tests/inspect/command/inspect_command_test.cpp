#include "inspect/command/inspect_command.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <algorithm>
#include <functional>
#include <sstream>

#include "format/records.h"
#include "inspect/text/json_text.h"
#include "platform/shell_words.h"
#include "support/in_process.h"
#include "support/package_bytes.h"
#include "support/shell_tools.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;

struct InspectRun {
    int status;
    std::string out, err;
};

InspectRun inspect(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"fwinspect"};
    for (const auto& a : args) argv.push_back(a.c_str());
    fwtest::CapturedOutput out, err;
    const int status = fw::runInspector(static_cast<int>(argv.size()), argv.data(), out.stream(), err.stream());
    return {status, out.text(), err.text()};
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    for (std::string s; in >> s;) w.push_back(s);
    return w;
}

class Inspector : public ::testing::Test {
public:
    fwtest::ScratchDir dir;
    std::string pkg = dir.file("p.update");

    std::string input(const std::string& name, std::size_t size) {
        return dir.write(name, fwtest::patternBytes(size, static_cast<std::uint32_t>(size) * 7 + 1));
    }
    void pack(std::vector<std::string> args) {
        args.insert(args.begin(), {"-o", pkg});
        const auto r = fwtest::runPackerWith(args);
        ASSERT_EQ(r.status, 0) << r.output;
    }
    std::vector<std::string> everyKind() {
        return {"-b", "0c35", "-b", "a20", "-u", input("i.boot", 100), "-k", input("i.kernel", 201), "-r",
                input("i.rfs", 302), "-a", input("i.app", 403), "-g", input("i.config", 504), "-l", input("i.logo", 605),
                "-c", input("i.chlogo", 706), "-t", input("i.tar", 807), "-flash", input("i.flash", 908), "-p7",
                input("i.m6", 111), "-p2", input("i.m1", 1), "-n", "abcde", input("i.n1", 13), "-n", "boot",
                input("i.n2", 0)};
    }
    void corrupt(std::size_t at, std::uint32_t word) {
        Bytes b = fwtest::readFile(pkg);
        fw::putWord(&b.at(at), word);
        dir.write("p.update", b);
    }
};

// Extracts, checks every input came back, and runs the printed command.
void roundTrip(Inspector& t, const fwtest::ScratchDir& dir, const std::string& pkg,
               const std::vector<std::pair<std::string, std::string>>& expectedFiles) {
    const auto r = inspect({"extract", pkg, dir.file("out")});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const auto& [extracted, original] : expectedFiles)
        EXPECT_EQ(fwtest::readFile(dir.file("out/" + extracted)), fwtest::readFile(original)) << extracted;

    std::vector<std::string> args = words(r.out);
    ASSERT_EQ(args.at(0), "fwpack");
    args.erase(args.begin());
    ASSERT_EQ(args.at(1), pkg);
    args.at(1) = dir.file("rebuilt.update");
    const auto rebuilt = fwtest::runPackerWith(args);
    ASSERT_EQ(rebuilt.status, 0) << rebuilt.output;
    EXPECT_EQ(fwtest::readFile(dir.file("rebuilt.update")), fwtest::readFile(pkg));
    (void)t;
}

TEST_F(Inspector, EveryKindRoundTripsInTheNormalLayout) {
    pack(everyKind());
    EXPECT_EQ(inspect({"verify", pkg}).status, 0);
    roundTrip(*this, dir, pkg,
              {{"boot.img", dir.file("i.boot")}, {"kernel.img", dir.file("i.kernel")}, {"rfs.img", dir.file("i.rfs")},
               {"app.img", dir.file("i.app")}, {"config.img", dir.file("i.config")}, {"logo.img", dir.file("i.logo")},
               {"chlogo.img", dir.file("i.chlogo")}, {"flash.img", dir.file("i.flash")},
               {"tarfileupdate.tar.gz", dir.file("i.tar")}, {"mtd6.img", dir.file("i.m6")},
               {"mtd1.img", dir.file("i.m1")}, {"abcde", dir.file("i.n1")}, {"boot", dir.file("i.n2")}});
}

// Large enough that the parts are read on several threads at once.
TEST_F(Inspector, LargePartsRoundTripWhenReadSideBySide) {
    pack({"-b", "0c35", "-r", input("big.rfs", 3'000'001), "-t", input("big.tar", 1'500'003), "-n", "x",
          input("big.n", 700'001)});
    EXPECT_EQ(inspect({"verify", pkg}).status, 0);
    roundTrip(*this, dir, pkg,
              {{"rfs.img", dir.file("big.rfs")}, {"tarfileupdate.tar.gz", dir.file("big.tar")}, {"x", dir.file("big.n")}});
    corrupt(fwtest::readFile(pkg).size() - 4, 0);
    const auto r = inspect({"verify", pkg});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("part 2 (named x): digest does not match its data"), std::string::npos) << r.out;
}

TEST_F(Inspector, OldLayoutRoundTripsForLegacyBoardsOrWhenForced) {
    auto args = everyKind();
    args.push_back("-old");
    args[1] = "1a0";
    args[3] = "1c2";
    pack(args);
    const auto list = inspect({"list", pkg});
    EXPECT_EQ(list.status, 0) << list.out;
    EXPECT_NE(list.out.find("layout   old: every board is a legacy board"), std::string::npos);
    roundTrip(*this, dir, pkg,
              {{"boot.img", dir.file("i.boot")}, {"rfs.img", dir.file("i.rfs")}, {"logo.img", dir.file("i.logo")},
               {"flash.img", dir.file("i.flash")}, {"tarfileupdate.tar.gz", dir.file("i.tar")}});

    // For boards outside the legacy table the bytes alone read as normal,
    // where the old rfs, flash, logo order is out of order; --old reads it.
    args[1] = "0c35";
    pack(args);
    EXPECT_EQ(inspect({"verify", pkg}).status, 1);
    EXPECT_EQ(inspect({"verify", "--old", pkg}).status, 0);
}

TEST_F(Inspector, ListShowsHeaderBoardsAndParts) {
    pack({"-b", "0c35", "-u", input("boot", 10), "-n", "bad\x1b[2Jname", input("n", 3)});
    const auto r = inspect({"list", pkg});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("kinds    0x80001 boot named\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("boards   1: 0c35\n"), std::string::npos);
    EXPECT_NE(r.out.find("parts    2\n"), std::string::npos);
    EXPECT_NE(r.out.find("bad\\x1b[2Jname"), std::string::npos);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
    EXPECT_NE(r.out.find(" 0         48 boot            10  " + fwtest::hex(fwtest::md5Of(fwtest::readFile(dir.file("boot")))) + "\n"),
              std::string::npos)
        << r.out;
}

// Without --digests the data is not read: a part whose bytes no longer
// match the MD5 its header holds passes until --digests checks it.
TEST_F(Inspector, ListChecksTheDataOnlyWithDigests) {
    pack({"-b", "0c35", "-u", input("boot", 10), "-n", "abcde", input("n", 3)});
    corrupt(fwtest::readFile(pkg).size() - 4, 0);
    const std::string held = fwtest::hex(fwtest::md5Of(fwtest::readFile(dir.file("boot"))));
    const auto quick = inspect({"list", pkg});
    EXPECT_EQ(quick.status, 0) << quick.out;
    EXPECT_EQ(quick.out.find("MISMATCH"), std::string::npos) << quick.out;
    EXPECT_EQ(quick.out.find("sha256"), std::string::npos) << quick.out;
    const auto full = inspect({"list", "--digests", pkg});
    EXPECT_EQ(full.status, 1);
    for (const char* line : {" 0  ok        ", " 1  MISMATCH  ", "\npackage       ",
                             "defect   part 1 (named abcde): digest does not match its data\n"})
        EXPECT_NE(full.out.find(line), std::string::npos) << line << full.out;
}

TEST_F(Inspector, ListFitsEightyColumns) {
    pack(everyKind());
    for (const auto& args : {std::vector<std::string>{"list", pkg}, {"list", "--digests", pkg}}) {
        const auto r = inspect(args);
        EXPECT_EQ(r.status, 0) << r.out;
        std::istringstream lines(r.out);
        for (std::string line; std::getline(lines, line);) {
            const bool path = line.rfind("package  ", 0) == 0;  // the scratch folder's path is not ours to size
            EXPECT_LE(path ? 0 : line.size(), 80u) << line;
        }
    }
}

// What list does not read is null; every key is there either way.
TEST_F(Inspector, ListJsonWithoutDigestsKeepsTheKeysWithNullForWhatWasNotRead) {
    pack({"-b", "0c35", "-u", input("boot", 10), "-t", input("t", 7)});
    Bytes tarData = fwtest::nameField("/usr/etc/sata/sda0/tarfileupdate.tar.gz", 40);
    const Bytes tar = fwtest::readFile(dir.file("t"));
    tarData.insert(tarData.end(), tar.begin(), tar.end());
    const auto quick = inspect({"list", "--json", pkg}), full = inspect({"list", "--json", "--digests", pkg});
    const std::string keys = "sorted(d), [sorted(p) for p in d['parts']], sorted(d['parts'][1]['input'])";
    EXPECT_EQ(fwtest::pythonJson(quick.out, keys), fwtest::pythonJson(full.out, keys));
    EXPECT_PYTHON_JSON(quick.out, "d['sha256'], [(p['md5'], p['digestOk'], p['sha256'], p.get('input')) for p in d['parts']]",
                       "None [('" + fwtest::hex(fwtest::md5Of(fwtest::readFile(dir.file("boot")))) +
                           "', None, None, None), ('" + fwtest::hex(fwtest::md5Of(tarData)) +
                           "', None, None, {'length': 7, 'md5': None, 'sha256': None})]");
}

TEST_F(Inspector, JsonIsOneDocumentWithNumbersAndHexDigests) {
    pack({"-b", "0c35", "-p3", input("m", 10), "-n", "q\"\\\n", input("n", 3)});
    const auto r = inspect({"list", "--json", "--digests", pkg});
    EXPECT_EQ(r.status, 0);
    const std::string digest = fwtest::hex(fwtest::md5Of(fwtest::readFile(dir.file("m"))));
    EXPECT_NE(r.out.find("\"boards\":[3125]"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"kind\":\"mtd\",\"typeCode\":21,\"dataLength\":10,\"nameLength\":0,\"partIndex\":3,"
                         "\"name\":null,\"md5\":\"" + digest + "\",\"digestOk\":true,\"label\":\"-p3\",\"file\":\"mtd2.img\""),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("\"name\":\"q\\\"\\\\\\n\""), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"defects\":[],\"sound\":true}\n"), std::string::npos);
}

// With --json a package that cannot be read still gives one document, with
// the reason; the message on standard error and the status stay.
TEST_F(Inspector, JsonOfAPackageThatCannotBeReadIsOneDocumentWithTheReason) {
    pack({"-b", "0c35", "-u", input("boot", 10)});
    const std::string missing = dir.file("missing.update"), notPackage = dir.write("short", Bytes(20, 0));
    const struct {
        std::vector<std::string> args;
        std::string path, verdict, message;
    } cases[] = {
        {{"list", "--json", missing}, missing, "sound", "cannot read "},
        {{"verify", "--json", missing}, missing, "sound", "cannot read "},
        {{"diff", "--json", pkg, missing}, missing, "same", "cannot read "},
        {{"diff", "--json", notPackage, pkg}, notPackage, "same", ""},
        {{"lint", "--json", "--package", missing, "--", "-o", missing, "-b", "1", "-u", dir.file("boot")}, missing,
         "clean", "cannot read "},
    };
    for (const auto& c : cases) {
        const auto r = inspect(c.args);
        EXPECT_EQ(r.status, 2) << c.args[0];
        EXPECT_EQ(r.err.rfind("fwinspect: " + c.message, 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
        EXPECT_EQ(r.out.rfind("{\"package\":" + fw::jsonString(c.path) + ",\"error\":\"", 0), 0u) << r.out;
        EXPECT_PYTHON_JSON(r.out, "d['" + c.verdict + "'], len(d['error']) > 5", "False True");
    }
}

TEST_F(Inspector, BoardOptionRequiresTheCode) {
    pack({"-b", "0c35", "-b", "a20", "-u", input("boot", 10)});
    // Every spelling fwpack -b reads whole and as written names the same board.
    for (const char* spelling : {"a20", "0a20", "0A20", "0x0a20", "0Xa20", "00000a20", "0x000a20"})
        EXPECT_EQ(inspect({"verify", "--board", spelling, pkg}).status, 0) << spelling;
    const auto r = inspect({"verify", "--board", "a21", pkg});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "board 0a21 is not in the board table, which holds 0c35 0a20\n" + pkg + ": 1 defect\n");
}

TEST_F(Inspector, AUsageErrorIsOneLineNamingTheProblemAndTheHelpToRead) {
    const std::vector<std::vector<std::string>> bad = {
        {}, {"show", pkg}, {"list"}, {"list", "a", "b"}, {"extract", pkg}, {"extract", "--json", pkg, "d"},
        {"list", "--board", "1", pkg}, {"verify", "--bogus", pkg}, {"verify", "--board"}};
    for (const auto& args : bad) {
        const auto r = inspect(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err.rfind("fwinspect: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        const std::string help = args.empty() || args[0] == "show" ? "'fwinspect --help'" : "'fwinspect " + args[0] + " --help'";
        EXPECT_NE(r.err.find("; try " + help + "\n"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_EQ(inspect({"verify", dir.file("missing")}).status, 2);
    EXPECT_EQ(inspect({"list", dir.path()}).status, 2);
}

struct Damage {
    const char* what;
    std::function<void(Inspector&)> harm;
    const char* defect;
};

TEST_F(Inspector, EveryDefectIsFoundAndNamed) {
    // Package: 1 board; parts boot(10) at 52, tar(3) at 120, named "ab"(5) at 220.
    const Damage damages[] = {
        {"short file", [](Inspector& t) { t.dir.write("p.update", Bytes(20, 0)); }, "too short for a package header"},
        {"package magic", [](Inspector& t) { t.corrupt(0, 0x41555047); }, "package magic is not FPUA"},
        {"reserved word", [](Inspector& t) { t.corrupt(12, 1); }, "package header: reserved words are not zero"},
        {"board table offset", [](Inspector& t) { t.corrupt(24, 40); }, "board table offset 40, expected 36"},
        {"part table offset", [](Inspector& t) { t.corrupt(32, 36); }, "part table offset 36, expected 40"},
        {"huge part count", [](Inspector& t) { t.corrupt(28, 0xFFFFFFFF); }, "the tables run past the end"},
        {"part count beyond the file", [](Inspector& t) { t.corrupt(28, 20); }, "20 parts cannot fit"},
        {"board count", [](Inspector& t) { t.corrupt(20, 101); }, "board count 101, more than the 100 a package can hold"},
        {"kind bits", [](Inspector& t) { t.corrupt(4, 0x1); }, "kind bits 0x1, the parts present give 0x80101"},
        {"offset outside", [](Inspector& t) { t.corrupt(44, 0x7FFFFFF0); }, "part 1: header lies outside the file"},
        {"misaligned offset", [](Inspector& t) { t.corrupt(44, 117); }, "offset 117 is not a multiple of 4"},
        {"overlap", [](Inspector& t) { t.corrupt(44, 100); }, "offset 100 overlaps"},
        {"wrong start", [](Inspector& t) { t.corrupt(48, 224); }, "starts at 224, the layout puts it at 220"},
        {"part magic", [](Inspector& t) { t.corrupt(120, 0); }, "part 1 (tar): part magic is not *PPS"},
        {"type code", [](Inspector& t) { t.corrupt(124, 8); }, "part 1 (unknown): unknown type code 8"},
        {"part reserved word", [](Inspector& t) { t.corrupt(120 + 52, 9); }, "part 1 (tar): reserved words are not zero"},
        {"data past the end", [](Inspector& t) { t.corrupt(120 + 16, 1000); }, "part 1 (tar): data runs past the end"},
        {"last part past the end", [](Inspector& t) { t.corrupt(220 + 16, 1000); }, "cut short at 285 of 1276 bytes"},
        {"tar path length", [](Inspector& t) { t.corrupt(120 + 44, 36); }, "part 1 (tar): tar path field is 36 bytes"},
        {"tar path text", [](Inspector& t) { t.corrupt(120 + 56, 0x78787878); }, "part 1 (tar): tar path field does not hold"},
        {"name field length", [](Inspector& t) { t.corrupt(220 + 44, 3); }, "part 2 (named ab): name field of 3 bytes"},
        {"name field fill", [](Inspector& t) { t.corrupt(220 + 56, 0x01006261); }, "part 2 (named ab): name field is not the name"},
        {"name past data", [](Inspector& t) { t.corrupt(220 + 44, 12); }, "part 2 (named ab): name field runs past"},
        {"index on a fixed part", [](Inspector& t) { t.corrupt(52 + 48, 3); }, "part 0 (boot): index 3 on a part"},
        {"digest", [](Inspector& t) { t.corrupt(52 + 56, 0); }, "part 0 (boot): digest does not match its data"},
        {"order", [](Inspector& t) { t.corrupt(52 + 4, 21); }, "part 1 (tar): tar part out of order"},
        {"padding", [](Inspector& t) {
             Bytes b = fwtest::readFile(t.pkg);
             b.at(119) = 1;
             t.dir.write("p.update", b);
         }, "part 1 (tar): the 2 padding bytes before it are not zero"},
        {"trailing bytes", [](Inspector& t) {
             Bytes b = fwtest::readFile(t.pkg);
             b.insert(b.end(), 3, 0);
             t.dir.write("p.update", b);
         }, "3 bytes follow the last part"},
    };
    for (const Damage& d : damages) {
        pack({"-b", "1", "-u", input("boot", 10), "-t", input("tar", 3), "-n", "ab", input("n", 5)});
        ASSERT_EQ(inspect({"verify", pkg}).status, 0);
        d.harm(*this);
        for (const auto& args : {std::vector<std::string>{"verify", pkg}, {"list", "--digests", pkg}}) {
            const auto r = inspect(args);
            EXPECT_EQ(r.status, 1) << d.what;
            EXPECT_NE(r.out.find(d.defect), std::string::npos) << d.what << "\n" << r.out;
        }
        // Only what lies in the data waits for --digests.
        const bool inData = std::string(d.what) == "digest";
        const auto quick = inspect({"list", pkg});
        EXPECT_EQ(quick.status, inData ? 0 : 1) << d.what;
        EXPECT_EQ(quick.out.find(d.defect) == std::string::npos, inData) << d.what << "\n" << quick.out;
        const auto json = inspect({"verify", "--json", pkg});
        EXPECT_NE(json.out.find("\"sound\":false}"), std::string::npos) << d.what;
        EXPECT_EQ(inspect({"extract", pkg, dir.file("x")}).status, 1) << d.what;
        EXPECT_FALSE(fwtest::exists(dir.file("x"))) << d.what;
        EXPECT_EQ(inspect({"diff", pkg, pkg}).status, 2) << d.what;
    }
}

// A download that stopped early is one defect, however many parts it cut
// off, in every report; damage of its own is still named beside it.
TEST_F(Inspector, ACutShortDownloadIsOneDefect) {
    const struct {
        std::size_t length;
        bool digestDamaged;
        const char* defects;
    } cuts[] = {
        {280, false, "cut short at 280 of 285 bytes"},                  // in the last part's data
        {250, false, "cut short at 250 of at least 276 bytes"},         // in the last part's header
        {200, false, "cut short at 200 of at least 276 bytes"},         // in the tar part's data
        {219, false, "cut short at 219 of at least 276 bytes"},         // in the padding
        {200, true, "cut short at 200 of at least 276 bytes\npart 0 (boot): digest does not match its data"},
    };
    for (const auto& cut : cuts) {
        pack({"-b", "1", "-u", input("boot", 10), "-t", input("tar", 3), "-n", "ab", input("n", 5)});
        ASSERT_EQ(fwtest::readFile(pkg).size(), 285u);
        if (cut.digestDamaged) corrupt(52 + 56, 0);
        Bytes b = fwtest::readFile(pkg);
        b.resize(cut.length);
        dir.write("p.update", b);
        const std::string defects = cut.defects, count = cut.digestDamaged ? "2 defects" : "1 defect";
        const auto verify = inspect({"verify", pkg});
        EXPECT_EQ(verify.status, 1);
        EXPECT_EQ(verify.out, defects + "\n" + pkg + ": " + count + "\n");
        const std::string cutLine = defects.substr(0, defects.find('\n'));
        EXPECT_NE(inspect({"list", pkg}).out.find(cutLine + "\n"), std::string::npos) << cut.length;
        const auto json = inspect({"verify", "--json", pkg});
        EXPECT_NE(json.out.find(",\"defects\":[\"" + cutLine + "\""), std::string::npos) << json.out;
        // The structure's defects stop an extraction before any data is read.
        const auto extract = inspect({"extract", pkg, dir.file("x")});
        EXPECT_EQ(extract.out, cutLine + "\n");
        EXPECT_FALSE(fwtest::exists(dir.file("x")));
        const auto diff = inspect({"diff", pkg, pkg});
        EXPECT_NE(diff.out.find("defect   " + pkg + ": cut short at "), std::string::npos) << diff.out;
    }
}

TEST_F(Inspector, MtdIndexOutsideTheRangeIsADefect) {
    pack({"-b", "1", "-p4", input("m", 10)});
    corrupt(44 + 48, 21);
    const auto r = inspect({"verify", pkg});
    EXPECT_NE(r.out.find("part 0 (-p21 (mtd20)): mtd index 21 is outside 1 to 20"), std::string::npos) << r.out;
}

TEST_F(Inspector, NamesThatCannotBeFileNamesStopTheExtraction) {
    const std::string outside = dir.file("outside");
    ASSERT_TRUE(std::filesystem::create_directory(outside));
    pack({"-b", "1", "-n", "", input("a", 4), "-n", "..", input("b", 5), "-n", "../outside/x", input("c", 6), "-n",
          "ok", input("d", 7), "-n", "boot.img", input("e", 8), "-u", input("f", 9)});
    const auto r = inspect({"extract", pkg, dir.file("out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("name \"\" cannot be a file name here"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("name \"..\" cannot"), std::string::npos);
    EXPECT_NE(r.err.find("name \"../outside/x\" cannot"), std::string::npos);
    EXPECT_NE(r.err.find("name \"boot.img\" cannot"), std::string::npos);  // the boot part has it
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fwtest::exists(dir.file("out")));
    EXPECT_FALSE(fwtest::exists(dir.file("outside/x")));
}

TEST_F(Inspector, ExtractionNeverWritesThroughALink) {
    pack({"-b", "1", "-u", input("boot", 9)});
    const std::string victim = dir.write("victim", std::string("keep"));
    ASSERT_TRUE(std::filesystem::create_directory(dir.file("out")));
    std::error_code linked;
    std::filesystem::create_symlink(victim, dir.file("out/boot.img"), linked);
    if (linked) GTEST_SKIP() << "no symbolic link can be made here: " << linked.message();
    auto r = inspect({"extract", pkg, dir.file("out")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("out/boot.img already exists; nothing extracted"), std::string::npos) << r.err;
    EXPECT_EQ(fwtest::readFile(victim), Bytes({'k', 'e', 'e', 'p'}));

    r = inspect({"extract", "--force", pkg, dir.file("out")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(fwtest::readFile(victim), Bytes({'k', 'e', 'e', 'p'}));
    EXPECT_EQ(fwtest::readFile(dir.file("out/boot.img")), fwtest::readFile(dir.file("boot")));
}

TEST_F(Inspector, HelpAndVersionGoToStandardOutputWithStatusZero) {
    const std::pair<std::vector<std::string>, std::string> helps[] = {
        {{"--help"}, "usage: fwinspect list [--json] [--digests] [--layout normal|old] PACKAGE\n"},
        {{"-h"}, "usage: fwinspect list [--json] [--digests] [--layout normal|old] PACKAGE\n"},
        // As Windows users ask.
        {{"/?"}, "usage: fwinspect list [--json] [--digests] [--layout normal|old] PACKAGE\n"},
        {{"-?"}, "usage: fwinspect list [--json] [--digests] [--layout normal|old] PACKAGE\n"},
        {{"sign", "/?"}, "usage: fwinspect sign --key KEY"},
        {{"diff", pkg, "-?"}, "usage: fwinspect diff [--json] [--layout normal|old] OLD NEW\ncompare"},
        {{"list", "-h"}, "usage: fwinspect list [--json] [--digests] [--layout normal|old] PACKAGE\nshow"},
        {{"extract", "--help"}, "usage: fwinspect extract [--layout normal|old] [--force] [--part LABEL]... PACKAGE DIR\n"},
        {{"diff", "--help"}, "usage: fwinspect diff [--json] [--layout normal|old] OLD NEW\ncompare"},
        {{"verify", pkg, "--help"}, "usage: fwinspect verify [--json] [--layout normal|old] [--board CODE] PACKAGE\n"},
        {{"lint", "--help"}, "usage: fwinspect lint [--json] [--package PACKAGE] -- FWPACK-ARGUMENTS...\n"},
    };
    for (const auto& [args, start] : helps) {
        const auto r = inspect(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out.rfind(start, 0), 0u) << r.out;
        EXPECT_NE(r.out.find("exit status:\n  0  sound"), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "");
    }
    EXPECT_EQ(inspect({"verify", "--help"}).out.find("--force"), std::string::npos);
    EXPECT_NE(inspect({"--help"}).out.find("\n       fwinspect diff [--json] [--layout normal|old] OLD NEW\n"), std::string::npos);
    const auto v = inspect({"--version"});
    EXPECT_EQ(v.status, 0);
    EXPECT_EQ(v.out.rfind("fwinspect ", 0), 0u);
    EXPECT_EQ(v.out.find_first_not_of("0123456789.\n", 10), std::string::npos) << v.out;
}

TEST_F(Inspector, UnknownWordsAreNamedOnStandardErrorWithStatusTwo) {
    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{"lst", pkg}, "fwinspect: unknown command lst; try 'fwinspect --help'\n"},
        {{"--verbose"}, "fwinspect: unknown command --verbose; try 'fwinspect --help'\n"},
        {{"list", "--force", pkg}, "fwinspect: unknown option --force; try 'fwinspect list --help'\n"},
        {{"extract", "--board", "1", pkg, "d"}, "fwinspect: unknown option --board; try 'fwinspect extract --help'\n"},
        {{"diff", "--board", "1", pkg, pkg}, "fwinspect: unknown option --board; try"},
        {{"list", "--bad\x1b", pkg}, "fwinspect: unknown option --bad\\x1b;"},
        {{"diff", pkg}, "fwinspect: missing operand NEW; try 'fwinspect diff --help'\n"},
        {{"extract", pkg}, "fwinspect: missing operand DIR;"},
        {{"list"}, "fwinspect: missing operand PACKAGE;"},
        {{"list", "--layout", "odd", pkg}, "fwinspect: --layout takes normal or old;"},
        {{"verify", "--board", "", pkg}, "fwinspect: --board takes a code fwpack -b reads whole: an optional 0x, then "
                                         "hexadecimal digits, eight characters at most; fwpack reads \"\" as 0000;"},
        {{"verify", "--board", "123456789", pkg}, "fwpack reads \"123456789\" as 12345678;"},
        {{"verify", "--board", "0x", pkg}, "fwpack reads \"0x\" as 0000;"},
        {{"verify", "--board", "0x0000a20", pkg}, "fwpack reads \"0x0000a20\" as 00a2;"},
        {{"verify", "--board", "a20z", pkg}, "fwpack reads \"a20z\" as 0a20;"},
        {{"verify", "--board", " 1f", pkg}, "fwpack reads \" 1f\" as 001f;"},
        {{"verify", "--board", "-1", pkg}, "fwpack reads \"-1\" as ffffffff;"},
    };
    for (const auto& [args, message] : bad) {
        const auto r = inspect(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("usage: fwinspect"), std::string::npos);
        EXPECT_EQ(r.out, "");
    }
}

// fwpack's options given to lint without the -- get the line that works;
// other commands and lint's own options get no such hint.
TEST_F(Inspector, LintShowsWhereTheDoubleDashGoes) {
    const std::string hint = "fwinspect: put -- before fwpack's arguments: ";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"lint", "-o", "x.update", "-b", "0c35", "-u", "u.bin"},
         "fwinspect: unknown option -o; try 'fwinspect lint --help'\n" + hint +
             "fwinspect lint -- -o x.update -b 0c35 -u u.bin\n"},
        {{"lint", "--json", "-o", "x"}, "fwinspect: unknown option -o; try 'fwinspect lint --help'\n" + hint +
                                            "fwinspect lint --json -- -o x\n"},
        {{"lint", "--package", "p.update", "stray", "-u", "a b"},
         "fwinspect: unknown option -u; try 'fwinspect lint --help'\n" + hint +
             "fwinspect lint --package p.update -- stray -u " + fw::shellQuoted("a b") + "\n"},
        {{"lint", "--jsn"}, "fwinspect: unknown option --jsn; try 'fwinspect lint --help'\n" + hint +
                                "fwinspect lint -- --jsn\n"},
        {{"list", "-o", pkg}, "fwinspect: unknown option -o; try 'fwinspect list --help'\n"},
        {{"lint", "--package"}, "fwinspect: --package needs"},
    };
    for (const auto& [args, err] : cases) {
        const auto r = inspect(args);
        EXPECT_EQ(r.status, 2) << err;
        EXPECT_EQ(r.err.substr(0, err.size()), err);
        EXPECT_EQ(r.err.find("put --") != std::string::npos, err.find("put --") != std::string::npos) << r.err;
    }
}

TEST_F(Inspector, AGuessedLayoutIsNotedOnceByEveryCommand) {
    pack({"-b", "0c35", "-k", input("k", 10)});  // type code 2: a kernel, or an old layout's rfs
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"list", pkg}, {"verify", pkg}, {"list", "--json", pkg}, {"extract", pkg, dir.file("out")}}) {
        const auto r = inspect(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.err.substr(r.err.find(':') + 1).rfind(" " + pkg + ": nothing in the package tells the layouts apart; "
                                                          "read as normal", 0),
                  0u)
            << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
    EXPECT_NE(inspect({"list", "--json", pkg}).out.find("\"layoutGuessed\":true"), std::string::npos);
    const auto settled = inspect({"list", "--json", "--old", pkg});
    EXPECT_EQ(settled.err, "");
    EXPECT_NE(settled.out.find("\"layoutGuessed\":false"), std::string::npos);
}

TEST_F(Inspector, DefectsNameEveryKindOfPartAsListDoes) {
    pack(everyKind());
    const std::pair<int, std::string> labels[] = {
        {0, "part 0 (boot)"},   {1, "part 1 (kernel)"}, {2, "part 2 (rfs)"},    {3, "part 3 (app)"},
        {4, "part 4 (config)"}, {5, "part 5 (flash)"},  {6, "part 6 (logo)"},   {7, "part 7 (chlogo)"},
        {8, "part 8 (tar)"},    {9, "part 9 (-p2 (mtd1))"}, {10, "part 10 (-p7 (mtd6))"}, {11, "part 11 (named abcde)"},
        {12, "part 12 (named boot)"}};
    const Bytes sound = fwtest::readFile(pkg);
    for (const auto& [number, label] : labels) {
        Bytes b = sound;
        const std::uint32_t offset = fwtest::wordAt(b, 36 + 4 * 2 + 4 * static_cast<std::size_t>(number));
        b.at(offset + 28) ^= 1;  // the recorded digest
        dir.write("p.update", b);
        const auto r = inspect({"verify", pkg});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, label + ": digest does not match its data\n" + pkg + ": 1 defect\n");
    }
}

}  // namespace
