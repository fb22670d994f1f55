#include "cli/packer.h"
#include "platform/tool_main.h"

int main(int argc, char** argv) {
    // Standard output is where every message goes. A failure's -1 is 255
    // on POSIX; Windows would report 4294967295, which a batch file's
    // "if errorlevel 1" takes for success.
    return fw::runToolMain(argc, argv, {"fwpack", 255, [](int count, const char* const* values) {
                                            return fw::runPacker(count, values) == 0 ? 0 : 255;
                                        }});
}
