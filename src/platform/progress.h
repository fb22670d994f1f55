// Progress for big inputs, on standard error and only when it is a
// terminal: scripts, and the exact standard output, never see it.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

namespace fw {

inline constexpr std::uint64_t progressThreshold = 64ull << 20;

// Turns progress on for this process when `stream` is a terminal.
void enableProgressOnTerminal(std::FILE* stream);
// Turns it on unconditionally, writing to `stream` (nullptr turns it off).
void setProgressStream(std::FILE* stream);

// Wipes the progress line off the terminal where one stands drawn. Every
// print of the tools calls this first, so no message starts behind the
// line; the line comes back at its next redraw.
void clearProgressLine();
// The descriptor a progress line stands drawn on, or -1: read without a
// lock, so a run ended by Ctrl-C can wipe the line on its way out.
int standingProgressFd();

// One task's progress line: "label  42%  731 MiB/s", redrawn at most ten
// times a second and cleared when the task ends. Silent for tasks up to
// progressThreshold bytes and when progress is off.
class ProgressLine {
public:
    ProgressLine(const char* action, const char* path, std::uint64_t total);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void advance(std::uint64_t bytes) {
        done_ += bytes;
        if (out_ != nullptr && done_ >= nextCheck_) redraw();
    }
    // For a task whose threads count the bytes done in one counter.
    void advanceTo(std::uint64_t done) { advance(done - done_); }

private:
    void redraw();

    std::FILE* out_ = nullptr;
    std::string label_;
    std::uint64_t total_, done_ = 0, nextCheck_ = 0;
    std::chrono::steady_clock::time_point start_, lastDraw_;
    bool drawn_ = false;
};

}  // namespace fw
