#include <cstdarg>

#include "platform/console_text.h"
#include "platform/progress.h"

namespace fw {

int print(std::FILE* to, const char* format, ...) {
    clearProgressLine();
    va_list values;
    va_start(values, format);
    const int n = std::vfprintf(to, format, values);
    va_end(values);
    return n;
}

int printText(std::FILE* to, const char* text) {
    clearProgressLine();
    return std::fputs(text, to);
}

}  // namespace fw
