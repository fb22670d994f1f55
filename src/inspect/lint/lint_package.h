// Whether a package is exactly what a job would pack today: its boards in
// order, its layout and kind bits, and every part against the bytes of its
// input as they are now.
#pragma once

#include <string>
#include <vector>

#include "job/package_job.h"

namespace fw {

// Fills `differences`, one line each; false with `why` when the package
// cannot be read.
bool comparePackageWithJob(const std::string& path, const PackageJob& job, std::vector<std::string>& differences,
                           std::string* why);

}  // namespace fw
