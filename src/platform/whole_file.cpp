#include "platform/whole_file.h"

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/new_file.h"
#include "platform/interruption.h"

namespace fw {

namespace {

// The system's calls, noting a temporary name that stayed when it was to
// be removed, so the run can say where it stands.
class NotingLeftover : public OsCalls {
public:
    void removeIn(int dirFd, const std::string& name) const override {
        OsCalls::removeIn(dirFd, name);
        if (entryKindIn(dirFd, name) != EntryKind::none) leftover = name;
    }
    mutable std::string leftover;
};

}  // namespace

// Signals wait while the file is made, so one never leaves a temporary
// name behind; one that came meanwhile gives the file up before it is
// named, and once naming begins the run's outcome is decided.
bool replaceFileWhole(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string* why,
                      std::string* leftover) {
    InterruptHold hold;
    // Through a link to its target, as a package output is: the link stays.
    std::string target;
    if (!systemCalls().resolveOutput(path, target)) {
        *why = "its symbolic links cannot be followed to a file";
        return false;
    }
    const FileHandle folder = openFolder(folderOf(target), why);
    // A device, FIFO or folder at the name is no file to replace: renaming
    // over /dev/null, as root, would put a file in the device's place.
    if (folder.valid() && entryKindIn(folder.get(), baseOf(target)) == EntryKind::other) {
        *why = "it is not a regular file";
        return false;
    }
    NotingLeftover calls;
    FolderFile file;
    file.os = &calls;
    bool ok = folder.valid() && createInFolder(folder.get(), file, why);
    if (ok && !writeAll(file.file.get(), bytes.data(), bytes.size())) {
        *why = std::strerror(errno);
        ok = false;
    } else if (ok && interruptPending()) {
        *why = "interrupted";
        ok = false;
    }
    if (ok) {
        keepRunningWhateverComes();
        ok = nameInFolder(folder.get(), file, baseOf(target), true, why);
    } else if (folder.valid()) {
        discardInFolder(folder.get(), file);
    }
    if (!calls.leftover.empty() && leftover != nullptr) *leftover = folderOf(target) + "/" + calls.leftover;
    return ok;
}

namespace {

std::string tooLarge(std::size_t limit) { return "larger than " + std::to_string(limit) + " bytes"; }

bool readSized(const OpenedFile& file, std::size_t limit, std::vector<std::uint8_t>& bytes, std::string* why) {
    if (static_cast<std::uint64_t>(file.length) > limit) {
        *why = tooLarge(limit);
        return false;
    }
    bytes.resize(static_cast<std::size_t>(file.length));
    const ssize_t n = readSome(file.handle.get(), bytes.data(), bytes.size());
    if (n < 0 || static_cast<std::size_t>(n) != bytes.size()) {
        *why = n < 0 ? std::strerror(errno) : "it changed while read";
        return false;
    }
    return true;
}

// A stream has no length to check first: it is read until it ends or
// passes the limit.
bool readStream(const OpenedFile& file, std::size_t limit, std::vector<std::uint8_t>& bytes, std::string* why) {
    constexpr std::size_t piece = 64 << 10;
    bytes.clear();
    for (;;) {
        const std::size_t at = bytes.size();
        bytes.resize(at + piece);
        const ssize_t n = readSome(file.handle.get(), bytes.data() + at, piece);
        if (n < 0) {
            *why = std::strerror(errno);
            return false;
        }
        bytes.resize(at + static_cast<std::size_t>(n));
        if (bytes.size() > limit) {
            *why = tooLarge(limit);
            return false;
        }
        if (static_cast<std::size_t>(n) < piece) return true;
    }
}

}  // namespace

bool readSmallFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, std::string* why,
                   bool& missing) {
    OpenedFile file;
    const Opening opening = openForReading(path.c_str(), Shapes::regular, file, why);
    missing = file.missing;
    return opening == Opening::ok && readSized(file, limit, bytes, why);
}

bool readSmallInput(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, std::string* why,
                    bool& missing) {
    OpenedFile file;
    const Opening opening = openWholeInput(path.c_str(), file, why);
    missing = file.missing;
    if (opening != Opening::ok) return false;
    return file.stream ? readStream(file, limit, bytes, why) : readSized(file, limit, bytes, why);
}

bool readInPieces(const std::string& path, const std::function<bool(const std::uint8_t*, std::size_t)>& take,
                  std::string* why) {
    OpenedFile file;
    FileIdentity opened;
    if (openForReading(path.c_str(), Shapes::regular, file, why) != Opening::ok) return false;
    fileIdentityOf(file.handle.get(), opened);
    constexpr std::size_t piece = 1 << 16;
    const auto buffer = std::make_unique<std::uint8_t[]>(piece);
    for (ssize_t n; (n = readSome(file.handle.get(), buffer.get(), piece)) != 0;) {
        if (n < 0) {
            *why = std::strerror(errno);
            return false;
        }
        if (!take(buffer.get(), static_cast<std::size_t>(n))) return true;
    }
    if (unchangedSince(file.handle.get(), opened, path.c_str())) return true;
    *why = "it changed while it was read, or its path now names another file";
    return false;
}

}  // namespace fw
