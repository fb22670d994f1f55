#include "platform/tool_main.h"

#include <cstdio>

#include "platform/console_text.h"
#include "platform/interruption.h"
#include "platform/process_start.h"
#include "platform/progress.h"
#include "platform/standard_streams.h"

namespace fw {

int runToolMain(int argc, char** argv, const ToolMain& tool) {
    loadLibrariesOnlyFromSystemAndProgram();
    ProgramArguments arguments(argc, argv);
    if (!prepareStandardStreams() || !arguments.whole()) return tool.failure;
    enableProgressOnTerminal(stderr);
    removeTemporaryFileOnInterrupt();
    const int status = tool.run(arguments.count(), arguments.values());
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        print(stderr, "%s: cannot write standard output\n", tool.name);
        return tool.failure;
    }
    return status;
}

}  // namespace fw
