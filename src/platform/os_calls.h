// The few calls to the system that the file protocols are written over:
// committing an output (output_target.cpp), naming files in a folder
// (folders.cpp) and buffered input (files.cpp) decide once, for both
// systems, what to open, when to name and what to undo; these calls only
// do one step each, by POSIX (*_posix.cpp) or by Win32 (*_win32.cpp).
// A test derives from OsCalls to make one step fail or to act in the
// middle of one, and hands its object to the protocol in the real one's
// place.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/file_handle.h"
#include "platform/files.h"

namespace fw {

// What stands at an output's path before it is written.
enum class OutputFound { nothing, file, device };
struct EarlierOutput {
    OutputFound found = OutputFound::nothing;
    // What the package takes over: on POSIX the permission bits (for a new
    // file those the umask allows), owner and group; on Windows the
    // attributes, in `mode`.
    unsigned mode = 0;
    unsigned owner = 0, group = 0;
    FileHandle device;  // a device, already opened for writing
};

class OsCalls {
public:
    virtual ~OsCalls() = default;

    // --- Naming files in a folder.
    enum class Creation { made, nameTaken, unavailable, failed };
    // A new file in the folder. A `vanishing` one is removed by the system
    // if the process dies before it is named: on Linux it has no name at
    // all (O_TMPFILE) and `name` is unused, on Windows it stands under
    // `name` with delete-on-close. `unavailable`: the file system has no
    // such file, a lasting temporary name must do. `why` gets the reason
    // of all but `made`.
    virtual Creation createFile(int dirFd, const std::string& name, unsigned mode, bool vanishing, FileHandle& into,
                                std::string* why) const;
    // Gives a vanishing file a lasting name; false with errno EEXIST when
    // the name is taken.
    virtual bool linkUnnamed(int fd, int dirFd, const std::string& name) const;
    virtual bool renameInto(int dirFd, const std::string& from, const std::string& to, bool replace,
                            std::string* why) const;
    virtual void removeIn(int dirFd, const std::string& name) const;
    // The system's last word on a written file's bytes: a failed close (a
    // network file system's delayed write) means they may be lost.
    virtual bool close(FileHandle& file, std::string* why) const;

    // --- Keeping what was written when the power fails.
    // Starts writing the file's changed bytes to the disk and returns at
    // once: only a hint, given while a file is written, so the flush before
    // naming it waits for the last stretch alone.
    virtual void startWriteBack(int fd) const;
    // Returns once the file's bytes, size, mode and owner are on the disk;
    // true at once for what keeps nothing (a pipe, a terminal).
    virtual bool flushFile(int fd, std::string* why) const;
    // Returns once the names given in the folder are on the disk.
    virtual bool flushFolder(int dirFd, std::string* why) const;

    // --- Committing an output.
    // The path that is to be replaced, past symbolic links and junctions;
    // false where it cannot be found (a loop, a path the system refuses).
    virtual bool resolveOutput(const std::string& path, std::string& into) const;
    // What stands at `path`; false when nothing may be written there (a
    // folder, a file this process may not open for writing).
    virtual bool examineOutput(const std::string& path, EarlierOutput& into) const;
    // The output's folder, held open while names are made in it.
    virtual FileHandle openOutputFolder(const std::string& path) const;
    // The existing file at `path` emptied and opened for writing; false
    // where it cannot be, or (on POSIX) it is no regular file.
    virtual bool openInPlace(const std::string& path, FileHandle& into) const;
    // Gives the new file what the earlier one had; false when its mode
    // (its attributes on Windows) could not be set.
    virtual bool takeOver(int fd, const EarlierOutput& earlier) const;
    // Only a hint: room for `size` bytes in one piece.
    virtual void reserve(int fd, std::uint64_t size) const;
    // Empties a file written in place that is given up; false when it
    // could not, and still holds what was written.
    virtual bool truncate(int fd) const;

    // --- Buffered input.
    // Opens an input of any shape that ends; under `refuseWhileWritten`
    // a regular file being written is notReadable, and `leased` tells
    // whether a writer that comes later can still be seen.
    virtual Opening openInput(const char* path, bool refuseWhileWritten, OpenedFile& into, bool& leased) const;
    // False once a writer has come to a leased file.
    virtual bool stillLeased(int fd) const;
    // What one read of a device delivers, waiting at most `idleLimit` for
    // a byte; 0 at its end, -1 on an error or silence.
    virtual std::int64_t readStream(int fd, void* into, std::size_t count,
                                    std::chrono::milliseconds idleLimit) const;
};

// The system's own calls.
const OsCalls& systemCalls();

}  // namespace fw
