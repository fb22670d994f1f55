// The thin layer over the POSIX file calls. Everything above it speaks of
// paths and byte counts; errno and descriptors stay here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace fw {

// Existence only, as access(F_OK) tells it: no rights are checked.
bool fileExists(const char* path);

// Same device and inode: the same file whatever the spelling of its path.
// False when either cannot be examined.
bool sameFile(const char* a, const char* b);

// A buffered, read-only, sequential file. Small reads are served from a
// large buffer so a caller reading 1 KiB at a time costs no more system
// calls than one reading megabytes.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool open(const char* path);
    // Bytes delivered, 0 at the end of the file, -1 on a read error.
    std::int64_t read(void* into, std::size_t count);
    void close();
    bool isOpen() const { return fd_ >= 0; }

private:
    bool refill();

    int fd_ = -1;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool failed_ = false;
};

// A buffered output file that can seek back to patch what it wrote.
// Every call reports whether it succeeded; a failure is sticky.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void adopt(int fd);
    bool write(const void* data, std::size_t count);
    bool writeZeros(std::uint64_t count);
    bool seek(std::uint64_t offset);
    std::uint64_t position() const { return position_; }
    bool flush();
    // Flushes and closes; false when anything since adopt failed.
    bool close();
    int descriptor() const { return fd_; }

private:
    int fd_ = -1;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t used_ = 0;
    std::uint64_t position_ = 0;
    bool failed_ = false;
};

}  // namespace fw
