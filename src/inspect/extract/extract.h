// Takes a package apart into a folder, all or nothing: every part is read
// once, written under a temporary name while it is digested, and named
// only when the whole package has proved sound.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "inspect/check/signature_check.h"
#include "inspect/reader/package_reader.h"

namespace fw {

struct ExtractOptions {
    InspectionOptions inspection;
    bool force = false;  // replace files already in the folder (by new files, never through them)
    // Labels as list shows them (boot, -p3, a part name); empty: every part.
    std::vector<std::string> parts;
    // With a CA file, the parts are kept only if the detached signature
    // (PACKAGE.sig unless it names another) matches the very bytes that were
    // written and a signer passes the policy.
    SignaturePolicy signature;
};

// Writes every part's data (or the chosen ones'), without its name or path
// field, into `dir` (created with its missing parents) and prints the
// fwpack command line that rebuilds the package from those files, or why
// there is none. Returns 0 when every part was extracted, 1 when nothing
// was (a defect, a part that cannot be named, a file in the way, a label
// the package does not hold), 2 when the package cannot be read or the
// folder cannot be made. SIGINT, SIGTERM, SIGHUP and SIGXFSZ are held
// back meanwhile: one that comes leaves the folder as it was and then ends
// the process.
int extractPackage(const char* packagePath, const char* dir, const ExtractOptions& options, std::FILE* out,
                   std::FILE* err);

}  // namespace fw
