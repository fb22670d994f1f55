#include "platform/output_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/folders.h"
#include "platform/interruption.h"

namespace fw {
namespace {

constexpr const char* temporaryLead = ".fwpack-";

// Follows symbolic links, including a dangling last one, to the path that
// is to be replaced. False for a loop, or a path the system cannot look
// up (a file used as a folder, a name too long, a folder we may not search).
bool followLinks(std::string path, std::string& into) {
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

// A new file in the output's folder, by the one protocol every file the
// tools make follows; a temporary name it stands under is known to the
// interruption handler from the moment it exists.
bool openNew(OutputTarget& t, bool unnamed) {
    InterruptHold hold;
    std::string why;
    FolderFile f;
    if (!createInFolder(t.folder.get(), f, &why, NewFile{temporaryLead, 0600, unnamed})) return false;
    if (!f.tempName.empty()) recordTemporaryName(t.folder.get(), f.tempName.c_str());
    t.file = std::move(f.file);
    t.tempName = f.tempName;
    t.way = t.tempName.empty() ? OutputWay::unnamed : OutputWay::named;
    return true;
}

// As the packer always did where it could not make a file: the output is
// emptied, then written; the package's front comes last, so until the run
// ends whole the file never reads as a package.
bool openInPlace(OutputTarget& t) {
    FileHandle fd(::open(t.finalPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    t.file = std::move(fd);
    t.way = OutputWay::inPlace;
    return true;
}

// Owner first: changing it clears the set-id bits, which the mode then
// restores only on a file whose owner stayed.
void takeOverEarlier(const OutputTarget& t) {
    if (!t.replaces) {
        ::fchmod(t.file.get(), t.mode);
        return;
    }
    const bool owned = ::fchown(t.file.get(), t.owner, t.group) == 0;
    if (!owned) ::fchown(t.file.get(), static_cast<uid_t>(-1), t.group);
    ::fchmod(t.file.get(), owned ? t.mode : t.mode & 0777);
}

// The last word of the system on the bytes written: a failed close (a
// network file system's delayed write) means they may be lost.
bool closeOutput(OutputTarget& t) {
    const bool closed = t.file.reset();
    return closed && !(t.seams != nullptr && t.seams->closeFails);
}

// Rewriting in place gives up the earlier file: if the rewrite does not end
// whole, the file is left empty, never holding a part of a package.
bool closeInPlace(OutputTarget& t) {
    if (closeOutput(t)) return true;
    FileHandle again(::open(t.finalPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW));
    return false;
}

// The finished file takes the output's name; whatever stood there stays
// until then.
bool nameNew(OutputTarget& t) {
    FolderFile f{std::move(t.file), t.tempName, t.seams != nullptr && t.seams->closeFails};
    std::string why;
    const bool named = nameInFolder(t.folder.get(), f, t.finalName, true, &why, temporaryLead);
    clearTemporaryName();
    t.tempName.clear();
    return named;
}

// What the packer's open for writing would have refused, whoever may make
// files in the folder: the bits, a read-only file system, an immutable file.
bool mayOpenForWriting(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

}  // namespace

OutputTarget::~OutputTarget() { abandonOutputTarget(*this); }

bool openOutputTarget(const char* path, std::uint64_t expectedSize, OutputTarget& target, UnnamedFiles unnamed) {
    abandonOutputTarget(target);
    target.failed = false;
    target.replaces = false;
    if (!followLinks(path, target.finalPath)) return false;
    target.finalName = baseOf(target.finalPath);
    if (target.finalName.empty() || target.finalName == "." || target.finalName == "..") return false;
    struct stat st {};
    const bool exists = ::stat(target.finalPath.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return false;
    if (exists && S_ISDIR(st.st_mode)) return false;
    if (exists && !mayOpenForWriting(target.finalPath)) return false;
    if (exists && !S_ISREG(st.st_mode)) {
        target.file = FileHandle(::open(target.finalPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666));
        return target.file.valid();
    }
    target.folder = FileHandle(::open(folderOf(target.finalPath).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!target.folder.valid()) return false;
    target.replaces = exists;
    target.mode = exists ? st.st_mode & 07777 : newFileMode();
    target.owner = exists ? st.st_uid : 0;
    target.group = exists ? st.st_gid : 0;
    const bool newFiles = unnamed != UnnamedFiles::inPlaceOnly;
    const bool opened = (newFiles && openNew(target, unnamed == UnnamedFiles::tryFirst)) ||
                        (exists && openInPlace(target));
    if (!opened) return false;
    // Only a hint: where the file system cannot reserve room, the writes
    // themselves report a full disk.
    if (expectedSize > 0) (void)::posix_fallocate(target.file.get(), 0, static_cast<off_t>(expectedSize));
    return true;
}

bool OutputTarget::writeAt(std::uint64_t offset, const void* data, std::size_t count) {
    if (!writeAllAt(file.get(), data, count, offset)) failed = true;
    return !failed;
}

bool commitOutputTarget(OutputTarget& target) {
    if (!target.file.valid()) return false;
    if (target.failed) {
        abandonOutputTarget(target);
        return false;
    }
    InterruptHold hold;
    keepRunningWhateverComes();
    if (target.seams != nullptr && target.seams->whileNaming) target.seams->whileNaming();
    bool ok = true;
    switch (target.way) {
        case OutputWay::unnamed:
        case OutputWay::named: takeOverEarlier(target); ok = nameNew(target); break;
        case OutputWay::inPlace: ok = closeInPlace(target); break;
        case OutputWay::none: ok = closeOutput(target); break;
    }
    target.way = OutputWay::none;
    target.folder.reset();
    return ok;
}

void abandonOutputTarget(OutputTarget& target) {
    if (target.way == OutputWay::inPlace && target.file.valid()) (void)::ftruncate(target.file.get(), 0);
    target.file.reset();
    if (target.way == OutputWay::named) {
        InterruptHold hold;
        ::unlinkat(target.folder.get(), target.tempName.c_str(), 0);
        clearTemporaryName();
    }
    target.tempName.clear();
    target.way = OutputWay::none;
    target.folder.reset();
}

}  // namespace fw
