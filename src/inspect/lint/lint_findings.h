// What lint finds in a fwpack command line: each argument fwpack would
// pass over or drop, and why, in the order of the arguments.
#pragma once

#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/passed_over.h"

namespace fw {

// What fwpack itself notes as passed over, and what lint adds: board codes
// fwpack misreads or that do not match the layout, boards past the
// hundredth, and kinds the old layout drops.
// `argv[0]` stands for the program. `options` is the scan of the same argv.
std::vector<ArgumentFinding> lintArguments(int argc, const char* const* argv, const ParsedOptions& options);

}  // namespace fw
