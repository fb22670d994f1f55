// Opening files to read, by POSIX: shapes told by stat, writers seen
// through read leases.
#include "platform/files.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/os_calls.h"

namespace fw {
namespace {

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

// What may be opened only to find out whether it opens: a folder, or a
// socket (whose open always fails). A FIFO is never opened (the open waits
// for a writer, or takes bytes meant for another reader), nor a device a
// caller does not read (opening one may act on it).
bool triedBeforeRefused(mode_t mode) { return S_ISDIR(mode) || S_ISSOCK(mode); }

// File systems whose files report no true size (procfs says 0, sysfs
// 4096): their bytes are known only by reading them to their end.
bool sizeIsMadeUp(int fd) {
    static constexpr long madeUp[] = {0x9fa0 /* proc */,       0x62656572 /* sysfs */,   0x64626720 /* debugfs */,
                                      0x74726163 /* tracefs */, 0x73636673 /* securityfs */, 0x62656570 /* configfs */,
                                      0x27e0eb /* cgroup */,    0x63677270 /* cgroup2 */};
    struct statfs fs {};
    if (::fstatfs(fd, &fs) != 0) return false;
    return std::find(std::begin(madeUp), std::end(madeUp), static_cast<long>(fs.f_type)) != std::end(madeUp);
}

const char* refusal(Shapes accepted, mode_t mode) {
    if (S_ISDIR(mode)) return "is a folder";
    return accepted == Shapes::regular ? "not a regular file" : "not a regular file or block device";
}

// A read lease can only be had while no process holds the file open for
// writing or mapped writable, and the system breaks it when one opens the
// file so. The break is announced by SIGIO, whose default would end the
// run: it is only looked at, never waited for. Set before every lease, not
// once a process: a test program puts back what each test changed.
enum class Lease { held, refused, unavailable };

Lease takeReadLease(int fd) {
    std::signal(SIGIO, SIG_IGN);
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
        *why = reason;
        into.handle.reset();
        return result;
    };
    struct stat st {};
    if (::stat(path, &st) == 0 && !accepts(accepted, st.st_mode) && !triedBeforeRefused(st.st_mode))
        return fail(Opening::notReadable, refusal(accepted, st.st_mode));
    into.handle = FileHandle(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!into.handle.valid()) {
        into.missing = errno == ENOENT;
        return fail(Opening::cannotOpen, std::strerror(errno));
    }
    if (::fstat(into.handle.get(), &st) != 0 || !accepts(accepted, st.st_mode))
        return fail(Opening::notReadable, refusal(accepted, st.st_mode));
    // A file of a made-up size is small: read like a device, to its end.
    const bool madeUp = accepted == Shapes::anyThatEnds && S_ISREG(st.st_mode) && sizeIsMadeUp(into.handle.get());
    into.stream = isStreamDevice(st.st_mode) || madeUp;
    into.regular = S_ISREG(st.st_mode) && !madeUp;
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
        *why = std::strerror(errno);
        return Opening::cannotOpen;
    }
    if (::fstat(into.handle.get(), &st) != 0 || !isStream(st.st_mode)) {
        *why = refusal(Shapes::regular, st.st_mode);
        into.handle.reset();
        return Opening::notReadable;
    }
    into.stream = true;
    return Opening::ok;
}

// A regular file read under `refuseWhileWritten` is leased: one being
// written is refused, and a writer that comes later breaks the lease.
Opening OsCalls::openInput(const char* path, bool refuseWhileWritten, OpenedFile& into, bool& leased) const {
    std::string reason;  // the caller words the outcome for the input's kind
    const Opening opening = openForReading(path, Shapes::anyThatEnds, into, &reason);
    if (opening != Opening::ok) return opening;
    leased = false;
    if (refuseWhileWritten && into.regular) {
        const Lease lease = takeReadLease(into.handle.get());
        if (lease == Lease::refused) {
            into.handle.reset();
            return Opening::notReadable;
        }
        leased = lease == Lease::held;
    }
    ::posix_fadvise(into.handle.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return Opening::ok;
}

// A lease that is no longer a read lease is being broken.
bool OsCalls::stillLeased(int fd) const { return ::fcntl(fd, F_GETLEASE) == F_RDLCK; }

// The device is read without blocking, and polled for at most the idle
// limit whenever it has nothing.
std::int64_t OsCalls::readStream(int fd, void* into, std::size_t count, std::chrono::milliseconds idleLimit) const {
    pollfd p{fd, POLLIN, 0};
    const auto limit = static_cast<int>(std::min<long long>(idleLimit.count(), 1 << 30));
    for (;;) {
        const ssize_t n = ::read(fd, into, count);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno != EAGAIN) return -1;
        int ready = 0;
        do ready = ::poll(&p, 1, limit);
        while (ready < 0 && errno == EINTR);
        if (ready <= 0) return -1;
    }
}

}  // namespace fw
