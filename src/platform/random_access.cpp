#include "platform/random_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace fw {

bool RandomAccessFile::open(const char* path, std::string* why) {
    auto fail = [&](const char* reason) {
        if (why != nullptr) *why = reason;
        handle_.reset();
        return false;
    };
    struct stat st {};
    if (::stat(path, &st) != 0) return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
        return fail(S_ISDIR(st.st_mode) ? "is a folder" : "not a regular file or block device");
    handle_ = FileHandle(::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!handle_.valid()) return fail(std::strerror(errno));
    if (::fstat(handle_.get(), &st) != 0) return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) return fail("not a regular file or block device");
    const off_t end = S_ISREG(st.st_mode) ? st.st_size : ::lseek(handle_.get(), 0, SEEK_END);
    if (end < 0) return fail(std::strerror(errno));
    size_ = static_cast<std::uint64_t>(end);
    ::posix_fadvise(handle_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

}  // namespace fw
