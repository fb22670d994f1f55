#include <unistd.h>

#include "platform/progress.h"

namespace fw {

void enableProgressOnTerminal(std::FILE* stream) { setProgressStream(::isatty(::fileno(stream)) ? stream : nullptr); }

}  // namespace fw
