#include "platform/folders.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fw {

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

bool renameInto(int dirFd, const std::string& from, const std::string& to, bool replace) {
    const unsigned flags = replace ? 0 : RENAME_NOREPLACE;
    return ::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), flags) == 0;
}

}  // namespace fw
