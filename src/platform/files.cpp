// Buffered input, the same on every system: small reads are served from
// one large buffer, large ones go straight to the caller; opening the input
// and reading a device are steps of OsCalls.
#include "platform/files.h"

#include <algorithm>
#include <cstring>

#include "platform/os_calls.h"

namespace fw {
namespace {

constexpr std::size_t bufferSize = 1 << 18;

}  // namespace

bool unchangedSince(int fd, const FileIdentity& opened, const char* path) {
    FileIdentity now, named;
    OpenedFile again;
    std::string reason;  // gone or changed is all that matters here
    if (!fileIdentityOf(fd, now) || !(now == opened)) return false;
    if (openForReading(path, Shapes::regularOrBlock, again, &reason) != Opening::ok ||
        !fileIdentityOf(again.handle.get(), named))
        return false;
    return named.device == now.device && named.inode == now.inode;
}

bool descriptorIsFile(int fd, const char* path) {
    FileIdentity given, named;
    OpenedFile file;
    std::string reason;  // a path that cannot be opened is no file the descriptor is
    // A pipe or device on Windows has no identity (all zero): it is no file.
    if (!fileIdentityOf(fd, given) || (given.device == 0 && given.inode == 0)) return false;
    if (openForReading(path, Shapes::regularOrBlock, file, &reason) != Opening::ok ||
        !fileIdentityOf(file.handle.get(), named))
        return false;
    return given.device == named.device && given.inode == named.inode;
}

InputProbe probeInput(const char* path) {
    OpenedFile f;
    std::string reason;  // the outcome says all a probe needs
    const Opening opening = openForReading(path, Shapes::anyThatEnds, f, &reason);
    if (opening != Opening::ok) return {opening, false, 0};
    return {opening, f.stream, f.stream ? 0 : f.length};
}

Opening InputFile::open(const char* path, const InputRules& rules) {
    close();
    OpenedFile f;
    bool leased = false;
    const Opening opened = systemCalls().openInput(path, rules.refuseWhileWritten, f, leased);
    if (opened != Opening::ok) return opened;
    handle_ = std::move(f.handle);
    rules_ = rules;
    stream_ = f.stream;
    leased_ = leased;
    size_ = static_cast<std::uint64_t>(f.length);
    begin_ = end_ = 0;
    failed_ = false;
    return Opening::ok;
}

// A lease that is no longer held is being broken: a writer came.
bool InputFile::unwritten() const { return !leased_ || systemCalls().stillLeased(handle_.get()); }

// Reads what is there: for a file up to `count` bytes or its end, for a
// device what one read delivers, waiting at most the idle limit for it.
std::int64_t InputFile::readDirect(void* into, std::size_t count) {
    if (!stream_) return readSome(handle_.get(), into, count);
    return systemCalls().readStream(handle_.get(), into, count, rules_.streamIdleLimit);
}

bool InputFile::refill() {
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(bufferSize);
    const std::int64_t n = readDirect(buffer_.get(), bufferSize);
    if (n < 0) failed_ = true;
    begin_ = 0;
    end_ = n > 0 ? static_cast<std::size_t>(n) : 0;
    return end_ > 0;
}

std::int64_t InputFile::read(void* into, std::size_t count) {
    if (!handle_.valid() || failed_ || !unwritten()) return -1;
    if (begin_ == end_ && count >= bufferSize / 4) {
        const std::int64_t n = readDirect(into, count);
        if (n < 0) failed_ = true;
        return n;
    }
    if (begin_ == end_ && !refill()) return failed_ ? -1 : 0;
    const std::size_t n = std::min(count, end_ - begin_);
    std::memcpy(into, buffer_.get() + begin_, n);
    begin_ += n;
    return static_cast<std::int64_t>(n);
}

}  // namespace fw
