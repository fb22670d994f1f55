#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_handle.h"

namespace fw {
namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool replaceFileWhole(const std::string& path, const std::vector<std::uint8_t>& bytes, std::string& why) {
    std::string temp = folderOf(path) + "/.fwinspect.XXXXXX";
    FileHandle file(::mkostemp(temp.data(), O_CLOEXEC));
    if (!file.valid()) {
        why = std::strerror(errno);
        return false;
    }
    const bool ok = writeAll(file.get(), bytes.data(), bytes.size()) && ::fchmod(file.get(), newFileMode()) == 0 &&
                    ::fsync(file.get()) == 0 && file.reset() && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        why = std::strerror(errno);
        file.reset();
        ::unlink(temp.c_str());
    }
    return ok;
}

bool readSmallFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes, std::string& why,
                   bool& missing) {
    missing = false;
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    struct stat st {};
    if (!file.valid() || ::fstat(file.get(), &st) != 0) {
        missing = errno == ENOENT;
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        why = "not a regular file";
        return false;
    }
    if (static_cast<std::uint64_t>(st.st_size) > limit) {
        why = "larger than " + std::to_string(limit) + " bytes";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(st.st_size));
    const ssize_t n = readSome(file.get(), bytes.data(), bytes.size());
    if (n < 0 || static_cast<std::size_t>(n) != bytes.size()) {
        why = n < 0 ? std::strerror(errno) : "it changed while read";
        return false;
    }
    return true;
}

}  // namespace fw
