#include "platform/whole_file.h"

#include <cerrno>
#include <cstring>

#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/folders.h"
#include "platform/interruption.h"

namespace fw {

// Signals wait while the file is made, so one never leaves a temporary
// name behind; one that came meanwhile gives the file up before it is
// named, and once naming begins the run's outcome is decided.
bool replaceFileWhole(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string* why) {
    InterruptHold hold;
    const FileHandle folder = openFolder(folderOf(path), why);
    FolderFile file;
    if (!folder.valid() || !createInFolder(folder.get(), file, why)) return false;
    if (!writeAll(file.file.get(), bytes.data(), bytes.size()) || !flushToDisk(file.file.get())) {
        *why = std::strerror(errno);
        discardInFolder(folder.get(), file);
        return false;
    }
    if (interruptPending()) {
        *why = "interrupted";
        discardInFolder(folder.get(), file);
        return false;
    }
    keepRunningWhateverComes();
    return nameInFolder(folder.get(), file, baseOf(path), true, why);
}

bool readSmallFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, std::string* why,
                   bool& missing) {
    OpenedFile file;
    const Opening opening = openForReading(path.c_str(), Shapes::regular, file, why);
    missing = file.missing;
    if (opening != Opening::ok) return false;
    if (static_cast<std::uint64_t>(file.length) > limit) {
        *why = "larger than " + std::to_string(limit) + " bytes";
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

}  // namespace fw
