// The one door for what the tools print. On POSIX it is fprintf and fputs.
// On Windows a stream that is a console gets the text through WriteConsoleW,
// so every character shows as itself whatever the console's code page;
// a stream that is a file or pipe gets the bytes, UTF-8, as on POSIX.
// Either way a progress line standing on the terminal is wiped first.
#pragma once

#include <cstdio>

namespace fw {

// Checked as the runtime's own fprintf is: MinGW's takes the GNU formats.
#ifdef __MINGW_PRINTF_FORMAT
#define FW_PRINT_FORMAT __MINGW_PRINTF_FORMAT
#else
#define FW_PRINT_FORMAT printf
#endif
int print(std::FILE* to, const char* format, ...) __attribute__((format(FW_PRINT_FORMAT, 2, 3)));
int printText(std::FILE* to, const char* text);

}  // namespace fw
