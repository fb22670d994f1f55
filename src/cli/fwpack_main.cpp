#include <cstdio>

#include "cli/packer.h"
#include "platform/progress.h"

int main(int argc, char** argv) {
    fw::enableProgressOnTerminal(stderr);
    return fw::runPacker(argc, argv);
}
