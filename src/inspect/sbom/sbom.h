// fwinspect sbom: the package's bill of materials, written only for a
// package that verify finds sound (and whose signature it accepts, with a
// CA file), so the record kept of a release never vouches for a bad one.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "inspect/check/signature_check.h"
#include "inspect/reader/package_reader.h"

namespace fw {

struct SbomRequest {
    const char* package = "";
    InspectionOptions inspection;
    SignaturePolicy signature;            // checked when it names a CA file
    std::vector<std::string> partSboms;   // PART=FILE, as given
    std::string output;                   // empty: standard output
    std::string toolVersion;
};

// Returns 0 when the document was written, 1 when the package is defective
// or its signature refused (the defects said on `err` as verify says them),
// 2 when the package, a linked document or SOURCE_DATE_EPOCH cannot be
// used or the document cannot be written.
int writeSbom(const SbomRequest& request, std::FILE* out, std::FILE* err);

}  // namespace fw
