#include "platform/progress.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/console_text.h"
#include "support/test_support.h"

namespace {

class Progress : public ::testing::Test {
protected:
    fwtest::CapturedOutput err;
    void TearDown() override { fw::setProgressStream(nullptr); }

    void runTask(std::uint64_t total) {
        fw::ProgressLine line("digest", "/some/dir/rfs.img", total);
        for (int i = 0; i < 3; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(110));
            line.advance(total / 4);
        }
    }
};

TEST_F(Progress, BigTaskShowsPercentAndRateThenClearsTheLine) {
    fw::setProgressStream(err.stream());
    runTask(200ull << 20);
    const std::string text = err.text();
    EXPECT_NE(text.find("\r\033[Kdigest rfs.img   25%  "), std::string::npos) << text;
    EXPECT_NE(text.find("75%"), std::string::npos);
    EXPECT_NE(text.find(" MiB/s"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
}

// A log line printed while the progress line stands (fwpack's "rfs len =
// ..." on standard output) starts on a wiped line, not behind the rate;
// the line is wiped once, and drawn again at its next redraw.
TEST_F(Progress, EveryPrintWipesTheStandingLineFirst) {
    fwtest::CapturedOutput log;
    fw::setProgressStream(err.stream());
    {
        fw::ProgressLine line("pack", "p.update", 200ull << 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(110));
        line.advance(100ull << 20);
        fw::print(log.stream(), "rfs len = %d\n", 1);
        fw::printText(log.stream(), "finished!");
        const std::string drawn = err.text();
        EXPECT_EQ(drawn.substr(drawn.size() - 9), "MiB/s\r\033[K") << drawn;
        std::this_thread::sleep_for(std::chrono::milliseconds(110));
        line.advance(50ull << 20);
    }
    const std::string text = err.text();
    EXPECT_NE(text.find("\r\033[Kpack p.update   75%"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 9), "MiB/s\r\033[K") << text;
    EXPECT_EQ(log.text(), "rfs len = 1\nfinished!");
}

TEST_F(Progress, StaysSilentForSmallTasksAndWithoutATerminal) {
    fw::setProgressStream(err.stream());
    runTask(fw::progressThreshold);
    EXPECT_EQ(err.text(), "");

    fw::enableProgressOnTerminal(err.stream());  // a memory stream is no terminal
    runTask(200ull << 20);
    EXPECT_EQ(err.text(), "");
}

TEST_F(Progress, ControlCharactersInNamesNeverReachTheTerminal) {
    fw::setProgressStream(err.stream());
    {
        fw::ProgressLine line("write", "evil\033]0;x\007.img", 100ull << 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(110));
        line.advance(50ull << 20);
    }
    const std::string text = err.text();
    EXPECT_NE(text.find("write evil?]0;x?.img"), std::string::npos) << text;
}

// The folder is dropped at the system's own separators, and a pass that
// counts its bytes in one counter moves the line to that count.
TEST_F(Progress, LabelIsTheNameAfterTheLastSeparator) {
    fw::setProgressStream(err.stream());
    {
        fw::ProgressLine line("pack", "dir/sub\\x.img", 100ull << 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(110));
        line.advanceTo(50ull << 20);
    }
#ifdef _WIN32
    const std::string label = "pack x.img   50%";
#else
    const std::string label = "pack sub\\x.img   50%";
#endif
    EXPECT_NE(err.text().find(label), std::string::npos) << err.text();
}

}  // namespace
