#include "platform/win32_support.h"

#include "platform/utf16.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace fw::win32 {

std::wstring wide(const std::string& utf8) {
    std::u16string text;
    if (!utf16FromUtf8(utf8, text)) return {};
    return std::wstring(text.begin(), text.end());
}

std::string narrow(const std::wstring& text) { return utf8FromUtf16(std::u16string(text.begin(), text.end())); }

namespace {

bool startsWith(const std::wstring& text, const wchar_t* lead) { return text.rfind(lead, 0) == 0; }

// GetFullPathNameW's answer; it reads paths of any length.
std::wstring fullWide(const std::string& path) {
    const std::wstring w = wide(path);
    if (w.empty()) return {};
    std::wstring full(MAX_PATH + 1, L'\0');
    for (;;) {
        const DWORD n = ::GetFullPathNameW(w.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (n == 0) return {};
        if (n < full.size()) return full.substr(0, n);
        full.resize(n + 1);
    }
}

}  // namespace

std::wstring osPath(const std::string& path) {
    const std::wstring full = fullWide(path);
    // Already in the system's own namespaces: \\?\ and devices (\\.\).
    if (full.empty() || startsWith(full, L"\\\\?\\") || startsWith(full, L"\\\\.\\")) return full;
    if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string fullPath(const std::string& path) {
    const std::wstring full = fullWide(path);
    return full.empty() ? path : narrow(full);
}

bool isDeviceName(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '.')) stem.pop_back();
    for (char& c : stem) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    for (const char* d : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (stem == d) return true;
    // COM1 to COM9 and LPT1 to LPT9, also with the superscript digits.
    if (stem.size() < 4 || (stem.compare(0, 3, "COM") != 0 && stem.compare(0, 3, "LPT") != 0)) return false;
    const std::string digit = stem.substr(3);
    return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\u00b9" || digit == "\u00b2" ||
           digit == "\u00b3";
}

bool namesDevice(const std::string& path) {
    std::size_t end = path.size();
    while (end > 0 && (path[end - 1] == ' ' || path[end - 1] == '.')) --end;
    const std::size_t slash = path.find_last_of("\\/:", end == 0 ? 0 : end - 1);
    const std::size_t begin = slash == std::string::npos || slash >= end ? 0 : slash + 1;
    return isDeviceName(path.substr(begin, end - begin));
}

HANDLE handleOf(int fd) {
    if (fd < 0) return INVALID_HANDLE_VALUE;
    const intptr_t h = ::_get_osfhandle(fd);
    return h == -1 || h == -2 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(h);
}

int adopt(HANDLE h, int flags) {
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) ::CloseHandle(h);
    return fd;
}

namespace {

int errnoOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME: return ENOENT;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_CANNOT_MAKE: return EACCES;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: return EEXIST;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return ENOSPC;
        case ERROR_DIRECTORY: return ENOTDIR;
        case ERROR_DIR_NOT_EMPTY: return ENOTEMPTY;
        case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
        case ERROR_BROKEN_PIPE:
        case ERROR_NO_DATA: return EPIPE;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: return ENOMEM;
        case ERROR_INVALID_HANDLE: return EBADF;
        case ERROR_NOT_SAME_DEVICE: return EXDEV;
        case ERROR_INVALID_NAME: return EINVAL;
        default: return 0;
    }
}

}  // namespace

void setErrnoFrom(DWORD error) {
    const int e = errnoOf(error);
    errno = e != 0 ? e : EIO;
}

std::string reasonOf(DWORD error) {
    if (const int e = errnoOf(error); e != 0) return std::strerror(e);
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason = n > 0 && text != nullptr ? narrow(std::wstring(text, n)) : "error " + std::to_string(error);
    if (text != nullptr) ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ' ||
                               reason.back() == '.'))
        reason.pop_back();
    return reason;
}

namespace {

std::mutex openedLock;
std::map<HANDLE, std::wstring> openedPaths;

std::wstring openedPathOf(HANDLE h) {
    const std::lock_guard<std::mutex> hold(openedLock);
    const auto at = openedPaths.find(h);
    return at == openedPaths.end() ? std::wstring() : at->second;
}

}  // namespace

void rememberOpenedPath(HANDLE h, const std::wstring& path) {
    const std::lock_guard<std::mutex> hold(openedLock);
    openedPaths[h] = path;
}

void forgetOpenedPath(HANDLE h) {
    const std::lock_guard<std::mutex> hold(openedLock);
    openedPaths.erase(h);
}

// A buffer too small is answered with the size it needs, as documented;
// Wine answers ERROR_MORE_DATA past MAX_PATH whatever the buffer.
std::wstring pathOfHandle(HANDLE h) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return openedPathOf(h);
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(n + 1);
    }
}

std::wstring folderPathOf(int dirFd) { return pathOfHandle(handleOf(dirFd)); }

// Empty when the folder's path cannot be told: the bare name would be
// taken in the working folder instead.
std::wstring inFolder(int dirFd, const std::string& name) {
    std::wstring path = folderPathOf(dirFd);
    const std::wstring inside = wide(name);
    if (path.empty() || inside.empty()) return {};
    if (path.back() != L'\\') path += L'\\';
    return path + inside;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::size_t rootLength(const std::string& path) {
    const std::size_t n = path.size();
    if (n >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        // \\server\share\ : the server, then the share, each up to a separator.
        std::size_t at = 2;
        for (int part = 0; part < 2; ++part) {
            while (at < n && !isSeparator(path[at])) ++at;
            if (at < n) ++at;
        }
        return at;
    }
    if (n >= 2 && path[1] == ':') return n >= 3 && isSeparator(path[2]) ? 3 : 2;
    return n >= 1 && isSeparator(path[0]) ? 1 : 0;
}

// The argument as the C runtime's argv splitter reads it back.
std::string argvQuoted(const std::string& text) {
    std::string out = "\"";
    std::size_t slashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        out.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
        slashes = 0;
        out += c;
    }
    out.append(2 * slashes, '\\');
    return out + "\"";
}

}  // namespace fw::win32
