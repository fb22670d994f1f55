// The one owner of file descriptors. Every file the tools open is held by a
// FileHandle, so a descriptor is closed exactly once, also when an open
// replaces an earlier one or a failure leaves a function early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <sys/types.h>

namespace fw {

class FileHandle {
public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    ~FileHandle() { reset(); }
    FileHandle(FileHandle&& other) noexcept : fd_(other.release()) {}
    FileHandle& operator=(FileHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes what it holds and takes `fd`; false when that close failed
    // (for a written file: the data may not have reached the disk).
    bool reset(int fd = -1);

private:
    int fd_ = -1;
};

// What tells one state of a file from another: a file written to, or
// replaced, between two looks differs in at least one of these.
struct FileIdentity {
    std::uint64_t device = 0;  // the file system (a volume, on Windows)
    std::uint64_t inode = 0;   // the file in it
    std::int64_t size = 0;
    // Nanoseconds since 1970 UTC, for telling states apart: past 2262 they
    // wrap. modifiedSeconds gives the last write as a time.
    std::int64_t modified = 0;
    std::int64_t changed = 0;
    std::int64_t modifiedSeconds = 0;
    bool operator==(const FileIdentity&) const = default;
};

bool fileIdentityOf(int fd, FileIdentity& into);

// Reads until `count` bytes or the end; retries interrupted calls. The
// number read, or -1 on an error.
ssize_t readSome(int fd, void* into, std::size_t count);
// Writes all `count` bytes, retrying short and interrupted writes.
bool writeAll(int fd, const void* data, std::size_t count);
bool writeAllAt(int fd, const void* data, std::size_t count, std::uint64_t offset);
// Reads exactly `count` bytes at `offset`; false on a short read or an error.
bool readAllAt(int fd, void* into, std::size_t count, std::uint64_t offset);
// Only a hint that the file is read from start to end.
void adviseSequential(int fd);

}  // namespace fw
