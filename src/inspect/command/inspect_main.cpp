#include "inspect/command/inspect_command.h"
#include "platform/tool_main.h"

namespace {

int inspect(int argc, const char* const* argv) { return fw::runInspector(argc, argv); }

}  // namespace

// A report that did not reach its reader (a full disk, a pipe nobody
// reads) is no report: runTool says so where it can still be read.
int main(int argc, char** argv) { return fw::runTool(argc, argv, "fwinspect", 2, inspect); }
