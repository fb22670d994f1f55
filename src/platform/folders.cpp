#include "platform/folders.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace fw {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

unsigned newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool CreatedFolders::create(const std::string& path, std::string& why) {
    std::vector<std::string> missing;
    std::string at = path;
    while (!at.empty()) {
        struct stat st {};
        if (::stat(at.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                why = "a file that is not a folder is in the way";
                return false;
            }
            break;
        }
        if (errno != ENOENT) {
            why = std::strerror(errno);
            return false;
        }
        missing.push_back(at);
        const auto slash = at.find_last_of('/', at.find_last_not_of('/'));
        if (slash == std::string::npos) break;
        at = at.substr(0, slash);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        if (::mkdir(it->c_str(), 0777) != 0 && errno != EEXIST) {
            why = std::strerror(errno);
            return false;
        }
        created_.push_back(*it);
    }
    return true;
}

void CreatedFolders::removeIfEmpty() {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) ::rmdir(it->c_str());
    created_.clear();
}

FileHandle openFolder(const std::string& path, std::string& why) {
    FileHandle dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) why = std::strerror(errno);
    return dir;
}

bool existsIn(int dirFd, const std::string& name) {
    struct stat st {};
    return ::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

FileHandle createTemporaryIn(int dirFd, std::string& name, std::string& why) {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const mode_t mode = newFileMode();
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = ".fwinspect-";
        for (int i = 0; i < 10; ++i) name += letters[random() % (sizeof letters - 1)];
        FileHandle file(::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (file.valid()) return file;
        if (errno != EEXIST) break;
    }
    why = std::strerror(errno);
    name.clear();
    return FileHandle();
}

void removeIn(int dirFd, const std::string& name) { ::unlinkat(dirFd, name.c_str(), 0); }

bool renameInto(int dirFd, const std::string& from, const std::string& to, bool replace, std::string& why) {
    const unsigned flags = replace ? 0 : RENAME_NOREPLACE;
    if (::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), flags) == 0) return true;
    why = std::strerror(errno);
    return false;
}

}  // namespace fw
