#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_handle.h"

namespace fw {

// A read-only file read at explicit offsets, for taking a package apart.
// Only regular files and block devices: anything else may never end or
// cannot be read twice.
class RandomAccessFile {
public:
    // False when the path cannot be opened or is not such a file;
    // `why` then says so in the system's words.
    bool open(const char* path, std::string* why);
    std::uint64_t size() const { return size_; }
    // When the file was last written, as it was opened: seconds since 1970 UTC.
    std::int64_t modified() const { return opened_.modifiedSeconds; }
    // Reads exactly `count` bytes at `offset`; false on a short read or an error.
    bool readAt(std::uint64_t offset, void* into, std::size_t count) const {
        return readAllAt(handle_.get(), into, count, offset);
    }
    // The same; where the system failed to read bytes the file holds (an
    // I/O error, not its end), `why` gets the system's reason.
    bool readAt(std::uint64_t offset, void* into, std::size_t count, std::string* why) const;
    int descriptor() const { return handle_.get(); }
    // True while the file is as it was opened (size, times, file) and `path`
    // still names it: what was read is then what the path holds.
    bool unchangedAt(const char* path) const;

private:
    FileHandle handle_;
    FileIdentity opened_;
    std::uint64_t size_ = 0;
};

}  // namespace fw
