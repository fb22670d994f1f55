// Signing a package and checking its signature, both during the one read
// of the package that verifies it: the whole file's digest is computed on
// its own core beside the parts' MD5s.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "inspect/inspect_report.h"
#include "inspect/inspect_signature.h"
#include "inspect/package_reader.h"

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

// The signature side of `verify --ca`: set up before the package is read,
// fed the whole file while it is read, judged afterwards.
class SignatureCheck {
public:
    // False, with a one-line message, when the CA file cannot be used.
    bool prepare(const std::string& caFile, const std::string& signatureFile, std::string* why);
    // Makes the inspection compute the digest the signature needs.
    void attach(InspectionOptions& options);
    SignatureReport finish();

private:
    std::unique_ptr<TrustStore> trust_;
    std::unique_ptr<DetachedSignature> signature_;
    std::unique_ptr<WholeFileDigest> digest_;
    SignatureReport report_;
};

// Makes a reader compute each part's SHA-256 and the whole file's, for list.
class Sha256Listing {
public:
    void attach(InspectionOptions& options);
    std::vector<std::uint8_t> packageDigest() { return whole_.finish(); }
    // Each part's SHA-256 only, without the whole file's.
    static void attachParts(InspectionOptions& options);

private:
    WholeFileDigest whole_{DigestAlgorithm::sha256};
};

}  // namespace fw
