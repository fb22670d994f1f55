#include <algorithm>
#include <cstdarg>
#include <string>

#include "platform/console_text.h"
#include "platform/progress.h"
#include "platform/win32_support.h"

namespace fw {
namespace {

HANDLE consoleOf(std::FILE* to) {
    const HANDLE h = win32::handleOf(::_fileno(to));
    DWORD mode = 0;
    return h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) ? h : INVALID_HANDLE_VALUE;
}

// Text that is no UTF-8, or a console that takes nothing, goes out as bytes
// by the runtime's stream, which then holds any error for the caller.
bool toConsole(std::FILE* to, const std::string& text) {
    const HANDLE console = consoleOf(to);
    if (console == INVALID_HANDLE_VALUE) return false;
    const std::wstring wide = win32::wide(text);
    if (wide.empty() != text.empty()) return false;
    std::fflush(to);
    for (std::size_t at = 0; at < wide.size();) {
        DWORD written = 0;
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(wide.size() - at, 8192));
        // Once a piece is out, the rest is not sent again as bytes.
        if (!::WriteConsoleW(console, wide.data() + at, piece, &written, nullptr) || written == 0) return at > 0;
        at += written;
    }
    return true;
}

}  // namespace

int print(std::FILE* to, const char* format, ...) {
    clearProgressLine();
    va_list values;
    va_start(values, format);
    int n = 0;
    if (consoleOf(to) == INVALID_HANDLE_VALUE) {
        n = std::vfprintf(to, format, values);
    } else {
        va_list again;
        va_copy(again, values);
        const int size = std::vsnprintf(nullptr, 0, format, values);
        std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
        if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
        va_end(again);
        n = toConsole(to, text) ? size : std::fputs(text.c_str(), to) < 0 ? -1 : size;
    }
    va_end(values);
    return n;
}

int printText(std::FILE* to, const char* text) {
    clearProgressLine();
    if (toConsole(to, text)) return 0;
    return std::fputs(text, to);
}

}  // namespace fw
