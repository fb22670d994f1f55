#pragma once

#include <cstdio>

namespace fw {

// fwinspect list|verify|extract|diff. Returns the exit status: 0 sound (for
// diff: the same), 1 a defect, a part that could not be extracted or a
// difference, 2 a usage error or a package that cannot be opened.
int runInspector(int argc, const char* const* argv, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace fw
