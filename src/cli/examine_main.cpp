#include <cstdio>

#include "cli/examiner.h"
#include "platform/progress.h"

int main(int argc, char** argv) {
    fw::enableProgressOnTerminal(stderr);
    return fw::runInspector(argc, argv);
}
