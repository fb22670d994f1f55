// What lint finds in a fwpack command line: each argument fwpack would
// pass over or drop, and why, in the order of the arguments.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"

namespace fw {

struct LintFinding {
    int argument = 0;  // position in fwpack's argument list (1 = first after the program); 0: the line as a whole
    std::string text;
};

// `argv[0]` stands for the program. `options` is the scan of the same argv.
std::vector<LintFinding> lintArguments(int argc, const char* const* argv, const ParsedOptions& options);

}  // namespace fw
