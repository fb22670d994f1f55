#pragma once

#include <cstdio>

namespace fw {

// fwinspect list|verify|extract. Returns the exit status: 0 sound, 1 a
// defect (or a part that could not be extracted), 2 a usage error or a
// package that cannot be opened.
int runInspector(int argc, const char* const* argv, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace fw
