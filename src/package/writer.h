// Writes a registered job as an update package. Progress and every failure
// go to `out`; the result is 0 for a package written whole, else -1, and
// then nothing is left at the output path that was not there before. The
// job is only read: writing it twice writes the same package twice.
// Memory that runs out in the copying threads is a failure that `out` has
// no message for: `why` says so, for the caller to tell elsewhere.
#pragma once

#include <cstdio>
#include <string>

#include "job/package_job.h"
#include "package/part_copy.h"

namespace fw {

// 0 when the package is written, -1 when not; every message on `out`.
int writePackage(const PackageJob& job, const char* outputPath, std::FILE* out = stdout,
                 const WriterHooks* hooks = nullptr);
// The same; `why` also gets what `out` could not be told (memory ran out).
int writePackage(const PackageJob& job, const char* outputPath, std::FILE* out, const WriterHooks* hooks,
                 std::string* why);

}  // namespace fw
