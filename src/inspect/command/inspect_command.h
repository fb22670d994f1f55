#pragma once

#include <cstdio>

namespace fw {

// fwinspect list|verify|extract|diff|sign|lint, --help and --version.
// Returns the exit status: 0 sound (diff: the same; lint: fwpack packs
// everything it is given), 1 a defect, a difference, nothing extracted or
// something lint finds passed over, 2 a usage error, a file that cannot be
// read or a folder that cannot be made.
int runInspector(int argc, const char* const* argv, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace fw
