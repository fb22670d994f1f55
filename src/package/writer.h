// Writes a registered job as an update package. Progress and every failure
// go to `out`; the result is 0 for a package written whole, else -1, and
// then nothing is left at the output path that was not there before. The
// job is only read: writing it twice writes the same package twice.
#pragma once

#include <cstdio>

#include "job/package_job.h"
#include "package/part_copy.h"

namespace fw {

int writePackage(const PackageJob& job, const char* outputPath, std::FILE* out = stdout,
                 const WriterHooks* hooks = nullptr);

}  // namespace fw
