#include <io.h>

#include <cerrno>

#include "platform/file_handle.h"
#include "platform/win32_support.h"

namespace fw {
namespace {

using win32::handleOf;

// Windows counts 100 ns steps from 1601; counted from 1970, as POSIX
// counts, and in unsigned arithmetic, a time past 2262 wraps rather than
// overflows (from 1601 the product passed 64 bits in 1893).
constexpr std::int64_t from1601To1970 = 116'444'736'000'000'000;
std::int64_t nanosecondsOf(const LARGE_INTEGER& t) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(t.QuadPart - from1601To1970) * 100u);
}

// The one write loop: a short write is retried until every byte is out, at
// the handle's position or, given one, at `offset` (an OVERLAPPED offset on
// a synchronous handle: a positioned write that moves no shared position).
bool writeFully(int fd, const void* data, std::size_t count, const std::uint64_t* offset) {
    const HANDLE h = handleOf(fd);
    const auto* p = static_cast<const char*>(data);
    std::uint64_t at = offset != nullptr ? *offset : 0;
    while (count > 0) {
        const DWORD piece = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD n = 0;
        if (!::WriteFile(h, p, piece, &n, offset != nullptr ? &where : nullptr)) {
            win32::setErrnoFrom(::GetLastError());
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        p += n;
        at += n;
        count -= n;
    }
    return true;
}

}  // namespace

bool FileHandle::reset(int fd) {
    bool ok = true;
    if (fd_ >= 0) {
        win32::forgetOpenedPath(handleOf(fd_));
        ok = ::_close(fd_) == 0;
    }
    fd_ = fd;
    return ok;
}

// A device or pipe has no file index: it is only ever the same as itself.
bool fileIdentityOf(int fd, FileIdentity& into) {
    const HANDLE h = handleOf(fd);
    if (h == INVALID_HANDLE_VALUE) return false;
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        into = FileIdentity{};
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandle(h, &info) ||
        !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
        return false;
    into.device = info.dwVolumeSerialNumber;
    into.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    into.size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    into.modified = nanosecondsOf(basic.LastWriteTime);
    into.changed = nanosecondsOf(basic.ChangeTime);
    const std::int64_t steps = basic.LastWriteTime.QuadPart - from1601To1970;
    into.modifiedSeconds = steps / 10'000'000 - (steps % 10'000'000 < 0);  // floor: before 1970 too
    return true;
}

// A pipe whose writer has gone has ended, as a POSIX pipe reads 0 then.
ssize_t readSome(int fd, void* into, std::size_t count) {
    const HANDLE h = handleOf(fd);
    auto* p = static_cast<char*>(into);
    std::size_t done = 0;
    while (done < count) {
        const std::size_t left = count - done;
        const DWORD piece = left > (1u << 30) ? (1u << 30) : static_cast<DWORD>(left);
        DWORD n = 0;
        if (!::ReadFile(h, p + done, piece, &n, nullptr)) {
            const DWORD error = ::GetLastError();
            if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) break;
            win32::setErrnoFrom(error);
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return static_cast<ssize_t>(done);
}

bool writeAll(int fd, const void* data, std::size_t count) { return writeFully(fd, data, count, nullptr); }

bool writeAllAt(int fd, const void* data, std::size_t count, std::uint64_t offset) {
    return writeFully(fd, data, count, &offset);
}

bool readAllAt(int fd, void* into, std::size_t count, std::uint64_t offset) {
    const HANDLE h = handleOf(fd);
    auto* p = static_cast<char*>(into);
    while (count > 0) {
        const DWORD piece = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(offset);
        where.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD n = 0;
        if (!::ReadFile(h, p, piece, &n, &where)) {
            win32::setErrnoFrom(::GetLastError());
            return false;
        }
        if (n == 0) return false;
        p += n;
        offset += n;
        count -= n;
    }
    return true;
}

// Windows takes the hint when the file is opened (FILE_FLAG_SEQUENTIAL_SCAN).
void adviseSequential(int) {}

}  // namespace fw
