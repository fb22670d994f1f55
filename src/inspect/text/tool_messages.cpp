#include "inspect/text/tool_messages.h"

#include <cstdarg>
#include <vector>

#include "inspect/text/plain_text.h"

namespace fw {

void error(std::FILE* err, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::vector<char> text(length > 0 ? static_cast<std::size_t>(length) + 1 : 1);
    if (length > 0) std::vsnprintf(text.data(), text.size(), format, again);
    va_end(again);
    print(err, "fwinspect: %s\n", text.data());
}

void printCannotRead(std::FILE* err, const std::string& path, const std::string& why) {
    error(err, "cannot read %s: %s", escapePath(path).c_str(), why.c_str());
}

}  // namespace fw
