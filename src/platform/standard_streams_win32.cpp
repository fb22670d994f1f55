#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/standard_streams.h"
#include "platform/win32_support.h"

namespace fw {
namespace {

// Whether the descriptor has a handle to an object behind it. The caller
// may have given the process none (NULL in its STARTUPINFO), or a value
// that names nothing, the way a closed descriptor reaches a program started
// from a POSIX shell (Wine): the system then refuses the handle itself.
bool isClosed(int fd) {
    const HANDLE h = win32::handleOf(fd);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) return true;
    ::SetLastError(NO_ERROR);
    return ::GetFileType(h) == FILE_TYPE_UNKNOWN && ::GetLastError() == ERROR_INVALID_HANDLE;
}

// A closed descriptor gets the NUL device, so no file the run opens can
// take its place.
bool openNulOn(int fd) {
    if (!isClosed(fd)) return true;
    const HANDLE h = ::CreateFileW(L"NUL", fd == 0 ? GENERIC_READ : GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const int opened = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), fd == 0 ? _O_RDONLY : _O_WRONLY);
    if (opened < 0) {
        ::CloseHandle(h);
        return false;
    }
    const bool ok = opened == fd || ::_dup2(opened, fd) == 0;
    if (opened != fd) ::_close(opened);
    if (ok) ::SetStdHandle(fd == 0 ? STD_INPUT_HANDLE : fd == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE,
                           win32::handleOf(fd));
    return ok;
}

// The runtime's stream for a descriptor that had no handle when the
// process started keeps no descriptor at all (_fileno -2), so every write
// to it fails even once the descriptor is open. msvcrt's freopen refuses
// such a stream; its FILE is public, and is given the descriptor back.
bool streamOnDescriptor(int fd) {
    std::FILE* const stream = fd == 0 ? stdin : fd == 1 ? stdout : stderr;
    if (::_fileno(stream) >= 0) return true;
#ifdef _UCRT
    return std::freopen("NUL", fd == 0 ? "r" : "w", stream) != nullptr;
#else
    stream->_file = fd;
    std::clearerr(stream);
    return true;
#endif
}

bool outputWasClosed = false;

}  // namespace

bool standardOutputWasClosed() { return outputWasClosed; }

// Standard output stays in text mode, so lines end in CR LF as in every
// console program. The Windows runtime has no line buffering (_IOLBF acts
// as full buffering there), so it is unbuffered: each print is written out
// when it is made, and a run that is ended keeps its log.
bool prepareStandardStreams() {
    outputWasClosed = isClosed(1);
    for (int fd = 0; fd <= 2; ++fd)
        if (!openNulOn(fd) || !streamOnDescriptor(fd)) return false;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return true;
}

}  // namespace fw
