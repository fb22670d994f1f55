#include <cstdio>

#include "cli/packer.h"
#include "platform/console_text.h"
#include "platform/interruption.h"
#include "platform/process_start.h"
#include "platform/progress.h"
#include "platform/standard_streams.h"

int main(int argc, char** argv) {
    fw::loadLibrariesOnlyFromSystemAndProgram();
    fw::ProgramArguments arguments(argc, argv);
    if (!fw::prepareStandardStreams() || !arguments.whole()) return 255;
    fw::enableProgressOnTerminal(stderr);
    fw::removeTemporaryFileOnInterrupt();
    const int status = fw::runPacker(arguments.count(), arguments.values());
    // Standard output is where every message goes; when it could not be
    // written, standard error is the only place left to say so.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        fw::printText(stderr, "fwpack: cannot write standard output\n");
        return 255;
    }
    // A failure's -1 is 255 on POSIX; Windows would report 4294967295, which
    // a batch file's "if errorlevel 1" takes for success.
    return status == 0 ? 0 : 255;
}
