#include <cstdio>

#include "inspect/inspect_command.h"
#include "platform/interruption.h"
#include "platform/progress.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
    if (!fw::prepareStandardStreams()) return 2;
    fw::enableProgressOnTerminal(stderr);
    fw::removeTemporaryFileOnInterrupt();
    return fw::runInspector(argc, argv);
}
