#include "platform/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace fw {

bool FileHandle::reset(int fd) {
    bool ok = true;
    if (fd_ >= 0) ok = ::close(fd_) == 0;
    fd_ = fd;
    return ok;
}

namespace {

// In unsigned arithmetic, so a time past 2262 wraps rather than overflows.
std::int64_t nanoseconds(const timespec& t) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(t.tv_sec) * 1'000'000'000u +
                                     static_cast<std::uint64_t>(t.tv_nsec));
}

}  // namespace

bool fileIdentityOf(int fd, FileIdentity& into) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    into.device = st.st_dev;
    into.inode = st.st_ino;
    into.size = st.st_size;
    into.modified = nanoseconds(st.st_mtim);
    into.changed = nanoseconds(st.st_ctim);
    into.modifiedSeconds = st.st_mtim.tv_sec;
    return true;
}

ssize_t readSome(int fd, void* into, std::size_t count) {
    auto* p = static_cast<char*>(into);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

namespace {

// The one write loop: short and interrupted writes are retried until every
// byte is out, at the descriptor's position or, given one, at `offset`.
bool writeFully(int fd, const void* data, std::size_t count, const std::uint64_t* offset) {
    const auto* p = static_cast<const char*>(data);
    std::uint64_t at = offset != nullptr ? *offset : 0;
    while (count > 0) {
        const ssize_t n = offset != nullptr ? ::pwrite(fd, p, count, static_cast<off_t>(at)) : ::write(fd, p, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        at += static_cast<std::uint64_t>(n);
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool writeAll(int fd, const void* data, std::size_t count) { return writeFully(fd, data, count, nullptr); }

bool writeAllAt(int fd, const void* data, std::size_t count, std::uint64_t offset) {
    return writeFully(fd, data, count, &offset);
}

bool readAllAt(int fd, void* into, std::size_t count, std::uint64_t offset) {
    auto* p = static_cast<char*>(into);
    while (count > 0) {
        const ssize_t n = ::pread(fd, p, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        offset += static_cast<std::uint64_t>(n);
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

void adviseSequential(int fd) { ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL); }

}  // namespace fw
