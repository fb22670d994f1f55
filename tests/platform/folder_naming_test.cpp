// Naming a file in a folder, over calls that refuse files without a name
// or fail the close: whatever the way the file took, it ends under its
// name or leaves the folder as it stood.
#include <gtest/gtest.h>

#include "support/fake_os_calls.h"
#include "support/test_support.h"
#include "platform/file_handle.h"
#include "platform/folders.h"
#include "platform/new_file.h"

namespace {

using NewFiles = fwtest::FakeOsCalls::NewFiles;

TEST(FolderNaming, EndsNamedWholeOrLeavesTheFolderAsItStood) {
    struct Case {
        NewFiles newFiles;
        bool taken, replace, closeFails;
    } const cases[] = {
        {NewFiles::any, false, false, false},       {NewFiles::any, true, true, false},
        {NewFiles::any, true, false, false},        {NewFiles::any, false, true, true},
        {NewFiles::any, true, true, true},          {NewFiles::namedOnly, false, false, false},
        {NewFiles::namedOnly, true, true, false},   {NewFiles::namedOnly, true, false, false},
        {NewFiles::namedOnly, false, true, true},   {NewFiles::namedOnly, true, true, true},
    };
    const fwtest::Bytes earlier = fwtest::patternBytes(20, 1), written = fwtest::patternBytes(3000, 2);
    for (const Case& c : cases) {
        const std::string label = std::string(c.newFiles == NewFiles::any ? "unnamed" : "named") + (c.taken ? " taken" : "") +
                                  (c.replace ? " replace" : "") + (c.closeFails ? " close fails" : "");
        fwtest::ScratchDir dir;
        if (c.taken) dir.write("part", earlier);
        fwtest::FakeOsCalls calls;
        calls.newFiles = c.newFiles;
        calls.closeFails = c.closeFails;
        std::string why;
        const fw::FileHandle folder = fw::openFolder(dir.path(), &why);
        fw::FolderFile f;
        f.os = &calls;
        ASSERT_TRUE(fw::createInFolder(folder.get(), f, &why)) << label << ": " << why;
        EXPECT_EQ(f.tempName.empty(), c.newFiles == NewFiles::any) << label;
        ASSERT_TRUE(fw::writeAll(f.file.get(), written.data(), written.size())) << label;
        const bool named = fw::nameInFolder(folder.get(), f, "part", c.replace, &why);
        const bool shouldName = !c.closeFails && (c.replace || !c.taken);
        EXPECT_EQ(named, shouldName) << label;
        const bool anyFile = shouldName || c.taken;
        EXPECT_EQ(dir.entries(), anyFile ? std::vector<std::string>{"part"} : std::vector<std::string>{}) << label;
        if (anyFile) {
            EXPECT_EQ(fwtest::readFile(dir.file("part")), shouldName ? written : earlier) << label;
        }
    }
}

}  // namespace
