#include "platform/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace fw {
namespace {

bool isClosed(int fd) { return ::fcntl(fd, F_GETFD) < 0 && errno == EBADF; }

// The lowest free number is the one asked for, as every lower one is open.
bool openNullOn(int fd) {
    const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened == fd) return true;
    if (opened >= 0) ::close(opened);
    return false;
}

bool outputWasClosed = false;

}  // namespace

bool standardOutputWasClosed() { return outputWasClosed; }

bool prepareStandardStreams() {
    outputWasClosed = isClosed(1);
    for (int fd = 0; fd <= 2; ++fd)
        if (isClosed(fd) && !openNullOn(fd)) return false;
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    return true;
}

}  // namespace fw
