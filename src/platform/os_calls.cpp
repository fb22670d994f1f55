// The calls every system makes the same way, through the functions the
// rest of the tools use too.
#include "platform/os_calls.h"

#include <cerrno>
#include <cstring>

#include "platform/folders.h"
#include "platform/new_file.h"

namespace fw {

bool OsCalls::renameInto(int dirFd, const std::string& from, const std::string& to, bool replace,
                         std::string* why) const {
    return fw::renameInto(dirFd, from, to, replace, why);
}

void OsCalls::removeIn(int dirFd, const std::string& name) const { fw::removeIn(dirFd, name); }

bool OsCalls::close(FileHandle& file, std::string* why) const {
    if (file.reset()) return true;
    *why = std::strerror(errno);
    return false;
}

const OsCalls& systemCalls() {
    static const OsCalls calls;
    return calls;
}

}  // namespace fw
