#include "platform/progress.h"

#include <algorithm>
#include <atomic>

#include "platform/console_text.h"
#include "platform/shell_words.h"

namespace fw {
namespace {

std::FILE* progressStream = nullptr;
// Where a progress line stands drawn, its end not yet written; nullptr
// when none does.
std::atomic<std::FILE*> standing{nullptr};
std::atomic<int> standingFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr std::uint64_t checkEvery = 4ull << 20;

// Keeps the line to one short, printable row.
std::string labelFor(const char* action, const char* path) {
    const std::string_view whole = path;
    const auto slash = std::find_if(whole.rbegin(), whole.rend(), isPathSeparator);
    std::string name(slash.base(), whole.end());
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    if (name.size() > 40) name.replace(37, std::string::npos, "...");
    return std::string(action) + " " + name;
}

}  // namespace

void setProgressStream(std::FILE* stream) { progressStream = stream; }

int standingProgressFd() { return standingFd.load(); }

void clearProgressLine() {
    standingFd.store(-1);
    if (std::FILE* line = standing.exchange(nullptr)) {
        printText(line, "\r\033[K");
        std::fflush(line);
    }
}

ProgressLine::ProgressLine(const char* action, const char* path, std::uint64_t total) : total_(total) {
    if (progressStream == nullptr || total <= progressThreshold) return;
    out_ = progressStream;
    label_ = labelFor(action, path);
    start_ = lastDraw_ = std::chrono::steady_clock::now();
    nextCheck_ = checkEvery;
}

ProgressLine::~ProgressLine() {
    if (drawn_) clearProgressLine();
}

void ProgressLine::redraw() {
    nextCheck_ = done_ + checkEvery;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? static_cast<double>(done_) / (1 << 20) / seconds : 0;
    const unsigned percent = static_cast<unsigned>(done_ * 100 / total_);
    standing.store(nullptr);  // the redraw wipes the old line itself
    standingFd.store(-1);
    print(out_, "\r\033[K%s  %3u%%  %.0f MiB/s", label_.c_str(), percent > 100 ? 100 : percent, rate);
    std::fflush(out_);
    standing.store(out_);
    standingFd.store(fileno(out_));
    drawn_ = true;
}

}  // namespace fw
