#include "platform/output_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace fw {
namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Follows symbolic links, including a dangling last one, to the path that
// is to be replaced. Gives up after as many hops as the kernel allows.
std::string followLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0 || static_cast<std::size_t>(n) >= target.size()) return path;
        std::string next(target.data(), static_cast<std::size_t>(n));
        path = next.front() == '/' ? next : folderOf(path) + "/" + next;
    }
    return path;
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool openOutputTarget(const char* path, std::uint64_t expectedSize, OutputTarget& target) {
    target.finalPath = followLinks(path);
    target.tempPath.clear();
    target.failed = false;
    struct stat st {};
    const bool exists = ::stat(target.finalPath.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return false;
    if (exists && !S_ISREG(st.st_mode)) {
        target.file = FileHandle(::open(target.finalPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        return target.file.valid();
    }
    std::string temp = folderOf(target.finalPath) + "/." + baseOf(target.finalPath) + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) return false;
    target.tempPath = temp;
    target.file = FileHandle(fd);
    // Only a hint: where the file system cannot reserve room, the writes
    // themselves report a full disk.
    if (expectedSize > 0) (void)::posix_fallocate(fd, 0, static_cast<off_t>(expectedSize));
    return true;
}

bool OutputTarget::writeAt(std::uint64_t offset, const void* data, std::size_t count) {
    if (!writeAllAt(file.get(), data, count, offset)) failed = true;
    return !failed;
}

bool commitOutputTarget(OutputTarget& target) {
    bool ok = !target.failed;
    if (ok && !target.tempPath.empty()) ok = ::fchmod(target.file.get(), newFileMode()) == 0;
    ok = target.file.reset() && ok;
    if (ok && !target.tempPath.empty())
        ok = ::rename(target.tempPath.c_str(), target.finalPath.c_str()) == 0;
    if (!ok) abandonOutputTarget(target);
    target.tempPath.clear();
    return ok;
}

void abandonOutputTarget(OutputTarget& target) {
    target.file.reset();
    if (!target.tempPath.empty()) ::unlink(target.tempPath.c_str());
    target.tempPath.clear();
}

}  // namespace fw
