#include "platform/tool_main.h"

#include <cstdio>
#include <string>

#include "platform/console_text.h"
#include "platform/interruption.h"
#include "platform/process_start.h"
#include "platform/progress.h"
#include "platform/standard_streams.h"

namespace fw {

int runTool(int argc, char** argv, const char* tool, int failure, ToolRun run) {
    loadLibrariesOnlyFromSystemAndProgram();
    ProgramArguments arguments(argc, argv);
    if (!prepareStandardStreams() || !arguments.whole()) return failure;
    enableProgressOnTerminal(stderr);
    removeTemporaryFileOnInterrupt();
    const int status = run(arguments.count(), arguments.values());
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        printText(stderr, (std::string(tool) + ": cannot write standard output\n").c_str());
        return failure;
    }
    return status;
}

}  // namespace fw
