// Files and folders by POSIX's rules, and the steps of naming a file.
#include "platform/folders.h"
#include "platform/new_file.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <atomic>
#include <climits>
#include <ctime>

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

bool usableFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

std::string sameNameKey(const std::string& name) { return name; }

unsigned newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool CreatedFolders::create(const std::string& path, std::string* why) {
    std::vector<std::string> missing;
    std::string at = path;
    while (!at.empty()) {
        struct stat st {};
        if (::stat(at.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                *why = "a file that is not a folder is in the way";
                return false;
            }
            break;
        }
        if (errno != ENOENT) {
            *why = std::strerror(errno);
            return false;
        }
        missing.push_back(at);
        const auto slash = at.find_last_of('/', at.find_last_not_of('/'));
        if (slash == std::string::npos) break;
        at = at.substr(0, slash);
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        // One that another run made meanwhile is not this run's to take back.
        if (::mkdir(it->c_str(), 0777) == 0) created_.push_back(*it);
        else if (errno != EEXIST) {
            *why = std::strerror(errno);
            return false;
        }
    }
    return true;
}

void CreatedFolders::removeIfEmpty() {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) ::rmdir(it->c_str());
    created_.clear();
}

bool nothingAt(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) != 0 && errno == ENOENT;
}

FileHandle openFolder(const std::string& path, std::string* why) {
    FileHandle dir(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) *why = std::strerror(errno);
    return dir;
}

void removeIn(int dirFd, const std::string& name) { ::unlinkat(dirFd, name.c_str(), 0); }

std::string shortTemporaryName(const char* lead) {
    static constexpr char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[10];
    if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        static std::atomic<unsigned> counter{0};
        timespec now {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        unsigned long long x = static_cast<unsigned long long>(now.tv_nsec) ^
                               (static_cast<unsigned long long>(::getpid()) << 32) ^ ++counter;
        for (unsigned char& b : bytes) {
            x = x * 6364136223846793005ull + 1442695040888963407ull;
            b = static_cast<unsigned char>(x >> 56);
        }
    }
    std::string name = lead;
    for (unsigned char b : bytes) name += letters[b % 36];
    return name;
}

namespace {

bool canLinkUnnamed(int fd) {
    if (::geteuid() == 0) return true;
    char seen[PATH_MAX];
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    return ::readlink(proc.c_str(), seen, sizeof seen) >= 0;
}

}  // namespace

// Only a process that may look files up by descriptor links one directly;
// every other goes through /proc.
bool OsCalls::linkUnnamed(int fd, int dirFd, const std::string& name) const {
    if (::linkat(fd, "", dirFd, name.c_str(), AT_EMPTY_PATH) == 0) return true;
    if (errno == EEXIST) return false;
    const std::string proc = "/proc/self/fd/" + std::to_string(fd);
    return ::linkat(AT_FDCWD, proc.c_str(), dirFd, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
}

// A vanishing file has no name (O_TMPFILE); it is no use where this
// process could not name it later.
OsCalls::Creation OsCalls::createFile(int dirFd, const std::string& name, unsigned mode, bool vanishing,
                                      FileHandle& into, std::string* why) const {
    if (vanishing) {
        into = FileHandle(::openat(dirFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, static_cast<mode_t>(mode)));
        if (into.valid() && canLinkUnnamed(into.get())) return Creation::made;
        *why = std::strerror(errno);
        into.reset();
        return Creation::unavailable;
    }
    into = FileHandle(
        ::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode)));
    if (into.valid()) return Creation::made;
    const int error = errno;
    *why = std::strerror(error);
    return error == EEXIST ? Creation::nameTaken : Creation::failed;
}

// Whole file: the writer's pieces land in any order, and pages already
// on their way are not waited for.
void OsCalls::startWriteBack(int fd) const { (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE); }

// fsync rather than fdatasync: the mode and owner a package takes over are
// set before it is named and must survive with its bytes. A pipe or a
// terminal (EINVAL, EROFS) has nothing to keep.
bool OsCalls::flushFile(int fd, std::string* why) const {
    if (::fsync(fd) == 0 || errno == EINVAL || errno == EROFS) return true;
    *why = std::strerror(errno);
    return false;
}

// The folder may be held by O_PATH, which fsync refuses; it is opened
// again to be read. A folder this process may write but not read cannot be
// flushed by it: its names reach the disk with the file system's own
// write-back.
bool OsCalls::flushFolder(int dirFd, std::string* why) const {
    const FileHandle folder(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid()) return true;
    if (::fsync(folder.get()) == 0 || errno == EINVAL) return true;
    *why = std::strerror(errno);
    return false;
}

bool exchangeNames(int dirFd, const std::string& a, const std::string& b, std::string* why) {
    if (::renameat2(dirFd, a.c_str(), dirFd, b.c_str(), RENAME_EXCHANGE) == 0) return true;
    *why = std::strerror(errno);
    return false;
}

EntryKind entryKindIn(int dirFd, const std::string& name) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return EntryKind::none;
    return S_ISREG(st.st_mode) || S_ISLNK(st.st_mode) ? EntryKind::replaceable : EntryKind::other;
}

bool renameInto(int dirFd, const std::string& from, const std::string& to, bool replace, std::string* why) {
    const unsigned flags = replace ? 0 : RENAME_NOREPLACE;
    if (::renameat2(dirFd, from.c_str(), dirFd, to.c_str(), flags) == 0) return true;
    *why = std::strerror(errno);
    return false;
}

}  // namespace fw
