// fwinspect's own messages on standard error: each is one line led by the
// tool's name, so a pipeline's log tells whose message it is.
#pragma once

#include <cstdio>
#include <string>

#include "platform/console_text.h"

namespace fw {

// "fwinspect: " FORMAT "\n" on `err`.
void error(std::FILE* err, const char* format, ...) __attribute__((format(FW_PRINT_FORMAT, 2, 3)));

// "fwinspect: cannot read PATH: WHY", for a package that cannot be opened.
void printCannotRead(std::FILE* err, const std::string& path, const std::string& why);

}  // namespace fw
