#include "platform/random_access.h"

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
    adviseSequential(handle_.get());
    return true;
}

}  // namespace fw
