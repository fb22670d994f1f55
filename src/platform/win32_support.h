// What the Win32 files of the platform layer share: descriptors are the C
// runtime's, each over a Win32 handle, so FileHandle owns them as it does
// on POSIX; text is held in UTF-8, as on POSIX, and goes to the wide calls
// converted exactly: nothing is ever turned into a look-alike or a '?'.
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

// UTF-8 to UTF-16 and back, exactly; empty for bytes that are no UTF-8.
std::wstring wide(const std::string& utf8);
std::string narrow(const std::wstring& text);

// A path as every Windows program reads it (GetFullPathNameW: '/' and '\'
// alike, "." and ".." resolved, trailing dots and spaces of a name
// dropped), led by \\?\ so the system takes it as it stands, past
// MAX_PATH too. Empty when the path cannot be read so.
std::wstring osPath(const std::string& path);
// The same full path without the lead, in UTF-8: what a name is made from.
std::string fullPath(const std::string& path);
// Whether a name (with any extension, trailing dots or spaces) is one that
// Win32 maps to a device in every folder: CON, PRN, AUX, NUL, COM1 to
// COM9, LPT1 to LPT9 (also with superscript digits), CONIN$, CONOUT$.
bool isDeviceName(const std::string& name);
// Whether the last name of a path is such a device name.
bool namesDevice(const std::string& path);

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
// Wine tells a handle's path only up to MAX_PATH: the path a file or folder
// was opened by stands in for it past that, kept until the handle closes.
void rememberOpenedPath(HANDLE h, const std::wstring& path);
void forgetOpenedPath(HANDLE h);

bool isSeparator(char c);
// How much of a path is its root: "C:\" 3, "\" or "/" 1, "C:" 2,
// "\\server\share\" up to and with the separator after the share, 0 for none.
std::size_t rootLength(const std::string& path);

// One argument in double quotes, as the C runtime's argv splitter reads it
// back: for command lines the tools print or start.
std::string argvQuoted(const std::string& text);

}  // namespace fw::win32
