#include "platform/random_access.h"

#include <fcntl.h>

#include "platform/files.h"

namespace fw {

bool RandomAccessFile::open(const char* path, std::string* why) {
    OpenedFile f;
    if (openForReading(path, Shapes::regularOrBlock, f, why) != Opening::ok) {
        handle_.reset();
        return false;
    }
    handle_ = std::move(f.handle);
    size_ = static_cast<std::uint64_t>(f.length);
    ::posix_fadvise(handle_.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return true;
}

}  // namespace fw
