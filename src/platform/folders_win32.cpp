// Files and folders by Win32's rules, and the steps of naming a file.
// Windows has no file without a name: a new file is made under a short
// temporary name with FILE_FLAG_DELETE_ON_CLOSE, so the system removes it
// when its handle closes, also when the process is killed; it gets its
// final name by a hard link (the temporary name then goes with the
// handle), and a name that is taken is replaced by a second temporary
// link moved over it with MOVEFILE_REPLACE_EXISTING.
#define _CRT_RAND_S
#include <stdlib.h>

#include <fcntl.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/folders.h"
#include "platform/new_file.h"
#include "platform/win32_support.h"

namespace fw {
namespace {

using win32::inFolder;
using win32::wide;

std::string lastReason() { return win32::reasonOf(::GetLastError()); }

std::size_t lastSeparator(const std::string& path) {
    const auto at = path.find_last_of("\\/");
    return at;
}

}  // namespace

std::string folderOf(const std::string& path) {
    const std::size_t root = win32::rootLength(path);
    const std::size_t slash = lastSeparator(path);
    if (slash == std::string::npos || slash < root) return root > 0 ? path.substr(0, root) : ".";
    return path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const std::size_t root = win32::rootLength(path);
    const std::size_t slash = lastSeparator(path);
    if (slash == std::string::npos || slash < root) return path.substr(root);
    return path.substr(slash + 1);
}

// Windows' rules for a file name: the reserved device names stand for the
// device in every folder and with any extension ("nul.txt"), a trailing dot
// or space is dropped from a name as it is created, and the characters
// below cannot be in one. A name holding either separator names a file
// elsewhere.
bool usableFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    for (unsigned char c : name)
        if (c < 0x20 || std::strchr("<>:\"/\\|?*", c) != nullptr) return false;
    if (name.back() == '.' || name.back() == ' ') return false;
    // Bytes that are no UTF-8 text name no file here: names are UTF-16.
    return !win32::isDeviceName(name) && !win32::wide(name).empty();
}

// The file systems of Windows compare names without regard to case.
std::string sameNameKey(const std::string& name) {
    const std::wstring w = wide(name);
    if (w.empty()) return name;
    std::wstring upper(w.size(), L'\0');
    const int n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, w.data(), static_cast<int>(w.size()),
                                  upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
    return n > 0 ? win32::narrow(upper.substr(0, static_cast<std::size_t>(n))) : name;
}

// Windows has no permission bits for a new file to take.
unsigned newFileMode() { return 0666; }

bool CreatedFolders::create(const std::string& path, std::string* why) {
    std::vector<std::string> missing;
    std::string at = path;
    while (!at.empty() && at.size() > win32::rootLength(at)) {
        const DWORD attributes = ::GetFileAttributesW(win32::osPath(at).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                *why = "a file that is not a folder is in the way";
                return false;
            }
            break;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
            *why = win32::reasonOf(error);
            return false;
        }
        missing.push_back(at);
        std::size_t end = at.size();
        while (end > 0 && win32::isSeparator(at[end - 1])) --end;
        const std::size_t slash = at.find_last_of("\\/", end == 0 ? 0 : end - 1);
        if (slash == std::string::npos) break;
        at = at.substr(0, slash < win32::rootLength(at) ? win32::rootLength(at) : slash);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        // One that another run made meanwhile is not this run's to take back.
        if (::CreateDirectoryW(win32::osPath(*it).c_str(), nullptr)) created_.push_back(*it);
        else if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            *why = lastReason();
            return false;
        }
    }
    return true;
}

void CreatedFolders::removeIfEmpty() {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) ::RemoveDirectoryW(win32::osPath(*it).c_str());
    created_.clear();
}

bool nothingAt(const std::string& path) {
    if (::GetFileAttributesW(win32::osPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return false;
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// Held without delete sharing, the folder can be neither removed nor
// renamed while the run makes names in it.
FileHandle openFolder(const std::string& path, std::string* why) {
    const std::wstring opened = win32::osPath(path);
    const HANDLE h = ::CreateFileW(opened.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *why = lastReason();
        return FileHandle();
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::CloseHandle(h);
        *why = std::strerror(ENOTDIR);
        return FileHandle();
    }
    FileHandle dir(win32::adopt(h, _O_RDONLY));
    if (!dir.valid()) *why = std::strerror(errno);
    else win32::rememberOpenedPath(h, opened);
    return dir;
}

void removeIn(int dirFd, const std::string& name) { ::DeleteFileW(inFolder(dirFd, name).c_str()); }

std::string shortTemporaryName(const char* lead) {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static std::atomic<unsigned> counter{0};
    std::string name = lead;
    for (int i = 0; i < 10; ++i) {
        unsigned int x = 0;
        if (::rand_s(&x) != 0) x = static_cast<unsigned>(::GetTickCount64()) * 2654435761u + ++counter * 40503u;
        name += letters[x % 36];
    }
    return name;
}

// The file is linked by the path its handle stands under.
bool OsCalls::linkUnnamed(int fd, int dirFd, const std::string& name) const {
    const std::wstring from = win32::pathOfHandle(win32::handleOf(fd));
    if (from.empty()) {
        win32::setErrnoFrom(::GetLastError());
        return false;
    }
    if (::CreateHardLinkW(inFolder(dirFd, name).c_str(), from.c_str(), nullptr)) return true;
    win32::setErrnoFrom(::GetLastError());
    return false;
}

// Delete sharing lets the hard link and the final move act on the file
// while this handle holds it. A vanishing file is removed by the system
// when its handle closes; where the file system refuses delete-on-close
// for another reason than a folder we may not write, a plain temporary
// name must do.
OsCalls::Creation OsCalls::createFile(int dirFd, const std::string& name, unsigned, bool vanishing, FileHandle& into,
                                      std::string* why) const {
    const std::wstring path = inFolder(dirFd, name);
    const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                   FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | (vanishing ? FILE_FLAG_DELETE_ON_CLOSE : 0), nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        *why = win32::reasonOf(error);
        win32::setErrnoFrom(error);
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return Creation::nameTaken;
        const bool hopeless = !vanishing || error == ERROR_ACCESS_DENIED || error == ERROR_PATH_NOT_FOUND;
        return hopeless ? Creation::failed : Creation::unavailable;
    }
    into = FileHandle(win32::adopt(h, _O_RDWR));
    if (into.valid()) {
        win32::rememberOpenedPath(h, path);
        return Creation::made;
    }
    *why = std::strerror(errno);
    return Creation::failed;
}

// Windows has no write-back to start by hand: its cache writes behind on
// its own.
void OsCalls::startWriteBack(int) const {}

// A console or a pipe has nothing to keep.
bool OsCalls::flushFile(int fd, std::string* why) const {
    if (::FlushFileBuffers(win32::handleOf(fd))) return true;
    const DWORD error = ::GetLastError();
    if (error == ERROR_INVALID_HANDLE || error == ERROR_INVALID_FUNCTION) return true;
    *why = win32::reasonOf(error);
    return false;
}

// NTFS keeps a name's change in its own log, which it writes out itself;
// a folder's handle cannot be flushed without write access, which the
// tools never ask for.
bool OsCalls::flushFolder(int, std::string*) const { return true; }

// Windows has no single call that swaps two names: the swap is three
// moves through a third name, undone as far as it got when one fails.
bool exchangeNames(int dirFd, const std::string& a, const std::string& b, std::string* why) {
    const std::string parked = shortTemporaryName(".fwinspect-");
    const std::wstring wa = inFolder(dirFd, a), wb = inFolder(dirFd, b), wp = inFolder(dirFd, parked);
    if (!::MoveFileExW(wb.c_str(), wp.c_str(), 0)) {
        *why = lastReason();
        return false;
    }
    if (!::MoveFileExW(wa.c_str(), wb.c_str(), 0)) {
        *why = lastReason();
        ::MoveFileExW(wp.c_str(), wb.c_str(), 0);
        return false;
    }
    if (!::MoveFileExW(wp.c_str(), wa.c_str(), 0)) {
        *why = lastReason();
        ::MoveFileExW(wb.c_str(), wa.c_str(), 0);
        ::MoveFileExW(wp.c_str(), wb.c_str(), 0);
        return false;
    }
    return true;
}

// GetFileAttributes looks at a link itself, never at its target.
EntryKind entryKindIn(int dirFd, const std::string& name) {
    const DWORD attributes = ::GetFileAttributesW(inFolder(dirFd, name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::none;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? EntryKind::replaceable : EntryKind::other;
}

bool renameInto(int dirFd, const std::string& from, const std::string& to, bool replace, std::string* why) {
    if (::MoveFileExW(inFolder(dirFd, from).c_str(), inFolder(dirFd, to).c_str(),
                      replace ? MOVEFILE_REPLACE_EXISTING : 0))
        return true;
    *why = lastReason();
    return false;
}

}  // namespace fw
