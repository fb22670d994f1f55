// The steps of committing an output, by POSIX: symbolic links followed by
// hand, the earlier file's mode and owner taken over by the descriptor.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/folders.h"
#include "platform/os_calls.h"

namespace fw {
namespace {

// What the packer's open for writing would have refused, whoever may make
// files in the folder: the bits, a read-only file system, an immutable file.
bool mayOpenForWriting(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

// Follows symbolic links, including a dangling last one, to the path that
// is to be replaced. False for a loop, or a path the system cannot look
// up (a file used as a folder, a name too long, a folder we may not search).
bool OsCalls::resolveOutput(const std::string& start, std::string& into) const {
    std::string path = start;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) {
            into = path;
            return errno == ENOENT;
        }
        if (!S_ISLNK(st.st_mode)) {
            into = path;
            return true;
        }
        char target[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return false;
        std::string next(target, static_cast<std::size_t>(n));
        path = next.front() == '/' ? next : folderOf(path) + "/" + next;
    }
    return false;
}

// A device is opened here, as the packer always opened its output.
bool OsCalls::examineOutput(const std::string& path, EarlierOutput& into) const {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return false;
        into.mode = newFileMode();
        return true;
    }
    if (S_ISDIR(st.st_mode) || !mayOpenForWriting(path)) return false;
    if (!S_ISREG(st.st_mode)) {
        into.found = OutputFound::device;
        into.device = FileHandle(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
        return true;
    }
    into.found = OutputFound::file;
    into.mode = st.st_mode & 07777;
    into.owner = st.st_uid;
    into.group = st.st_gid;
    return true;
}

// O_PATH: names can be made in a folder we may not list.
FileHandle OsCalls::openOutputFolder(const std::string& path) const {
    return FileHandle(::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

bool OsCalls::openInPlace(const std::string& path, FileHandle& into) const {
    FileHandle fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    into = std::move(fd);
    return true;
}

// Owner first: changing it clears the set-id bits, which the mode then
// restores only on a file whose owner stayed.
// Another owner is kept only where this process may give it (as root),
// the group where this user belongs to it; the mode always is, but for the
// group's rights where the group could not be kept: they would go to ours.
bool OsCalls::takeOver(int fd, const EarlierOutput& earlier) const {
    if (earlier.found != OutputFound::file) return ::fchmod(fd, earlier.mode) == 0;
    const bool owned = ::fchown(fd, earlier.owner, earlier.group) == 0;
    const bool grouped = owned || ::fchown(fd, static_cast<uid_t>(-1), earlier.group) == 0;
    return ::fchmod(fd, owned ? earlier.mode : earlier.mode & (grouped ? 0777 : 0707)) == 0;
}

// Where the file system cannot reserve room, the writes themselves report
// a full disk.
void OsCalls::reserve(int fd, std::uint64_t size) const {
    (void)::posix_fallocate(fd, 0, static_cast<off_t>(size));
}

bool OsCalls::truncate(int fd) const { return ::ftruncate(fd, 0) == 0; }

}  // namespace fw
