// What the Win32 files of the platform layer share: descriptors are the C
// runtime's, each over a Win32 handle, so FileHandle owns them as it does
// on POSIX; paths arrive in the ANSI code page, as the narrow main() hands
// them over, and go to the wide calls converted from it.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

namespace fw::win32 {

std::wstring wide(const std::string& ansi);
std::string narrow(const std::wstring& text);

// The Win32 handle behind a descriptor; INVALID_HANDLE_VALUE when none.
HANDLE handleOf(int fd);
// A descriptor that owns `h` from now on; -1 (and `h` closed) when the C
// runtime has no room for it.
int adopt(HANDLE h, int flags);

// Sets errno to the nearest POSIX meaning of a Win32 error, so messages read
// as they do on Linux ("No such file or directory").
void setErrnoFrom(DWORD error);
// The reason in the system's words: the C runtime's text where the error has
// a POSIX meaning, else Windows' own.
std::string reasonOf(DWORD error);

// The folder a descriptor holds open, as a path the wide calls take.
std::wstring folderPathOf(int dirFd);
std::wstring inFolder(int dirFd, const std::string& name);
// The path a file's handle stands under now.
std::wstring pathOfHandle(HANDLE h);

bool isSeparator(char c);
// How much of a path is its root: "C:\" 3, "\" or "/" 1, "C:" 2,
// "\\server\share\" up to and with the separator after the share, 0 for none.
std::size_t rootLength(const std::string& path);

// One argument in double quotes, as the C runtime's argv splitter reads it
// back: for command lines the tools print or start.
std::string argvQuoted(const std::string& text);

}  // namespace fw::win32
