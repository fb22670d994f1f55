// What verify and extract check of a package's detached signature, during
// the one read of the package: the whole file's digests are computed on
// their own core beside the parts' MD5s.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "inspect/reader/package_reader.h"
#include "inspect/signature/signature.h"

namespace fw {

// What the check of a package's detached signature found: the verdict, or
// in its defect why none was reached (no signature file, a package not read
// whole). A verdict that is not valid always has a defect.
struct SignatureReport {
    std::string file;
    std::vector<std::uint8_t> fileSha256;  // the signature file's, as it was read
    SignatureVerdict verdict;
};

// A signature is a few KiB; anything far larger is not one.
constexpr std::size_t largestSignature = 1 << 20;

std::string noSignature(const std::string& file);
std::string unreadableSignature(const std::string& file, const std::string& reason);

// What a signature must meet, as verify and extract take it.
struct SignaturePolicy {
    std::string caFile, signatureFile, signerCertFile;
    std::vector<std::string> crlFiles, signers;
    std::string at;  // signing, now or YYYY-MM-DD; empty: now
    bool partialChain = false;
};

// The signature file of `package`: PACKAGE.sig unless the policy names another.
inline std::string signatureFileOf(const SignaturePolicy& policy, const std::string& package) {
    return policy.signatureFile.empty() ? package + ".sig" : policy.signatureFile;
}

// The moment --at names; nothing when it names none.
std::optional<CheckTime> checkTimeOf(const std::string& at);
// False, with the reason, when --at cannot take `at`.
bool checkTimeAccepted(const std::string& at, std::string* why);

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
    // The same for `package`, whose signature is PACKAGE.sig unless the policy names another.
    bool prepareFor(const std::string& package, SignaturePolicy policy, std::string* why) {
        policy.signatureFile = signatureFileOf(policy, package);
        return prepare(policy, why);
    }
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

}  // namespace fw
