// Signing a package during the one read of it that verifies it: the whole
// file's digests are computed on their own core beside the parts' MD5s.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "inspect/signature/signature.h"
#include "inspect/reader/package_reader.h"

namespace fw {

struct SignRequest {
    const char* package = nullptr;
    std::vector<SignerFiles> signers;  // one SignerInfo each, in this order
    std::string output;                // empty: PACKAGE.sig
    bool add = false;                  // add the signers to the signature already at the output
    InspectionOptions inspection;
};

// Verifies the package, then writes its detached signature whole. Returns
// 0 when signed, 1 for a defective package (its defects on `out`, no
// signature written), 2 for files that cannot be read or written, and for
// an earlier signature (--add) that cannot take signers or is of other bytes.
int signPackage(const SignRequest& request, std::FILE* out, std::FILE* err);

}  // namespace fw
