// What the writer prints on its standard output, each text written once:
// the kinds it packs, a line for each part, and why it stopped.
#pragma once

#include <cstdio>

#include "job/package_job.h"
#include "package/part_copy.h"
#include "package/part_plan.h"

namespace fw {

void printPacks(const PackageJob& job, std::FILE* out);
// The part's count line when it was copied, else why not.
void printOutcome(const PackageJob& job, const PlannedPart& part, const PartResult& result, const char* output,
                  std::FILE* out);
void printCantOpenOutput(std::FILE* out, const char* output);
void printCantWriteOutput(std::FILE* out, const char* output);
void printTooLarge(std::FILE* out, const char* input);

}  // namespace fw
