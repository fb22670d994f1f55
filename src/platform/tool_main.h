// What both tools do around their work, from the first line of main.
#pragma once

namespace fw {

using ToolRun = int (*)(int argc, const char* const* argv);

// Readies the process (libraries from trusted folders only, the standard
// streams, the arguments in the system's text, progress on a terminal, the
// temporary file removed on an interrupt), then runs `run`. Returns its
// status, or `failure` when the process could not be readied or standard
// output could not be written: that is then said on standard error, after
// "<tool>: ", as the only place left to say it.
int runTool(int argc, char** argv, const char* tool, int failure, ToolRun run);

}  // namespace fw
