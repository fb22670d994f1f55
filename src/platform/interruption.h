// What an interrupted run leaves behind: nothing. While a package stands
// under a temporary name, that name is known here, so SIGINT, SIGTERM,
// SIGHUP, SIGPIPE (standard output a pipe whose reader has gone) and
// SIGXFSZ (a file size limit struck) remove it before they end the process
// as they would have without us (the shell still sees 130 for Ctrl-C).
#pragma once

#include <cstddef>

namespace fw {

// For the tool's entry point. Signals the parent process ignores stay
// ignored (nohup, background jobs); where SIGXFSZ is ignored, a write that
// passes the file size limit fails instead, and the writer reports it.
void removeTemporaryFileOnInterrupt();

// The one named temporary file of this process, as a name inside the
// folder `folderFd`; both stay valid until clearTemporaryName().
void recordTemporaryName(int folderFd, const char* name);
void clearTemporaryName();

// From this call on the interrupting signals no longer end the process:
// naming the finished output has begun, so the run's outcome is decided,
// and ending by a signal would read as "interrupted, earlier output kept".
// Call it with the signals held.
void keepRunningWhateverComes();

// For a test program, where one process makes many runs: forgets the
// temporary name and a decided outcome (and on Windows a Ctrl-C that
// came), as a new process starts without them. Handlers and signal masks
// are the caller's to put back.
void forgetRunState();

// Whether an interrupting signal waits while InterruptHold holds it back,
// so a long step can stop at a safe point, undo what it did, and then let
// the signal end the process as it would have. Signals the caller's shell
// ignores (nohup) stay ignored and never count.
bool interruptPending();

// Holds the interrupting signals back in the calling thread while it
// lives, so that creating or renaming a file and recording its name
// happen as one step; a signal that came meanwhile acts when it ends.
class InterruptHold {
public:
    InterruptHold();
    ~InterruptHold();
    InterruptHold(const InterruptHold&) = delete;
    InterruptHold& operator=(const InterruptHold&) = delete;

private:
    // What the thread held back before, in the system's own form (a
    // signal mask on POSIX).
    alignas(std::max_align_t) unsigned char previous_[128];
};

}  // namespace fw
