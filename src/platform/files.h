// The thin layer over the POSIX file calls. Everything above it speaks of
// paths and byte counts; errno and descriptors stay here.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

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
    std::uint64_t size() const { return size_; }
    const char* path() const { return path_.c_str(); }

private:
    bool refill();

    int fd_ = -1;
    std::string path_;
    std::uint64_t size_ = 0;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool failed_ = false;
};

// Writes full buffers to a descriptor on a thread of its own, one at a
// time and in order, so the kernel's copy into the page cache runs beside
// the reading and digesting of the caller instead of after it.
class WriteBehind {
public:
    explicit WriteBehind(int fd);
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Takes `count` bytes of `buffer` and gives back the buffer it held
    // before, once that one is written.
    std::unique_ptr<std::uint8_t[]> submit(std::unique_ptr<std::uint8_t[]> buffer, std::size_t count);
    // Waits for the buffer in hand; false when any write failed.
    bool drain();

private:
    void run();

    int fd_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t count_ = 0;
    bool busy_ = false, stopping_ = false, failed_ = false;
    std::thread thread_;
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
    bool writeOut();

    int fd_ = -1;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::unique_ptr<WriteBehind> behind_;  // started by the first full buffer
    std::size_t used_ = 0;
    std::uint64_t position_ = 0;
    bool failed_ = false;
};

}  // namespace fw
