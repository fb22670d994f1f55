// One record answers for every part how it is named, filed and packed.
#include "format/part_identity.h"

#include <gtest/gtest.h>

namespace {

struct Named {
    fw::PartIdentity part;
    const char* description;
    const char* shown;
    const char* label;
    const char* fileName;
    std::vector<std::string> arguments;
};

TEST(PartIdentity, EveryKindIsNamedFiledAndPackedAsTheToolsShowIt) {
    const Named cases[] = {
        {{fw::PartKind::boot, 0, ""}, "boot", "boot", "boot", "boot.img", {"-u"}},
        {{fw::PartKind::config, 0, ""}, "config", "config", "config", "config.img", {"-g"}},
        {{fw::PartKind::tar, 0, "/usr/etc/sata/sda0/tarfileupdate.tar.gz"}, "tar", "tar", "tar", "tarfileupdate.tar.gz", {"-t"}},
        {{fw::PartKind::flash, 0, ""}, "flash", "flash", "flash", "flash.img", {"-flash"}},
        {{fw::PartKind::mtd, 1, ""}, "-p1 (mtd0)", "-p1 (mtd0)", "-p1", "mtd0.img", {"-p1"}},
        {{fw::PartKind::mtd, 20, ""}, "-p20 (mtd19)", "-p20 (mtd19)", "-p20", "mtd19.img", {"-p20"}},
        // A damaged header's index 0 names no partition and no file.
        {{fw::PartKind::mtd, 0, ""}, "-p0", "-p0", "-p0", "", {"-p0"}},
        {{fw::PartKind::named, 0, "splash"}, "named splash", "splash", "splash", "splash", {"-n", "splash"}},
        {{fw::PartKind::named, 0, ""}, "named ", "", "", "", {"-n", ""}},
        {{fw::PartKind::unknown, 0, ""}, "unknown", "unknown", "unknown", "", {}},
    };
    for (const Named& c : cases) {
        EXPECT_EQ(fw::describe(c.part), c.description);
        EXPECT_EQ(fw::shownLabel(c.part), c.shown) << c.description;
        EXPECT_EQ(fw::labelOf(c.part), c.label) << c.description;
        EXPECT_EQ(fw::fileNameOf(c.part), c.fileName) << c.description;
        EXPECT_EQ(fw::packerArguments(c.part), c.arguments) << c.description;
    }
}

}  // namespace
