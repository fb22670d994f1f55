#include "platform/interruption.h"

#include "platform/progress.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cerrno>
#include <cstring>

namespace fw {
namespace {

// SIGXFSZ comes when a write passes the file size limit (ulimit -f),
// SIGPIPE when standard output is a pipe nobody reads any more.
constexpr int interrupting[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};

// Read by the handler in whichever thread takes the signal: the name is
// only ever changed while the folder is -1, so a handler that sees a
// folder also sees a whole name.
std::atomic<int> temporaryFolder{-1};
char temporaryName[64];
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<bool> outcomeDecided{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int signal) {
    if (outcomeDecided.load()) return;
    const int saved = errno;
    const int folder = temporaryFolder.load();
    if (folder >= 0) ::unlinkat(folder, temporaryName, 0);
    // The shell's prompt comes next: it should not stand behind a rate.
    const int line = standingProgressFd();
    if (line >= 0 && ::write(line, "\r\033[K", 4) < 0) errno = saved;
    std::signal(signal, SIG_DFL);
    ::raise(signal);
    errno = saved;
}

sigset_t interruptSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : interrupting) sigaddset(&set, s);
    return set;
}

}  // namespace

void removeTemporaryFileOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int s : interrupting) sigaddset(&action.sa_mask, s);
    for (int s : interrupting) {
        struct sigaction before {};
        if (::sigaction(s, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) ::sigaction(s, &action, nullptr);
    }
}

void recordTemporaryName(int folderFd, const char* name) {
    temporaryFolder.store(-1);
    std::strncpy(temporaryName, name, sizeof temporaryName - 1);
    temporaryName[sizeof temporaryName - 1] = '\0';
    temporaryFolder.store(folderFd);
}

void clearTemporaryName() { temporaryFolder.store(-1); }

void keepRunningWhateverComes() { outcomeDecided.store(true); }

void forgetRunState() {
    clearTemporaryName();
    outcomeDecided.store(false);
}

bool interruptPending() {
    sigset_t pending;
    if (::sigpending(&pending) != 0) return false;
    for (int s : interrupting) {
        if (sigismember(&pending, s) != 1) continue;
        struct sigaction now {};
        if (::sigaction(s, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) return true;
    }
    return false;
}

static_assert(sizeof(sigset_t) <= 128, "InterruptHold keeps the earlier mask in 128 bytes");

InterruptHold::InterruptHold() {
    const sigset_t set = interruptSet();
    ::pthread_sigmask(SIG_BLOCK, &set, reinterpret_cast<sigset_t*>(previous_));
}

InterruptHold::~InterruptHold() { ::pthread_sigmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(previous_), nullptr); }

}  // namespace fw
