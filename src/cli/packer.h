#pragma once

#include <cstdio>

namespace fw {

// One whole run of the packer: scan, validation, job, registration, writer.
// Returns the exit status: 0 when a package was written, -1 otherwise.
// Standard output gets what the packer has always printed; `err` gets the
// note of what the line passed over, and memory that ran out, on any
// thread, the one failure with no message of its own there.
struct ParsedOptions;
struct PackageJob;
// Board codes, inputs and layout of a scanned command line into the job,
// in the packer's order.
void registerInputs(PackageJob& job, const ParsedOptions& options);

int runPacker(int argc, const char* const* argv, std::FILE* out = stdout, std::FILE* err = stderr);

}  // namespace fw
