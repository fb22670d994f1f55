#pragma once

#include <cstddef>
#include <cstdint>

namespace fw {

// A read-only file read at explicit offsets, for taking a package apart.
class RandomAccessFile {
public:
    RandomAccessFile() = default;
    ~RandomAccessFile();
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;

    // False when the path cannot be opened or is not a regular file.
    bool open(const char* path);
    std::uint64_t size() const { return size_; }
    // Reads exactly `count` bytes at `offset`; false on a short read or an error.
    bool readAt(std::uint64_t offset, void* into, std::size_t count) const;

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

}  // namespace fw
