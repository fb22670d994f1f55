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

// Windows: loads the library at the full path `path` with the DLLs it
// imports taken only from its own folder, the system folder and the
// program's folder, never the working folder, and keeps it for the run, so
// that libcrypto's own load of the same path later finds it loaded. POSIX:
// the dynamic loader takes imports from the system's folders already;
// nothing is done. False, with the reason, when it cannot be loaded.
bool keepLibraryLoaded(const std::string& path, std::string* why);

}  // namespace fw
