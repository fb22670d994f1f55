// Where a package is written. A regular file (or a path that does not exist
// yet) is written as a new file without a name in its folder, and given the
// output's name only when complete, so a failed or killed run never leaves
// a damaged package, a stray file, or loses the file that stood there.
// Where the file system has no unnamed files, a short temporary name stands
// in for it; where no file can be made in the folder at all, an existing
// output we may write is rewritten in place. A symbolic link is followed:
// its target is replaced and the link stays. Anything else that exists (a
// device) is written in place on POSIX; on Windows, where a device name
// such as NUL stands in every folder, a device is refused.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_handle.h"
#include "platform/os_calls.h"

namespace fw {

enum class OutputWay { none, unnamed, named, inPlace };

// How much is written between two starts of the write-back: large enough
// that the disk gets long runs, small enough that the tail is short.
constexpr std::uint64_t writeBackStretch = 8 << 20;

struct OutputTarget {
    std::string finalPath;  // the path after following symbolic links
    FileHandle folder;      // the folder of finalPath, where names are made
    std::string finalName;  // the last part of finalPath
    std::string tempName;   // the named temporary file, while there is one
    OutputWay way = OutputWay::none;
    FileHandle file;
    std::atomic<bool> failed{false};  // a write failed; sticky until the target is closed
    // An output written in place that a failed run could not empty: it
    // holds part of a package, and the user must be told.
    bool partLeft = false;
    std::atomic<std::uint64_t> unflushed{0};  // bytes written since the write-back was last started

    // What the replaced file was, so the package keeps it.
    EarlierOutput earlier;
    // The steps are taken by these: the system's, unless a test hands in
    // calls that fail or act at a precise moment.
    const OsCalls* calls = &systemCalls();

    OutputTarget() = default;
    OutputTarget(const OutputTarget&) = delete;
    OutputTarget& operator=(const OutputTarget&) = delete;
    ~OutputTarget();

    // Writes at an absolute offset; parts may be written in any order and
    // from several threads. False when this write failed; `failed` keeps
    // the package from being named.
    bool writeAt(std::uint64_t offset, const void* data, std::size_t count);
};

// False when nothing can be written there: a missing folder, a directory,
// a symbolic-link loop or a path that cannot be resolved, a folder where
// no file can be made and no existing output we may write, an existing
// output this process may not open for writing (its permission bits, a
// read-only file system, an immutable file), which is never replaced by
// a new file of the same name either. A new file is
// given `expectedSize` bytes of room up front, so the file system
// allocates it in one piece rather than page by page.
bool openOutputTarget(const char* path, std::uint64_t expectedSize, OutputTarget& target);
// Gives the file its name (and the replaced file's mode and owner); false
// when any write, the flush, the close or the naming failed, and then
// nothing is left behind (an output written in place is left empty). The
// file is flushed to the disk before it is named, and its folder after. From the moment
// naming begins, a signal no longer ends the run: its outcome is decided.
bool commitOutputTarget(OutputTarget& target);
// Closes and removes what was written; an output written in place is left
// empty, never holding a part of a package. False when such an output
// could not be emptied.
bool abandonOutputTarget(OutputTarget& target);

}  // namespace fw
