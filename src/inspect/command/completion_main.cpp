// Writes fwinspect's bash completion to standard output, for the build to
// install: the script is made from the same table the parser reads.
#include <cstdio>

#include "inspect/command/completion.h"

int main() {
    const std::string script = fw::completionScript();
    return std::fwrite(script.data(), 1, script.size(), stdout) == script.size() && std::fflush(stdout) == 0 ? 0 : 1;
}
