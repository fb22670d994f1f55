// Interruption by Windows' means: Ctrl-C, Ctrl-Break and closing the console
// window reach the handler given to SetConsoleCtrlHandler, on a thread of
// their own. Files made with delete-on-close need no cleanup, as the system
// removes them when the process's handles close, however it ends; the
// handler removes the one named temporary file, if there is one, and ends
// the process with STATUS_CONTROL_C_EXIT, the status Windows' own handler
// ends a program with on Ctrl-C.
#include <atomic>
#include <cwchar>

#include "platform/interruption.h"
#include "platform/progress.h"
#include "platform/win32_support.h"

namespace fw {
namespace {

// The status of a console program ended by Ctrl-C (STATUS_CONTROL_C_EXIT).
constexpr UINT controlCExit = 0xC000013AU;

// Only ever changed while `temporaryKnown` is false, so a handler that sees
// it true also sees a whole path.
std::atomic<bool> temporaryKnown{false};
wchar_t temporaryPath[1024];
std::atomic<bool> outcomeDecided{false};
std::atomic<bool> interruptWaits{false};
// Threads inside an InterruptHold; the handler acts only once none is.
std::atomic<int> holders{0};
thread_local int holdDepth = 0;

[[noreturn]] void endAsInterrupted() {
    if (temporaryKnown.load()) ::DeleteFileW(temporaryPath);
    // Written straight to the handle: the thread the run was stopped in may
    // hold the stream's lock. The prompt should not stand behind a rate.
    const int line = standingProgressFd();
    DWORD written = 0;
    if (line >= 0) ::WriteFile(win32::handleOf(line), "\r\033[K", 4, &written, nullptr);
    ::TerminateProcess(::GetCurrentProcess(), controlCExit);
    for (;;) ::Sleep(INFINITE);
}

BOOL WINAPI onControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
    interruptWaits.store(true);
    while (holders.load() > 0 && !outcomeDecided.load()) ::Sleep(1);
    if (outcomeDecided.load()) {
        // Naming has begun: the run completes. A closed console ends the
        // process when the handler returns, so this one waits for the run.
        if (event == CTRL_CLOSE_EVENT) ::Sleep(INFINITE);
        return TRUE;
    }
    endAsInterrupted();
}

}  // namespace

// A Ctrl-C that the parent chose to ignore (SetConsoleCtrlHandler(NULL,
// TRUE), inherited) never reaches a handler: it stays ignored.
void removeTemporaryFileOnInterrupt() { ::SetConsoleCtrlHandler(onControl, TRUE); }

void recordTemporaryName(int folderFd, const char* name) {
    temporaryKnown.store(false);
    const std::wstring path = win32::inFolder(folderFd, name);
    if (path.size() >= sizeof temporaryPath / sizeof temporaryPath[0]) return;
    std::wmemcpy(temporaryPath, path.c_str(), path.size() + 1);
    temporaryKnown.store(true);
}

void clearTemporaryName() { temporaryKnown.store(false); }

void keepRunningWhateverComes() { outcomeDecided.store(true); }

void forgetRunState() {
    clearTemporaryName();
    outcomeDecided.store(false);
    interruptWaits.store(false);
}

bool interruptPending() { return interruptWaits.load() && !outcomeDecided.load(); }

// Only the outermost hold of a thread counts. One that begins after an
// interruption came waits here for the handler to end the process, so no
// new step starts.
InterruptHold::InterruptHold() {
    if (holdDepth++ > 0) return;
    holders.fetch_add(1);
    if (interruptWaits.load() && !outcomeDecided.load()) {
        holders.fetch_sub(1);
        for (;;) ::Sleep(INFINITE);
    }
}

InterruptHold::~InterruptHold() {
    if (--holdDepth > 0) return;
    holders.fetch_sub(1);
}

}  // namespace fw
