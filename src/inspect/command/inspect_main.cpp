#include <cstdio>

#include "inspect/command/inspect_command.h"
#include "inspect/text/tool_messages.h"
#include "platform/interruption.h"
#include "platform/process_start.h"
#include "platform/progress.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
    fw::loadLibrariesOnlyFromSystemAndProgram();
    fw::ProgramArguments arguments(argc, argv);
    if (!fw::prepareStandardStreams() || !arguments.whole()) return 2;
    fw::enableProgressOnTerminal(stderr);
    fw::removeTemporaryFileOnInterrupt();
    const int status = fw::runInspector(arguments.count(), arguments.values());
    // A report that did not reach its reader (a full disk, a pipe nobody
    // reads) is no report: said where it can still be read.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        fw::error(stderr, "cannot write standard output");
        return 2;
    }
    return status;
}
