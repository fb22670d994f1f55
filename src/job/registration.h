// Registration: every input the command line names is checked for
// existence, its length learnt from the file system, and given its part
// header in the job. A missing input drops out without a word. No input is
// read here: the writer reads each one once, digesting while it copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The slot a part name takes: the lowest slot in use under that name, else
// the lowest free slot, else none (-1). Bit s of `inUse` marks slot s in
// use; `holds(s)` tells whether slot s holds the name.
int namedSlotOf(std::uint32_t inUse, const std::function<bool(std::size_t)>& holds);

// The pairs are registered in order, so of two for one mtd index or part
// name the later decides: whether a later pair replaces pairs[i].
bool replacedLater(const std::vector<MtdArg>& pairs, std::size_t i);
bool replacedLater(const std::vector<NamedArg>& pairs, std::size_t i);

void registerImage(PackageJob& job, PartKind kind, const char* path);
void registerMtdParts(PackageJob& job, const std::vector<MtdArg>& pairs);
void registerNamedParts(PackageJob& job, const std::vector<NamedArg>& pairs);

}  // namespace fw
