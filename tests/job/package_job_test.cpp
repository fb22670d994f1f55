#include "job/package_job.h"

#include <gtest/gtest.h>

namespace {

TEST(PackageJob, NewJobHoldsNoInputs) {
    auto job = fw::createJob();
    ASSERT_TRUE(job);
    for (auto flag : job->hasImage) EXPECT_EQ(flag, 0);
    EXPECT_EQ(job->mtdMask, 0u);
    EXPECT_EQ(job->namedMask, 0u);
    EXPECT_EQ(job->boardCount, 0u);
    EXPECT_EQ(job->oldLayout, 0);
}

TEST(PackageJob, KeepsTheFirstHundredBoardCodes) {
    auto job = fw::createJob();
    for (std::uint32_t code = 0; code < 101; ++code) fw::addBoardCode(*job, code + 1);
    EXPECT_EQ(job->boardCount, 100u);
    EXPECT_EQ(job->boardTypes[0], 1u);
    EXPECT_EQ(job->boardTypes[99], 100u);
}

TEST(PackageJob, TextFieldsTakeAtMostTheirRoom) {
    fw::NameText name;
    EXPECT_TRUE(fw::setText(name, std::string(63, 'x').c_str()));
    EXPECT_EQ(name[62], 'x');
    EXPECT_EQ(name[63], '\0');
    EXPECT_FALSE(fw::setText(name, std::string(64, 'x').c_str()));
    EXPECT_EQ(name[0], '\0');
}

}  // namespace
