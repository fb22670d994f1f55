// fwinspect lint: what fwpack would do with a command line, told before it
// runs. fwpack passes over what it does not recognise and leaves out inputs
// it cannot find, by design; this names every such argument, and can check
// a package against what the arguments pack.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace fw {

// Returns 0 when fwpack would pack everything it is given (and, with
// `package`, the package is exactly what it packs), 1 otherwise, 2 when
// the package cannot be read.
int lintCommandLine(const std::vector<const char*>& fwpackArgs, const std::string& package, bool json,
                    std::FILE* out, std::FILE* err);

}  // namespace fw
