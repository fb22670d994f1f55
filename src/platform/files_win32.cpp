// Opening files to read, by Win32: shapes told by the handle's type,
// writers kept out by the share mode.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstring>

#include "platform/files.h"
#include "platform/os_calls.h"
#include "platform/win32_support.h"

namespace fw {
namespace {


constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Readers and deleters may come, writers may not: a process holding the
// file open for writing makes the open fail, and none can open it so
// while it is read. Deleting or renaming stays allowed, as the handle keeps
// the bytes it opened.
constexpr DWORD shareNoWriters = FILE_SHARE_READ | FILE_SHARE_DELETE;

// A named pipe is never opened: connecting takes one of its server's
// instances, and what it hands out could not be read a second time.
bool namesPipe(const std::string& path) {
    if (path.size() < 9 || !win32::isSeparator(path[0]) || !win32::isSeparator(path[1]) ||
        (path[2] != '.' && path[2] != '?') || !win32::isSeparator(path[3]))
        return false;
    std::string device = path.substr(4, 5);
    for (char& c : device) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return device == "pipe\\" || device == "pipe/";
}

const char* refusalFor(Shapes accepted) {
    return accepted == Shapes::regular ? "not a regular file" : "not a regular file or block device";
}

Opening openShared(const char* path, Shapes accepted, DWORD share, OpenedFile& into, std::string* why,
                   DWORD* failure = nullptr) {
    auto fail = [&](Opening result, const std::string& reason) {
        *why = reason;
        into.handle.reset();
        return result;
    };
    if (namesPipe(path) || win32::namesDevice(path)) return fail(Opening::notReadable, refusalFor(accepted));
    const std::wstring w = win32::osPath(path);
    const DWORD attributes = ::GetFileAttributesW(w.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return fail(Opening::notReadable, "is a folder");
    const HANDLE h = ::CreateFileW(w.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (failure != nullptr) *failure = error;
        into.missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        return fail(Opening::cannotOpen, win32::reasonOf(error));
    }
    into.handle = FileHandle(win32::adopt(h, _O_RDONLY));
    if (!into.handle.valid()) return fail(Opening::cannotOpen, std::strerror(errno));
    // Only a disk file is an input: a device reached by another spelling
    // (\\.\COM1) may never end or may hang the read.
    into.regular = ::GetFileType(h) == FILE_TYPE_DISK;
    if (!into.regular) return fail(Opening::notReadable, refusalFor(accepted));
    into.length = 0;
    if (into.regular) {
        LARGE_INTEGER size{};
        if (!::GetFileSizeEx(h, &size)) return fail(Opening::notReadable, win32::reasonOf(::GetLastError()));
        into.length = size.QuadPart;
    }
    return Opening::ok;
}

bool fileIdOf(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
    const HANDLE h = ::CreateFileW(win32::osPath(path).c_str(), 0, shareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = ::GetFileInformationByHandle(h, &info) != 0;
    ::CloseHandle(h);
    return ok;
}

bool isConsole(HANDLE h) {
    DWORD mode = 0;
    return ::GetConsoleMode(h, &mode) != 0;
}

}  // namespace

// As the Windows runtime's _access(path, 0) tells it: existence only. A
// device name exists there in every folder; it is refused when opened, so
// the run says so instead of leaving the input out.
bool fileExists(const char* path) {
    return win32::namesDevice(path) || ::GetFileAttributesW(win32::osPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool sameFile(const char* a, const char* b) {
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    if (!fileIdOf(a, ia) || !fileIdOf(b, ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

Opening openForReading(const char* path, Shapes accepted, OpenedFile& into, std::string* why) {
    return openShared(path, accepted, shareAll, into, why);
}

// A named pipe is read to its end; anything else must be a regular file.
Opening openWholeInput(const char* path, OpenedFile& into, std::string* why) {
    if (!namesPipe(path)) return openShared(path, Shapes::regular, shareAll, into, why);
    const HANDLE h = ::CreateFileW(win32::osPath(path).c_str(), GENERIC_READ, shareAll, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        into.missing = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        *why = win32::reasonOf(error);
        return Opening::cannotOpen;
    }
    into.handle = FileHandle(win32::adopt(h, _O_RDONLY));
    if (!into.handle.valid()) {
        *why = std::strerror(errno);
        return Opening::cannotOpen;
    }
    into.stream = true;
    return Opening::ok;
}

// Under `refuseWhileWritten` the file is opened without write sharing: a
// writer that has it open makes the open fail with a sharing violation,
// and a writer that comes later cannot open it until it is closed here.
Opening OsCalls::openInput(const char* path, bool refuseWhileWritten, OpenedFile& into, bool& leased) const {
    leased = false;
    DWORD failure = 0;
    std::string unused;  // the caller tells the outcome by the Opening alone
    const Opening opening =
        openShared(path, Shapes::anyThatEnds, refuseWhileWritten ? shareNoWriters : shareAll, into, &unused, &failure);
    if (opening == Opening::ok) return Opening::ok;
    const bool beingWritten = failure == ERROR_SHARING_VIOLATION || failure == ERROR_LOCK_VIOLATION;
    return opening == Opening::cannotOpen && !beingWritten ? Opening::cannotOpen : Opening::notReadable;
}

// No file is leased: the share mode keeps writers out instead.
bool OsCalls::stillLeased(int) const { return true; }

// What one read delivers: a console hands over a line. A console is the
// one character device that can stay silent: it is waited on, at most the
// idle limit, before each read. Other devices (NUL) answer at once.
std::int64_t OsCalls::readStream(int fd, void* into, std::size_t count, std::chrono::milliseconds idleLimit) const {
    const HANDLE h = win32::handleOf(fd);
    const auto limit = static_cast<DWORD>(std::min<long long>(idleLimit.count(), 1 << 30));
    if (isConsole(h) && ::WaitForSingleObject(h, limit) != WAIT_OBJECT_0) return -1;
    DWORD n = 0;
    const DWORD piece = count > (1u << 30) ? (1u << 30) : static_cast<DWORD>(count);
    if (::ReadFile(h, into, piece, &n, nullptr)) return n;
    return ::GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
}

}  // namespace fw
