// Writes a registered job as an update package. Progress and every failure
// go to `out`; the result is 0 for a package written whole, else -1, and
// then nothing is left at the output path that was not there before.
#pragma once

#include <cstdio>

#include "job/package_job.h"

namespace fw {

int writePackage(PackageJob& job, const char* outputPath, std::FILE* out = stdout);

}  // namespace fw
