#include "inspect/text/tool_messages.h"

#include "inspect/text/plain_text.h"
#include "platform/console_text.h"

namespace fw {

void printCannotRead(std::FILE* err, const std::string& path, const std::string& why) {
    print(err, "fwinspect: cannot read %s: %s\n", escapePath(path).c_str(), why.c_str());
}

}  // namespace fw
