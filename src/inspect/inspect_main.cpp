#include <cstdio>

#include "inspect/inspect_command.h"
#include "platform/progress.h"

int main(int argc, char** argv) {
    fw::enableProgressOnTerminal(stderr);
    return fw::runInspector(argc, argv);
}
