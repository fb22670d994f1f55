#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fw {
namespace {

constexpr std::size_t bufferSize = 1 << 18;

bool isStreamDevice(mode_t mode) { return S_ISCHR(mode); }
bool isReadableShape(mode_t mode) { return S_ISREG(mode) || S_ISBLK(mode) || S_ISCHR(mode); }

// A block device reports no size through stat; its end does.
std::int64_t lengthOf(int fd, const struct stat& st) {
    if (S_ISREG(st.st_mode)) return st.st_size;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    ::lseek(fd, 0, SEEK_SET);
    return end;
}

enum class Opening { ok, cannotOpen, notReadable };

// Only shapes that end are kept. A FIFO or socket is refused before it is
// opened, and the open does not block, so one that appears at the path in
// between cannot hang the run either.
Opening openReadable(const char* path, FileHandle& fd, struct stat& st) {
    if (::stat(path, &st) == 0 && !isReadableShape(st.st_mode)) return Opening::notReadable;
    fd = FileHandle(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid()) return Opening::cannotOpen;
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (::fstat(fd.get(), &st) != 0 || !isReadableShape(st.st_mode) || flags < 0 ||
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        fd.reset();
        return Opening::notReadable;
    }
    return Opening::ok;
}

}  // namespace

bool fileExists(const char* path) { return ::access(path, F_OK) == 0; }

bool sameFile(const char* a, const char* b) {
    struct stat sa {}, sb {};
    if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

InputProbe probeInput(const char* path) {
    struct stat st {};
    FileHandle fd;
    if (openReadable(path, fd, st) != Opening::ok) return {};
    if (isStreamDevice(st.st_mode)) return {InputShape::stream, 0};
    const std::int64_t length = lengthOf(fd.get(), st);
    if (length < 0) return {};
    return {InputShape::sized, length};
}

InputFile::Opened InputFile::open(const char* path) {
    close();
    struct stat st {};
    const Opening opening = openReadable(path, handle_, st);
    if (opening != Opening::ok) return opening == Opening::cannotOpen ? Opened::cannotOpen : Opened::cannotRead;
    ::posix_fadvise(handle_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    size_ = isStreamDevice(st.st_mode) ? 0 : static_cast<std::uint64_t>(std::max<std::int64_t>(lengthOf(handle_.get(), st), 0));
    path_ = path;
    begin_ = end_ = 0;
    failed_ = false;
    return Opened::ok;
}

bool InputFile::refill() {
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    const ssize_t n = ::read(handle_.get(), buffer_.get(), bufferSize);
    if (n < 0 && errno == EINTR) return refill();
    if (n < 0) failed_ = true;
    begin_ = 0;
    end_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    return end_ > 0;
}

std::int64_t InputFile::read(void* into, std::size_t count) {
    if (!handle_.valid() || failed_) return -1;
    if (begin_ == end_ && count >= bufferSize / 4) {
        const ssize_t n = readSome(handle_.get(), into, count);
        if (n < 0) failed_ = true;
        return n;
    }
    if (begin_ == end_ && !refill()) return failed_ ? -1 : 0;
    const std::size_t n = std::min(count, end_ - begin_);
    std::memcpy(into, buffer_.get() + begin_, n);
    begin_ += n;
    return static_cast<std::int64_t>(n);
}

}  // namespace fw
