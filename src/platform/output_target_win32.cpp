// The steps of committing an output, by Win32. The new package is a
// delete-on-close file in the output's folder, which the system removes if
// the process dies; when whole, a hard link gives it the output's name,
// or, where a file stands there, a temporary link is moved over it with
// MOVEFILE_REPLACE_EXISTING. The earlier output stays as it was until that
// move.
#include <fcntl.h>
#include <io.h>

#include <string>

#include "platform/folders.h"
#include "platform/os_calls.h"
#include "platform/win32_support.h"

namespace fw {
namespace {

constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What of the earlier file's attributes the new package takes over.
constexpr DWORD keptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                 FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

// A symbolic link or junction in the path is followed: the package
// replaces what it points at, and the link stays. The path is read first as
// every Windows program reads it, so "x.update." names x.update. Only a
// disk file is an output: a device name (NUL would swallow the package and
// report success, COM1 could hang the run) is refused whatever its folder.
bool OsCalls::resolveOutput(const std::string& typed, std::string& into) const {
    if (win32::namesDevice(typed)) return false;
    const std::string path = win32::fullPath(typed);
    into = path;
    const HANDLE h = ::CreateFileW(win32::osPath(path).c_str(), 0, shareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return true;
    std::wstring final = win32::pathOfHandle(h);
    ::CloseHandle(h);
    if (final.empty()) return true;
    // \\?\C:\x reads as C:\x, \\?\UNC\server\share as \\server\share.
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) final = L"\\\\" + final.substr(8);
    else if (final.rfind(L"\\\\?\\", 0) == 0) final = final.substr(4);
    into = win32::narrow(final);
    return true;
}

// An existing output is opened for writing once, as the packer's open
// would have: a read-only file, one we have no right to write, or one
// another program holds without write sharing is refused, whoever may
// make files in the folder. A device reached by another spelling is
// refused too.
bool OsCalls::examineOutput(const std::string& path, EarlierOutput& into) const {
    const std::wstring w = win32::osPath(path);
    // Windows refuses to open a read-only file for writing; said here too,
    // so no privilege that lets the open through changes the answer.
    const DWORD before = ::GetFileAttributesW(w.c_str());
    if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_READONLY) != 0) return false;
    const HANDLE existing = ::CreateFileW(w.c_str(), GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool exists = existing != INVALID_HANDLE_VALUE;
    if (!exists && ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    if (!exists) return true;
    const bool disk = ::GetFileType(existing) == FILE_TYPE_DISK;
    ::CloseHandle(existing);
    if (!disk) return false;
    into.found = OutputFound::file;
    into.mode = ::GetFileAttributesW(w.c_str());
    if (into.mode == INVALID_FILE_ATTRIBUTES) into.mode = 0;
    return true;
}

FileHandle OsCalls::openOutputFolder(const std::string& path) const {
    std::string why;
    return openFolder(path, &why);
}

bool OsCalls::openInPlace(const std::string& path, FileHandle& into) const {
    const HANDLE h = ::CreateFileW(win32::osPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    into = FileHandle(win32::adopt(h, _O_WRONLY));
    return into.valid();
}

bool OsCalls::takeOver(int fd, const EarlierOutput& earlier) const {
    if (earlier.found != OutputFound::file) return true;
    FILE_BASIC_INFO basic{};
    const HANDLE h = win32::handleOf(fd);
    if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) return false;
    basic.FileAttributes = (basic.FileAttributes & ~keptAttributes) | (earlier.mode & keptAttributes);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Where the file system cannot reserve the room, the writes themselves
// report a full disk.
void OsCalls::reserve(int fd, std::uint64_t size) const {
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    ::SetFileInformationByHandle(win32::handleOf(fd), FileAllocationInfo, &room, sizeof room);
}

bool OsCalls::truncate(int fd) const { return ::_chsize_s(fd, 0) == 0; }

}  // namespace fw
