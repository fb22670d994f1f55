// The package's way to its name on Windows: a delete-on-close file in the
// output's folder, which the system removes if the process dies; when whole,
// a hard link gives it the output's name, or, where a file stands there, a
// temporary link is moved over it with MOVEFILE_REPLACE_EXISTING. The
// earlier output stays as it was until that move.
#include <fcntl.h>
#include <io.h>

#include <string>

#include "platform/folders.h"
#include "platform/interruption.h"
#include "platform/output_target.h"
#include "platform/win32_support.h"

namespace fw {
namespace {

constexpr const char* temporaryLead = ".fwpack-";
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// What of the earlier file's attributes the new package takes over.
constexpr DWORD keptAttributes = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                 FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// A symbolic link or junction in the path is followed: the package
// replaces what it points at, and the link stays. The path is read first as
// every Windows program reads it, so "x.update." names x.update.
std::string finalPathOf(const std::string& typed) {
    const std::string path = win32::fullPath(typed);
    const HANDLE h = ::CreateFileW(win32::osPath(path).c_str(), 0, shareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return path;
    std::wstring final = win32::pathOfHandle(h);
    ::CloseHandle(h);
    if (final.empty()) return path;
    // \\?\C:\x reads as C:\x, \\?\UNC\server\share as \\server\share.
    if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) final = L"\\\\" + final.substr(8);
    else if (final.rfind(L"\\\\?\\", 0) == 0) final = final.substr(4);
    return win32::narrow(final);
}

bool openNew(OutputTarget& t, bool unnamed) {
    InterruptHold hold;
    std::string why;
    FolderFile f;
    if (!createInFolder(t.folder.get(), f, &why, NewFile{temporaryLead, 0, unnamed})) return false;
    if (!f.tempName.empty()) recordTemporaryName(t.folder.get(), f.tempName.c_str());
    t.file = std::move(f.file);
    t.tempName = f.tempName;
    t.way = t.tempName.empty() ? OutputWay::unnamed : OutputWay::named;
    return true;
}

// As the packer always did where it could not make a file: the output is
// emptied, then written; the package's front comes last.
bool openInPlace(OutputTarget& t) {
    const HANDLE h = ::CreateFileW(win32::osPath(t.finalPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    t.file = FileHandle(win32::adopt(h, _O_WRONLY));
    if (!t.file.valid()) return false;
    t.way = OutputWay::inPlace;
    return true;
}

void takeOverEarlier(const OutputTarget& t) {
    if (!t.replaces) return;
    FILE_BASIC_INFO basic{};
    const HANDLE h = win32::handleOf(t.file.get());
    if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) return;
    basic.FileAttributes = (basic.FileAttributes & ~keptAttributes) | (t.mode & keptAttributes);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic);
}

bool closeOutput(OutputTarget& t) {
    const bool closed = t.file.reset();
    return closed && !(t.seams != nullptr && t.seams->closeFails);
}

bool closeInPlace(OutputTarget& t) {
    if (closeOutput(t)) return true;
    const HANDLE h = ::CreateFileW(win32::osPath(t.finalPath).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    return false;
}

bool nameNew(OutputTarget& t) {
    FolderFile f{std::move(t.file), t.tempName, t.seams != nullptr && t.seams->closeFails};
    std::string why;
    const bool named = nameInFolder(t.folder.get(), f, t.finalName, true, &why, temporaryLead);
    clearTemporaryName();
    t.tempName.clear();
    return named;
}

// A preallocation is only a hint: where the file system cannot reserve the
// room, the writes themselves report a full disk.
void reserve(int fd, std::uint64_t size) {
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    ::SetFileInformationByHandle(win32::handleOf(fd), FileAllocationInfo, &room, sizeof room);
}

}  // namespace

OutputTarget::~OutputTarget() { abandonOutputTarget(*this); }

// An existing output is opened for writing once, as the packer's open
// would have: a read-only file, one we have no right to write, or one
// another program holds without write sharing is refused, whoever may
// make files in the folder. A device is refused, whatever its spelling.
bool openOutputTarget(const char* path, std::uint64_t expectedSize, OutputTarget& target, UnnamedFiles unnamed) {
    abandonOutputTarget(target);
    target.failed = false;
    target.replaces = false;
    // Only a disk file is an output: NUL would swallow the package and
    // report success, COM1 could hang the run.
    if (win32::namesDevice(path)) return false;
    target.finalPath = finalPathOf(path);
    target.finalName = baseOf(target.finalPath);
    if (target.finalName.empty() || target.finalName == "." || target.finalName == "..") return false;
    const std::wstring w = win32::osPath(target.finalPath);
    // Windows refuses to open a read-only file for writing; said here too,
    // so no privilege that lets the open through changes the answer.
    const DWORD before = ::GetFileAttributesW(w.c_str());
    if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_READONLY) != 0) return false;
    const HANDLE existing = ::CreateFileW(w.c_str(), GENERIC_WRITE, shareAll, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool exists = existing != INVALID_HANDLE_VALUE;
    if (!exists && ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    const bool disk = !exists || ::GetFileType(existing) == FILE_TYPE_DISK;
    if (exists) ::CloseHandle(existing);
    if (!disk) return false;
    std::string why;
    target.folder = openFolder(folderOf(target.finalPath), &why);
    if (!target.folder.valid()) return false;
    target.replaces = exists;
    target.mode = exists ? ::GetFileAttributesW(w.c_str()) : 0;
    if (target.mode == INVALID_FILE_ATTRIBUTES) target.mode = 0;
    target.owner = target.group = 0;
    const bool newFiles = unnamed != UnnamedFiles::inPlaceOnly;
    const bool opened = (newFiles && openNew(target, unnamed == UnnamedFiles::tryFirst)) ||
                        (exists && openInPlace(target));
    if (!opened) return false;
    if (expectedSize > 0) reserve(target.file.get(), expectedSize);
    return true;
}

bool OutputTarget::writeAt(std::uint64_t offset, const void* data, std::size_t count) {
    if (!writeAllAt(file.get(), data, count, offset)) failed = true;
    return !failed;
}

bool commitOutputTarget(OutputTarget& target) {
    if (!target.file.valid()) return false;
    if (target.failed) {
        abandonOutputTarget(target);
        return false;
    }
    InterruptHold hold;
    keepRunningWhateverComes();
    if (target.seams != nullptr && target.seams->whileNaming) target.seams->whileNaming();
    bool ok = true;
    switch (target.way) {
        case OutputWay::unnamed:
        case OutputWay::named: takeOverEarlier(target); ok = nameNew(target); break;
        case OutputWay::inPlace: ok = closeInPlace(target); break;
        case OutputWay::none: ok = closeOutput(target); break;
    }
    target.way = OutputWay::none;
    target.folder.reset();
    return ok;
}

void abandonOutputTarget(OutputTarget& target) {
    if (target.way == OutputWay::inPlace && target.file.valid()) (void)::_chsize_s(target.file.get(), 0);
    target.file.reset();
    if (target.way == OutputWay::named) {
        InterruptHold hold;
        removeIn(target.folder.get(), target.tempName);
        clearTemporaryName();
    }
    target.tempName.clear();
    target.way = OutputWay::none;
    target.folder.reset();
}

}  // namespace fw
