#include "platform/files.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>

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

bool setNonBlocking(int fd, bool on) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

bool accepts(Shapes accepted, mode_t mode) {
    switch (accepted) {
        case Shapes::regular: return S_ISREG(mode);
        case Shapes::regularOrBlock: return S_ISREG(mode) || S_ISBLK(mode);
        case Shapes::anyThatEnds: return isReadableShape(mode);
    }
    return false;
}

const char* refusal(Shapes accepted, mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder";
    return accepted == Shapes::regular ? "not a regular file" : "not a regular file or block device";
}

// A read lease can only be had while no process holds the file open for
// writing or mapped writable, and the system breaks it when one opens the
// file so. The break is announced by SIGIO, whose default would end the
// run: it is only looked at, never waited for.
enum class Lease { held, refused, unavailable };

Lease takeReadLease(int fd) {
    static std::once_flag quietBreaks;
    std::call_once(quietBreaks, [] { std::signal(SIGIO, SIG_IGN); });
    if (::fcntl(fd, F_SETLEASE, F_RDLCK) == 0) return Lease::held;
    // EAGAIN: a writer has it open. Anything else (not the file's owner,
    // leases turned off, a file system without them): no way to tell.
    return errno == EAGAIN ? Lease::refused : Lease::unavailable;
}

}  // namespace

bool fileExists(const char* path) { return ::access(path, F_OK) == 0; }

bool sameFile(const char* a, const char* b) {
    struct stat sa {}, sb {};
    if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

Opening openForReading(const char* path, Shapes accepted, OpenedFile& into, std::string* why) {
    auto fail = [&](Opening result, const char* reason) {
        if (why != nullptr) *why = reason;
        into.handle.reset();
        return result;
    };
    struct stat st {};
    if (::stat(path, &st) == 0 && !accepts(accepted, st.st_mode))
        return fail(Opening::notReadable, refusal(accepted, st.st_mode));
    into.handle = FileHandle(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!into.handle.valid()) {
        into.missing = errno == ENOENT;
        return fail(Opening::cannotOpen, std::strerror(errno));
    }
    if (::fstat(into.handle.get(), &st) != 0 || !accepts(accepted, st.st_mode))
        return fail(Opening::notReadable, refusal(accepted, st.st_mode));
    into.stream = isStreamDevice(st.st_mode);
    into.regular = S_ISREG(st.st_mode);
    into.length = into.stream ? 0 : lengthOf(into.handle.get(), st);
    if (into.length < 0) return fail(Opening::notReadable, std::strerror(errno));
    if (!setNonBlocking(into.handle.get(), into.stream)) return fail(Opening::notReadable, std::strerror(errno));
    return Opening::ok;
}

Opening openWholeInput(const char* path, OpenedFile& into, std::string* why) {
    const auto isStream = [](mode_t mode) { return S_ISFIFO(mode) || S_ISCHR(mode); };
    struct stat st {};
    if (::stat(path, &st) != 0 || !isStream(st.st_mode)) return openForReading(path, Shapes::regular, into, why);
    into.handle = FileHandle(::open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!into.handle.valid()) {
        into.missing = errno == ENOENT;
        if (why != nullptr) *why = std::strerror(errno);
        return Opening::cannotOpen;
    }
    if (::fstat(into.handle.get(), &st) != 0 || !isStream(st.st_mode)) {
        if (why != nullptr) *why = refusal(Shapes::regular, st.st_mode);
        into.handle.reset();
        return Opening::notReadable;
    }
    into.stream = true;
    return Opening::ok;
}

InputProbe probeInput(const char* path) {
    OpenedFile f;
    const Opening opening = openForReading(path, Shapes::anyThatEnds, f);
    if (opening != Opening::ok) return {opening == Opening::cannotOpen ? InputShape::cannotOpen : InputShape::unreadable, 0};
    if (f.stream) return {InputShape::stream, 0};
    return {InputShape::sized, f.length};
}

InputFile::Opened InputFile::open(const char* path, const InputRules& rules) {
    close();
    OpenedFile f;
    const Opening opening = openForReading(path, Shapes::anyThatEnds, f);
    if (opening != Opening::ok) return opening == Opening::cannotOpen ? Opened::cannotOpen : Opened::cannotRead;
    handle_ = std::move(f.handle);
    rules_ = rules;
    stream_ = f.stream;
    leased_ = false;
    if (rules.refuseWhileWritten && f.regular) {
        const Lease lease = takeReadLease(handle_.get());
        if (lease == Lease::refused) {
            handle_.reset();
            return Opened::cannotRead;
        }
        leased_ = lease == Lease::held;
    }
    ::posix_fadvise(handle_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    size_ = static_cast<std::uint64_t>(f.length);
    path_ = path;
    begin_ = end_ = 0;
    failed_ = false;
    return Opened::ok;
}

// A lease that is no longer a read lease is being broken: a writer came.
bool InputFile::unwritten() const { return !leased_ || ::fcntl(handle_.get(), F_GETLEASE) == F_RDLCK; }

// For a device: true once a byte can be read, false after the idle limit.
bool InputFile::waitForBytes() const {
    pollfd p{handle_.get(), POLLIN, 0};
    const auto limit = static_cast<int>(std::min<long long>(rules_.streamIdleLimit.count(), 1 << 30));
    for (;;) {
        const int n = ::poll(&p, 1, limit);
        if (n < 0 && errno == EINTR) continue;
        return n > 0;
    }
}

// Reads what is there: for a file up to `count` bytes or its end, for a
// device what one read delivers, waiting at most the idle limit for it.
std::int64_t InputFile::readDirect(void* into, std::size_t count) {
    if (!stream_) return readSome(handle_.get(), into, count);
    for (;;) {
        const ssize_t n = ::read(handle_.get(), into, count);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno != EAGAIN || !waitForBytes()) return -1;
    }
}

bool InputFile::refill() {
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    const std::int64_t n = readDirect(buffer_.get(), bufferSize);
    if (n < 0) failed_ = true;
    begin_ = 0;
    end_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    return end_ > 0;
}

std::int64_t InputFile::read(void* into, std::size_t count) {
    if (!handle_.valid() || failed_ || !unwritten()) return -1;
    if (begin_ == end_ && count >= bufferSize / 4) {
        const std::int64_t n = readDirect(into, count);
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
