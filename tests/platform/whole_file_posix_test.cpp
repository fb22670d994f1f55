// A small file written whole replaces a file, never a device, FIFO or
// folder at its name: renamed over /dev/null by root, it would take the
// device's place.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/whole_file.h"

#include "support/test_support.h"

namespace {

TEST(WholeFile, RefusesToReplaceWhatIsNoRegularFile) {
    fwtest::ScratchDir dir;
    const std::string fifo = dir.file("fifo"), folder = dir.file("folder"), link = dir.file("link");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(::symlink("fifo", link.c_str()), 0);
    for (const std::string& path : {fifo, folder, link}) {
        std::string why;
        EXPECT_FALSE(fw::replaceFileWhole(path, {1, 2, 3}, &why)) << path;
        EXPECT_EQ(why, "it is not a regular file") << path;
    }
    struct stat st {};
    EXPECT_TRUE(::lstat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(::lstat(link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"fifo", "folder", "link"}));
}

}  // namespace
