#pragma once

#include <cstdio>

#include "package/package_check.h"

namespace fw {

// Writes every part's data, without its name or path field, into `dir`
// (created when missing) and prints the fwpack command line that rebuilds
// the package from those files. A part whose name cannot be a file name is
// skipped. Returns 0 when every part was written, 1 otherwise, 2 when the
// folder cannot be made or the package cannot be read.
int extractPackage(const char* packagePath, const char* dir, const InspectionOptions& options, std::FILE* out,
                   std::FILE* err);

}  // namespace fw
