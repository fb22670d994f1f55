// Signing a package and checking its signature, both during the one read
// of the package that verifies it: the whole file's digest is computed on
// its own core beside the parts' MD5s.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
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

// What a signature must meet, as verify and extract take it.
struct SignaturePolicy {
    std::string caFile, signatureFile, signerCertFile;
    std::vector<std::string> crlFiles, signers;
    std::string at;  // signing, now or YYYY-MM-DD; empty: now
    bool partialChain = false;
};

// The moment --at names; nothing when it names none.
std::optional<CheckTime> checkTimeOf(const std::string& at);
// Why --at cannot take `at`; empty when it can.
std::string atProblem(const std::string& at);

// The whole file's digest by every algorithm asked for, in the one read.
class DigestsOnTheWay {
public:
    explicit DigestsOnTheWay(const std::vector<DigestAlgorithm>& wanted);
    void attach(InspectionOptions& options);
    bool wanted() const { return !digests_.empty(); }
    // Every byte of the package went in: the digests are the file's.
    bool readWhole() const { return readWhole_; }
    // Nothing when libcrypto failed on one.
    std::optional<PackageDigests> finish();

private:
    std::vector<WholeFileDigest> digests_;
    bool readWhole_ = false;
};

// The signature side of `verify --ca`: set up before the package is read,
// fed the whole file while it is read, judged afterwards.
class SignatureCheck {
public:
    // False, with a one-line message, when the CA, CRL or signer
    // certificate files cannot be used.
    bool prepare(const SignaturePolicy& policy, std::string* why);
    // Makes the inspection compute every digest the signature needs.
    void attach(InspectionOptions& options);
    SignatureReport finish();

private:
    std::unique_ptr<TrustStore> trust_;
    SignerRules rules_;
    std::unique_ptr<DetachedSignature> signature_;
    std::unique_ptr<DigestsOnTheWay> digests_;
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
