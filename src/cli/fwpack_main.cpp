#include "cli/packer.h"
#include "platform/tool_main.h"

namespace {

int pack(int argc, const char* const* argv) { return fw::runPacker(argc, argv); }

}  // namespace

int main(int argc, char** argv) {
    // Standard output is where every message goes. A failure's -1 is 255
    // on POSIX; Windows would report 4294967295, which a batch file's
    // "if errorlevel 1" takes for success.
    return fw::runTool(argc, argv, "fwpack", 255, pack) == 0 ? 0 : 255;
}
