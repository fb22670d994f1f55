#include <cstdio>

#include "cli/packer.h"
#include "platform/interruption.h"
#include "platform/progress.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
    if (!fw::prepareStandardStreams()) return 255;
    fw::enableProgressOnTerminal(stderr);
    fw::removeTemporaryFileOnInterrupt();
    const int status = fw::runPacker(argc, argv);
    // Standard output is where every message goes; when it could not be
    // written, standard error is the only place left to say so.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fputs("fwpack: cannot write standard output\n", stderr);
        return 255;
    }
    return status;
}
