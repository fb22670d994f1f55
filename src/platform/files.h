// How the tools open and read their inputs: which shapes of file they
// take, what an input is before it is read, and buffered sequential reads.
// Everything above it speaks of paths and byte counts; errno stays here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/file_handle.h"

namespace fw {

// Existence only, as access(F_OK) tells it: no rights are checked.
bool fileExists(const char* path);

// Same device and inode: the same file whatever the spelling of its path.
// False when either cannot be examined.
bool sameFile(const char* a, const char* b);
// Whether the file open on `fd` is still as it was `opened` (size, times,
// file) and `path` still names it: what was read from it is then what the
// path holds.
bool unchangedSince(int fd, const FileIdentity& opened, const char* path);
// Whether descriptor `fd` (standard output, say) is the file at `path`.
bool descriptorIsFile(int fd, const char* path);

// The one way the tools open a file to read. A FIFO is refused before it
// is opened (it may never end, and cannot be read twice), and so is a
// device the caller does not read; a folder or a socket is tried, so one
// that cannot be opened is told as such (a socket never opens). The open
// never blocks and never takes a controlling terminal, and a path that
// changes shape in between is refused too. `accepted` says which shapes
// the caller reads; a character device stays non-blocking, and under
// anyThatEnds so does a file whose file system makes its size up (procfs,
// sysfs): it is a stream, read to its end.
enum class Shapes { regular, regularOrBlock, anyThatEnds };
enum class Opening { ok, cannotOpen, notReadable };
struct OpenedFile {
    FileHandle handle;
    bool regular = false;
    bool stream = false;      // a character device: no length until read
    std::int64_t length = 0;  // a regular file's or a block device's
    bool missing = false;     // cannotOpen because nothing is at the path
};
// `why`, when not ok, gets the reason in the system's words.
Opening openForReading(const char* path, Shapes accepted, OpenedFile& into, std::string* why);

// A small input handed over whole: a regular file as openForReading opens
// it, or a pipe, FIFO or character device to be read to its end (a key
// given as <(...) or /dev/stdin). Unlike openForReading, the open waits for
// a FIFO's writer; `into.stream` is set for all but the regular file.
Opening openWholeInput(const char* path, OpenedFile& into, std::string* why);

// What an input is, learnt without reading it. A FIFO is never opened
// for reading (it may never end, and cannot be read twice); a folder
// cannot be read; a character device, or a file of a made-up size, has no
// length until read. An input that cannot be opened at all (a socket, no
// permission, an I/O error) is told apart from one that opens but is no
// readable file.
struct InputProbe {
    Opening opening = Opening::cannotOpen;
    bool stream = false;      // no length until read
    std::int64_t length = 0;  // for an input that opened and is no stream
};

InputProbe probeInput(const char* path);

// How an input is to be read when its bytes go into a package.
struct InputRules {
    // Refuse a regular file another process holds open for writing (or has
    // mapped writable), and fail the read once one opens it so, where the
    // system can tell (a read lease); elsewhere nothing is refused here.
    bool refuseWhileWritten = false;
    // A character device that delivers no byte for this long fails the read.
    std::chrono::milliseconds streamIdleLimit{10'000};
};

// A buffered, read-only, sequential file. Small reads are served from a
// large buffer so a caller reading 1 KiB at a time costs no more system
// calls than one reading megabytes.
class InputFile {
public:
    // A FIFO is refused as unreadable before it could block the open or
    // hand out bytes that no second look could confirm; so is a file being
    // written, under `refuseWhileWritten`. A socket cannot be opened.
    Opening open(const char* path, const InputRules& rules = {});
    // Bytes delivered, 0 at the end of the file, -1 on a read error, on a
    // device silent for longer than allowed, or once a writer opened the file.
    std::int64_t read(void* into, std::size_t count);
    // False once another process opened the file for writing since it was
    // opened here (only known where a lease could be taken).
    bool unwritten() const;
    void close() { handle_.reset(); }
    // The length for a regular file or block device; 0 for a stream.
    std::uint64_t size() const { return size_; }
    bool identity(FileIdentity& into) const { return fileIdentityOf(handle_.get(), into); }

private:
    bool refill();
    std::int64_t readDirect(void* into, std::size_t count);

    FileHandle handle_;
    InputRules rules_;
    bool stream_ = false;
    bool leased_ = false;
    std::uint64_t size_ = 0;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t begin_ = 0, end_ = 0;
    bool failed_ = false;
};

}  // namespace fw
