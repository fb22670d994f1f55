#include "platform/loaded_code.h"

#include <dlfcn.h>
#include <unistd.h>

#include <vector>

namespace fw {

bool librariesBesideProgram() { return false; }

std::string programFolder() {
    std::vector<char> path(4096);
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return "";
    const std::string self(path.data(), static_cast<std::size_t>(n));
    return self.substr(0, self.rfind('/') + 1);
}

bool isFullPath(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool keepLibraryLoaded(const std::string& path, std::string* why) {
    // Never closed, as on Windows; the loader finds imports in the system's folders.
    if (::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL) != nullptr) return true;
    const char* reason = ::dlerror();
    *why = reason != nullptr ? reason : "cannot be loaded";
    return false;
}

}  // namespace fw
