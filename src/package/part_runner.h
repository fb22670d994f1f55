// Copies a plan's parts into the output and reports each, in writing
// order, as soon as it and every part before it are done.
#pragma once

#include <cstdio>
#include <string>

#include "job/package_job.h"
#include "package/part_copy.h"
#include "package/part_plan.h"
#include "platform/output_target.h"

namespace fw {

// True when every part was written whole. False after the first part that
// failed was reported; `why` then says what no part's message says (memory
// ran out in the copying threads), or is left empty.
bool copyParts(const PackageJob& job, PackagePlan& plan, OutputTarget& target, const char* output, std::FILE* out,
               const WriterHooks* hooks, std::string* why);

}  // namespace fw
