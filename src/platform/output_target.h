// Where a package is written. A regular file (or a path that does not exist
// yet) is written as a new temporary file beside it and renamed over it only
// when complete, so a failed run never leaves a damaged package or loses the
// file that stood there. A symbolic link is followed: its target is
// replaced and the link stays. Anything else that exists (a device) is
// written in place.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_handle.h"

namespace fw {

struct OutputTarget {
    std::string finalPath;  // the path after following symbolic links
    std::string tempPath;   // empty when writing in place
    FileHandle file;
    std::atomic<bool> failed{false};  // a write failed; sticky until the target is closed

    // Writes at an absolute offset; parts may be written in any order and
    // from several threads.
    bool writeAt(std::uint64_t offset, const void* data, std::size_t count);
};

// False when no file can be created there (missing folder, a directory).
// A new file is given `expectedSize` bytes of room up front, so the file
// system allocates it in one piece rather than page by page.
bool openOutputTarget(const char* path, std::uint64_t expectedSize, OutputTarget& target);
// Closes and renames into place; false when any write, the close or the
// rename failed, and then nothing is left behind.
bool commitOutputTarget(OutputTarget& target);
// Closes and removes the temporary file.
void abandonOutputTarget(OutputTarget& target);

}  // namespace fw
