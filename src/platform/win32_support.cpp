#include "platform/win32_support.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace fw::win32 {

std::wstring wide(const std::string& ansi) {
    if (ansi.empty()) return {};
    const int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), out.data(), n);
    return out;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
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
    char* text = nullptr;
    const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = n > 0 && text != nullptr ? std::string(text, n) : "error " + std::to_string(error);
    if (text != nullptr) ::LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ' ||
                               reason.back() == '.'))
        reason.pop_back();
    return reason;
}

std::wstring pathOfHandle(HANDLE h) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    for (;;) {
        const DWORD n = ::GetFinalPathNameByHandleW(h, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                    FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return {};
        if (n < buffer.size()) return std::wstring(buffer.data(), n);
        buffer.resize(n + 1);
    }
}

std::wstring folderPathOf(int dirFd) { return pathOfHandle(handleOf(dirFd)); }

std::wstring inFolder(int dirFd, const std::string& name) {
    std::wstring path = folderPathOf(dirFd);
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path + wide(name);
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
