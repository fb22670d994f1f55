#include "inspect/command/inspect_command.h"
#include "platform/tool_main.h"

int main(int argc, char** argv) {
    return fw::runToolMain(argc, argv, {"fwinspect", 2, [](int count, const char* const* values) {
                                            return fw::runInspector(count, values);
                                        }});
}
