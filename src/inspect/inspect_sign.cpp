#include "inspect/inspect_sign.h"

#include "platform/files.h"
#include "platform/whole_file.h"

namespace fw {
namespace {

// A signature is a few KiB; anything far larger is not one.
constexpr std::size_t largestSignature = 1 << 20;

// Each part's SHA-256 for the list, by our own digest: what sha256sum gives.
class PartSha256 : public StreamDigest {
public:
    PartSha256() { sha256Init(ctx_); }
    void update(const std::uint8_t* bytes, std::size_t count) override { sha256Update(ctx_, bytes, count); }
    std::vector<std::uint8_t> finish() override {
        Sha256Digest d;
        sha256Final(ctx_, d);
        sha256Init(ctx_);
        return {d.begin(), d.end()};
    }

private:
    Sha256Context ctx_;
};

// The signature must never take the place of a file the run reads: the
// package, the key, the certificate or the chain, under any name or link.
std::string clashOf(const std::string& output, const SignRequest& request) {
    const std::pair<const std::string, const char*> inputs[] = {{request.package, "the package"},
                                                                {request.signer.keyPath, "the signing key"},
                                                                {request.signer.certPath, "the certificate"},
                                                                {request.signer.chainPath, "the chain"}};
    for (const auto& [path, what] : inputs)
        if (!path.empty() && sameFile(output.c_str(), path.c_str())) return what;
    return "";
}

}  // namespace

int signPackage(const SignRequest& request, std::FILE* out, std::FILE* err) {
    std::string error;
    const std::unique_ptr<Signer> signer = Signer::load(request.signer, &error);
    if (!signer) {
        std::fprintf(err, "fwinspect: %s\n", error.c_str());
        return 2;
    }
    const std::string output = request.output.empty() ? std::string(request.package) + ".sig" : request.output;
    if (const std::string clash = clashOf(output, request); !clash.empty()) {
        std::fprintf(err, "fwinspect: %s is %s; the signature goes elsewhere (--output SIG)\n", escapePath(output).c_str(),
                     clash.c_str());
        return 2;
    }
    Sha256 sha;
    InspectionOptions options = request.inspection;
    options.wholeFile = [&sha](const std::uint8_t* bytes, std::size_t count) { sha.update(bytes, count); };
    auto report = makeReport(ReportStyle::defectsOnly, out);
    std::string why;
    const InspectionResult result = inspectPackage(request.package, options, *report, &why);
    if (result == InspectionResult::unreadable) {
        printCannotRead(err, request.package, why);
        return 2;
    }
    if (result != InspectionResult::sound) {
        report->finish(result);
        std::fprintf(err, "fwinspect: %s is defective; not signed\n", escapePath(request.package).c_str());
        return 1;
    }
    const std::optional<Sha256Digest> digest = sha.finish();
    const std::vector<std::uint8_t> der = digest ? signer->sign(*digest, &error) : std::vector<std::uint8_t>{};
    if (der.empty()) {
        std::fprintf(err, "fwinspect: cannot sign %s: %s\n", escapePath(request.package).c_str(),
                     digest ? error.c_str() : "the package's digest could not be computed");
        return 2;
    }
    if (!replaceFileWhole(output, der, &why)) {
        std::fprintf(err, "fwinspect: cannot write %s: %s\n", escapePath(output).c_str(), why.c_str());
        return 2;
    }
    std::fprintf(out, "%s: sound, signed by %s into %s\n", escapePath(request.package).c_str(),
                 escapeText(signer->subject()).c_str(), escapePath(output).c_str());
    return 0;
}

std::optional<CheckTime> checkTimeOf(const std::string& at) {
    if (at.empty() || at == "now") return CheckTime{};
    if (at == "signing") return CheckTime{CheckTime::Kind::signing, 0};
    if (const auto day = dayOf(at)) return CheckTime{CheckTime::Kind::given, *day};
    return std::nullopt;
}

std::string atProblem(const std::string& at) {
    return checkTimeOf(at) ? "" : "--at takes signing, now or a date YYYY-MM-DD, not \"" + escapeText(at) + "\"";
}

bool SignatureCheck::prepare(const SignaturePolicy& policy, std::string* why) {
    const std::optional<CheckTime> at = checkTimeOf(policy.at);
    if (!at) {
        *why = atProblem(policy.at);
        return false;
    }
    trust_ = TrustStore::load(TrustFiles{policy.caFile, policy.crlFiles, policy.signerCertFile}, why);
    if (!trust_) return false;
    rules_ = SignerRules{policy.signers, *at, policy.partialChain};
    report_.file = policy.signatureFile;
    std::vector<std::uint8_t> bytes;
    std::string reason;
    bool missing = false;
    if (!readSmallFile(policy.signatureFile, largestSignature, bytes, &reason, missing)) {
        report_.defect = missing ? "no signature file " + policy.signatureFile
                                 : "cannot read the signature file " + policy.signatureFile + ": " + reason;
        return true;
    }
    signature_ = std::make_unique<DetachedSignature>(DetachedSignature::parse(bytes.data(), bytes.size()));
    for (DigestAlgorithm algorithm : signature_->digestAlgorithms()) digests_.emplace_back(algorithm);
    return true;
}

void SignatureCheck::attach(InspectionOptions& options) {
    if (digests_.empty()) return;
    options.wholeFile = [this](const std::uint8_t* bytes, std::size_t count) {
        for (WholeFileDigest& digest : digests_) digest.update(bytes, count);
    };
    options.wholeFileEnd = [this](bool whole) { readWhole_ = whole; };
}

SignatureReport SignatureCheck::finish() {
    if (!signature_) return report_;
    if (!digests_.empty() && !readWhole_) {
        report_.defect = "the signature was not checked: the package could not be read whole";
        return report_;
    }
    PackageDigests digests;
    for (WholeFileDigest& digest : digests_) digests.emplace_back(digest.algorithm(), digest.finish());
    const SignatureVerdict verdict = signature_->verify(digests, *trust_, rules_);
    report_.checked = verdict.checked;
    report_.valid = verdict.valid;
    report_.signer = verdict.signerSubject;
    report_.defect = verdict.valid ? "" : verdict.defect.empty() ? "the signature could not be checked" : verdict.defect;
    for (const SignerVerdict& v : verdict.signers) {
        report_.signers.push_back({v.subject, v.signingTime, v.defect, v.accepted});
        if (v.accepted && report_.signingTime.empty() && v.subject == report_.signer) report_.signingTime = v.signingTime;
    }
    return report_;
}

void Sha256Listing::attachParts(InspectionOptions& options) {
    options.partDigest = [] { return std::make_unique<PartSha256>(); };
}

void Sha256Listing::attach(InspectionOptions& options) {
    attachParts(options);
    options.wholeFile = [this](const std::uint8_t* bytes, std::size_t count) { whole_.update(bytes, count); };
}

}  // namespace fw
