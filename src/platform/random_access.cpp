#include "platform/random_access.h"

#include <cerrno>
#include <cstring>

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
    fileIdentityOf(handle_.get(), opened_);
    return true;
}

bool RandomAccessFile::readAt(std::uint64_t offset, void* into, std::size_t count, std::string* why) const {
    errno = 0;
    if (readAllAt(handle_.get(), into, count, offset)) return true;
    if (errno != 0 && offset + count <= size_) *why = std::strerror(errno);
    return false;
}

bool RandomAccessFile::unchangedAt(const char* path) const { return unchangedSince(handle_.get(), opened_, path); }

}  // namespace fw
