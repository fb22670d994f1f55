#include <cstdio>

#include "inspect/inspect_command.h"
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
    return fw::runInspector(arguments.count(), arguments.values());
}
