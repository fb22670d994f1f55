#include <cstdio>

#include "cli/packer.h"
#include "platform/interruption.h"
#include "platform/progress.h"

int main(int argc, char** argv) {
    fw::enableProgressOnTerminal(stderr);
    fw::removeTemporaryFileOnInterrupt();
    return fw::runPacker(argc, argv);
}
