// Registration: every input the command line names is checked for
// existence, its length learnt from the file system, and given its part
// header in the job. A missing input drops out without a word. No input is
// read here: the writer reads each one once, digesting while it copies.
#pragma once

#include <cstdint>
#include <vector>

#include "job/package_job.h"

namespace fw {

struct MtdArg {
    std::int32_t index;
    const char* path;
};

struct NamedArg {
    const char* name;
    const char* path;
};

void registerImage(PackageJob& job, PartKind kind, const char* path);
void registerMtdParts(PackageJob& job, const std::vector<MtdArg>& pairs);
void registerNamedParts(PackageJob& job, const std::vector<NamedArg>& pairs);

}  // namespace fw
