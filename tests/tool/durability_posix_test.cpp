// A file reaches the disk before it gets its name, and the name after: the
// order of the tools' flushes and namings as strace sees them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "support/test_support.h"

namespace {

// The run's flushes (F) and namings (N) in order.
std::string flushesAndNamings(const std::string& command, const std::string& trace) {
    const std::string traced = "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -qq -o " + trace +
                               " -e trace=fsync,fdatasync,linkat,rename,renameat,renameat2 " + command +
                               " >/dev/null 2>&1";
    if (std::system(traced.c_str()) != 0) return "failed: " + command;
    std::ifstream in(trace);
    std::string order, line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string pid, call;
        words >> pid >> call;
        if (call.starts_with("fsync(") || call.starts_with("fdatasync(")) order += 'F';
        else if (call.starts_with("link") || call.starts_with("rename")) order += 'N';
    }
    return order;
}

struct FlushCase {
    const char* what;
    std::string command;
    std::string order;  // a file's flush before each naming of it; the folder's after the last
};

TEST(Durability, FilesAreFlushedBeforeTheyAreNamedAndFoldersAfter) {
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot run here";
    fwtest::ScratchDir dir;
    const std::string boot = dir.write("boot", fwtest::patternBytes(30000, 2));
    const std::string rfs = dir.write("rfs", fwtest::patternBytes(9000, 3));
    const std::string package = dir.file("p.update"), out = dir.file("out");
    const std::string pack = std::string(FWPACK_BINARY) + " -o " + package + " -b 1 -u " + boot + " -r " + rfs;
    const std::string extract = std::string(FWINSPECT_BINARY) + " extract --force " + package + " " + out;
    const FlushCase cases[] = {
        {"a new package: linked in", pack, "FNF"},
        {"a package replacing one: linked under a temporary name, renamed over it", pack, "FNNNF"},
        {"two parts into a new folder of the run's own: each staged, named, then the folder named", extract,
         "FNFNNNFNF"},
        {"the same parts replacing them", extract, "FNFNNNF"},
    };
    for (const FlushCase& c : cases)
        EXPECT_EQ(flushesAndNamings(c.command, dir.file("trace")), c.order) << c.what;
}

}  // namespace
