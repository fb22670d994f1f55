// Code a tool loads while it runs (OpenSSL's engine for PKCS#11 tokens, and
// the token's module) comes from a file the user named by its full path, or
// from beside the program, or from the system's own folders: never from
// the working folder, nor from a path fixed when the program was built,
// which on Windows lands on whatever drive is current.
#pragma once

#include <string>

namespace fw {

// True where a program's own libraries stand beside it (Windows, which has
// no system folder for OpenSSL's engines); false where the system keeps
// them in folders only root writes (libcrypto's engines folder on Linux).
bool librariesBesideProgram();

// The running program's folder, ending in its separator; empty when the
// system does not tell.
std::string programFolder();

// A path that names one file wherever the program runs: "/x" on POSIX,
// "C:\x" or "\\server\share\x" on Windows, but not "x", "\x" or "C:x",
// which depend on the current folder or drive.
bool isFullPath(const std::string& path);

// Loads the library at the full path `path` and keeps it for the run, so
// that the later load of the same path by libcrypto or the engine finds it
// loaded, and a file that cannot be loaded is told in one line here rather
// than on standard error by the engine. On Windows the DLLs it imports come
// only from its own folder, the system folder and the program's folder,
// never the working folder; on POSIX the dynamic loader takes them from the
// system's folders already. False, with the reason, when it cannot be loaded.
bool keepLibraryLoaded(const std::string& path, std::string* why);

}  // namespace fw
