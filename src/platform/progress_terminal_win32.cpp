#include <io.h>

#include <cstdio>

#include "platform/progress.h"
#include "platform/win32_support.h"

namespace fw {

// A console, not any character device (NUL counts as one for _isatty). The
// line is redrawn and cleared with the terminal sequences of Windows 10's
// console, which it interprets once asked to; where it cannot be asked,
// progress stays off rather than print the sequences as text.
void enableProgressOnTerminal(std::FILE* stream) {
    const HANDLE h = win32::handleOf(::_fileno(stream));
    DWORD mode = 0;
    const bool console = h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) != 0;
    const bool sequences =
        console && ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
                    ::SetConsoleMode(h, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0);
    setProgressStream(sequences ? stream : nullptr);
}

}  // namespace fw
