#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/interruption.h"
#include "platform/progress.h"

namespace {

// A run stopped by a signal while its progress line stands leaves the
// terminal clean for the shell's prompt.
TEST(ProgressOnSignal, AnInterruptedRunWipesTheStandingLine) {
    for (const int signal : {SIGINT, SIGTERM}) {
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ends[0]);
            std::FILE* line = ::fdopen(ends[1], "w");
            fw::setProgressStream(line);
            fw::removeTemporaryFileOnInterrupt();
            fw::ProgressLine progress("pack", "big.img", 100ull << 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(110));
            progress.advance(50ull << 20);
            ::raise(signal);
            ::_exit(0);
        }
        ::close(ends[1]);
        std::string seen;
        char piece[256];
        for (ssize_t n; (n = ::read(ends[0], piece, sizeof piece)) > 0;) seen.append(piece, static_cast<std::size_t>(n));
        ::close(ends[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_NE(seen.find("pack big.img   50%"), std::string::npos) << seen;
        EXPECT_EQ(seen.substr(seen.size() - 4), "\r\033[K") << seen;
    }
}

}  // namespace
