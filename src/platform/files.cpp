#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fw {
namespace {

constexpr std::size_t bufferSize = 1 << 18;

bool writeAll(int fd, const std::uint8_t* data, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

ssize_t readSome(int fd, void* into, std::size_t count) {
    for (;;) {
        const ssize_t n = ::read(fd, into, count);
        if (n >= 0 || errno != EINTR) return n;
    }
}

}  // namespace

bool fileExists(const char* path) { return ::access(path, F_OK) == 0; }

bool sameFile(const char* a, const char* b) {
    struct stat sa {}, sb {};
    if (::stat(a, &sa) != 0 || ::stat(b, &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

InputFile::~InputFile() { close(); }

bool InputFile::open(const char* path) {
    close();
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    struct stat st {};
    size_ = ::fstat(fd_, &st) == 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    path_ = path;
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    begin_ = end_ = 0;
    failed_ = false;
    return true;
}

bool InputFile::refill() {
    const ssize_t n = readSome(fd_, buffer_.get(), bufferSize);
    if (n < 0) failed_ = true;
    begin_ = 0;
    end_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    return end_ > 0;
}

std::int64_t InputFile::read(void* into, std::size_t count) {
    if (fd_ < 0 || failed_) return -1;
    if (begin_ == end_ && count >= bufferSize) {
        const ssize_t n = readSome(fd_, into, count);
        if (n < 0) failed_ = true;
        return n;
    }
    if (begin_ == end_ && !refill()) return failed_ ? -1 : 0;
    const std::size_t n = std::min(count, end_ - begin_);
    std::memcpy(into, buffer_.get() + begin_, n);
    begin_ += n;
    return static_cast<std::int64_t>(n);
}

void InputFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

WriteBehind::WriteBehind(int fd) : fd_(fd), thread_([this] { run(); }) {}

WriteBehind::~WriteBehind() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void WriteBehind::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return busy_ || stopping_; });
        if (!busy_) return;
        lock.unlock();
        const bool ok = writeAll(fd_, buffer_.get(), count_);
        lock.lock();
        failed_ = failed_ || !ok;
        busy_ = false;
        changed_.notify_all();
    }
}

std::unique_ptr<std::uint8_t[]> WriteBehind::submit(std::unique_ptr<std::uint8_t[]> buffer, std::size_t count) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    std::swap(buffer, buffer_);
    count_ = count;
    busy_ = true;
    changed_.notify_all();
    return buffer;
}

bool WriteBehind::drain() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    return !failed_;
}

OutputFile::~OutputFile() {
    behind_.reset();
    if (fd_ >= 0) ::close(fd_);
}

void OutputFile::adopt(int fd) {
    fd_ = fd;
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    behind_.reset();
    used_ = 0;
    position_ = 0;
    failed_ = fd < 0;
}

// A full buffer goes to the writing thread; anything else is written here,
// after whatever that thread still holds.
bool OutputFile::writeOut() {
    if (used_ == bufferSize) {
        if (!behind_) behind_ = std::make_unique<WriteBehind>(fd_);
        buffer_ = behind_->submit(std::move(buffer_), used_);
        if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    } else if (used_ > 0 && !(behind_ && !behind_->drain()) && !writeAll(fd_, buffer_.get(), used_)) {
        failed_ = true;
    }
    used_ = 0;
    return !failed_;
}

bool OutputFile::flush() {
    if (failed_) return false;
    if (!writeOut() || (behind_ && !behind_->drain())) failed_ = true;
    return !failed_;
}

bool OutputFile::write(const void* data, std::size_t count) {
    if (failed_) return false;
    const auto* in = static_cast<const std::uint8_t*>(data);
    position_ += count;
    while (count > 0) {
        const std::size_t n = std::min(count, bufferSize - used_);
        std::memcpy(buffer_.get() + used_, in, n);
        used_ += n;
        in += n;
        count -= n;
        if (used_ == bufferSize && !writeOut()) return false;
    }
    return true;
}

bool OutputFile::writeZeros(std::uint64_t count) {
    static constexpr std::uint8_t zeros[4096] = {};
    while (count > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof zeros));
        if (!write(zeros, n)) return false;
        count -= n;
    }
    return !failed_;
}

bool OutputFile::seek(std::uint64_t offset) {
    if (!flush()) return false;
    if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) failed_ = true;
    position_ = offset;
    return !failed_;
}

bool OutputFile::close() {
    const bool flushed = fd_ < 0 || flush();
    behind_.reset();
    const bool closed = fd_ < 0 || ::close(fd_) == 0;
    fd_ = -1;
    return flushed && closed;
}

}  // namespace fw
