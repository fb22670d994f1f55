#include "inspect/check/signature_check.h"

#include <algorithm>

#include "inspect/text/plain_text.h"
#include "platform/whole_file.h"

namespace fw {
std::string noSignature(const std::string& file) { return "no signature file " + file; }
std::string unreadableSignature(const std::string& file, const std::string& reason) {
    return "cannot read the signature file " + file + ": " + reason;
}

std::optional<CheckTime> checkTimeOf(const std::string& at) {
    if (at.empty() || at == "now") return CheckTime{};
    if (at == "signing") return CheckTime{CheckTime::Kind::signing, 0};
    if (const auto day = dayOf(at)) return CheckTime{CheckTime::Kind::given, *day};
    return std::nullopt;
}

bool checkTimeAccepted(const std::string& at, std::string* why) {
    if (checkTimeOf(at)) return true;
    *why = "--at takes signing, now or a date YYYY-MM-DD, not \"" + escapeText(at) + "\"";
    return false;
}

bool SignatureCheck::prepare(const SignaturePolicy& policy, std::string* why) {
    if (!checkTimeAccepted(policy.at, why)) return false;
    const std::optional<CheckTime> at = checkTimeOf(policy.at);
    trust_ = TrustStore::load(TrustFiles{policy.caFile, policy.crlFiles, policy.signerCertFile}, why);
    if (!trust_) return false;
    rules_ = SignerRules{policy.signers, *at, policy.partialChain};
    report_.file = policy.signatureFile;
    std::vector<std::uint8_t> bytes;
    std::string reason;
    bool missing = false;
    if (!readSmallFile(policy.signatureFile, largestSignature, bytes, &reason, missing)) {
        report_.verdict.defect = missing ? noSignature(policy.signatureFile) : unreadableSignature(policy.signatureFile, reason);
        return true;
    }
    WholeFileDigest fileDigest(DigestAlgorithm::sha256);
    fileDigest.update(bytes.data(), bytes.size());
    report_.fileSha256 = fileDigest.finish();
    signature_ = std::make_unique<DetachedSignature>(DetachedSignature::parse(bytes.data(), bytes.size()));
    digests_ = std::make_unique<DigestsOnTheWay>(signature_->digestAlgorithms());
    return true;
}

DigestsOnTheWay::DigestsOnTheWay(const std::vector<DigestAlgorithm>& wanted) {
    for (DigestAlgorithm a : wanted)
        if (std::none_of(digests_.begin(), digests_.end(), [a](const WholeFileDigest& d) { return d.algorithm() == a; }))
            digests_.emplace_back(a);
}

void DigestsOnTheWay::attach(InspectionOptions& options) {
    if (digests_.empty()) return;
    options.packageBytes = [this](const std::uint8_t* bytes, std::size_t count) {
        for (WholeFileDigest& d : digests_) d.update(bytes, count);
    };
    options.packageBytesEnd = [this](bool whole) { readWhole_ = whole; };
}

std::optional<PackageDigests> DigestsOnTheWay::finish() {
    PackageDigests out;
    for (WholeFileDigest& d : digests_) {
        out[d.algorithm()] = d.finish();
        if (out[d.algorithm()].empty()) return std::nullopt;
    }
    return out;
}

void SignatureCheck::attach(InspectionOptions& options) {
    if (digests_) digests_->attach(options);
}

SignatureReport SignatureCheck::finish() {
    if (!signature_) return report_;
    if (digests_->wanted() && !digests_->readWhole()) {
        report_.verdict.defect = "the signature was not checked: the package could not be read whole";
        return report_;
    }
    report_.verdict = signature_->verify(digests_->finish().value_or(PackageDigests{}), *trust_, rules_);
    SignatureVerdict& verdict = report_.verdict;
    if (verdict.valid) verdict.defect.clear();
    else if (verdict.defect.empty()) verdict.defect = "the signature could not be checked";
    return report_;
}

}  // namespace fw
