#include "inspect/sign/sign.h"

#include <algorithm>
#include <optional>

#include "inspect/check/signature_check.h"
#include "inspect/report/report.h"
#include "inspect/text/tool_messages.h"
#include "platform/console_text.h"
#include "platform/files.h"
#include "platform/whole_file.h"

namespace fw {
namespace {

// The signature must never take the place of a file the run reads: the
// package, or any signer's key, certificate or chain, under any name or link.
// False, with the file it would replace in `clash`, when it would.
bool outputClear(const std::string& output, const SignRequest& request, std::string* clash) {
    const auto clashes = [clash](const char* what) {
        *clash = what;
        return false;
    };
    if (sameFile(output.c_str(), request.package)) return clashes("the package");
    for (const SignerFiles& signer : request.signers) {
        const std::pair<const std::string&, const char*> inputs[] = {{signer.keyPath, "the signing key"},
                                                                     {signer.certPath, "the certificate"},
                                                                     {signer.chainPath, "the chain"}};
        for (const auto& [path, what] : inputs)
            if (!path.empty() && sameFile(output.c_str(), path.c_str())) return clashes(what);
    }
    return true;
}

bool loadSigners(const SignRequest& request, std::vector<std::unique_ptr<Signer>>& signers, std::string* why) {
    for (const SignerFiles& files : request.signers) {
        signers.push_back(Signer::load(files, why));
        if (!signers.back()) return false;
    }
    return true;
}

// A new signature, or with --add the one at the output, read before the
// package so its digests are computed in the same read.
std::unique_ptr<SignatureDraft> draftFor(const SignRequest& request, const std::string& output, std::string* why) {
    if (!request.add) return SignatureDraft::start(why);
    std::vector<std::uint8_t> bytes;
    std::string reason;
    bool missing = false;
    if (!readSmallFile(output, largestSignature, bytes, &reason, missing)) {
        *why = missing ? noSignature(escapePath(output)) + " to add a signer to"
                       : unreadableSignature(escapePath(output), reason);
        return nullptr;
    }
    return SignatureDraft::resume(bytes, escapePath(output), why);
}

std::string subjectsOf(const std::vector<std::unique_ptr<Signer>>& signers) {
    std::string text;
    for (std::size_t i = 0; i < signers.size(); ++i)
        text += (i == 0 ? "" : i + 1 == signers.size() ? " and " : ", ") + escapeText(signers[i]->subject());
    return text;
}

// " as signer 2 of 2", " as signers 2 and 3 of 3": where the added signers
// stand, numbered as verify numbers them.
std::string placesText(std::size_t earlier, std::size_t added) {
    const std::size_t total = earlier + added;
    std::string places;
    for (std::size_t i = earlier + 1; i <= total; ++i)
        places += (i == earlier + 1 ? "" : i == total ? " and " : ", ") + std::to_string(i);
    return (added == 1 ? " as signer " : " as signers ") + places + " of " + std::to_string(total);
}

// Every signer into the draft, once the package is known sound.
bool signInto(SignatureDraft& draft, const std::vector<std::unique_ptr<Signer>>& signers,
              const std::optional<PackageDigests>& digests, bool adding, std::string* why) {
    if (!digests) {
        *why = "the package's digest could not be computed";
        return false;
    }
    if (adding && !draft.coversPackage(*digests, why)) return false;
    for (const auto& signer : signers)
        if (!draft.add(*signer, *digests, why)) return false;
    return true;
}

}  // namespace

int signPackage(const SignRequest& request, std::FILE* out, std::FILE* err) {
    std::string problem;
    std::vector<std::unique_ptr<Signer>> signers;
    if (!loadSigners(request, signers, &problem)) {
        error(err, "%s", problem.c_str());
        return 2;
    }
    const std::string output = request.output.empty() ? std::string(request.package) + ".sig" : request.output;
    if (std::string clash; !outputClear(output, request, &clash)) {
        error(err, "%s is %s; the signature goes elsewhere (--output SIG)", escapePath(output).c_str(),
                     clash.c_str());
        return 2;
    }
    const std::unique_ptr<SignatureDraft> draft = draftFor(request, output, &problem);
    if (draft && !draft->takes(signers.size(), &problem)) {
        error(err, "cannot sign %s: %s; nothing written", escapePath(request.package).c_str(),
              problem.c_str());
        return 2;
    }
    if (!draft) {
        error(err, "%s", problem.c_str());
        return 2;
    }
    const int earlier = request.add ? draft->signerCount() : 0;
    std::vector<DigestAlgorithm> wanted = draft->heldAlgorithms();
    for (const auto& signer : signers) wanted.push_back(signer->digestAlgorithm());
    DigestsOnTheWay digests(wanted);
    InspectionOptions options = request.inspection;
    digests.attach(options);
    auto report = makeReport(ReportStyle::defectsOnly, out);
    std::string why;
    const InspectionResult result = inspectPackage(request.package, options, *report, &why);
    if (result == InspectionResult::unreadable) {
        printCannotRead(err, request.package, why);
        return 2;
    }
    if (result != InspectionResult::sound) {
        report->finish(result);
        error(err, "%s is defective; not signed", escapePath(request.package).c_str());
        return 1;
    }
    std::vector<std::uint8_t> der;
    if (!signInto(*draft, signers, digests.finish(), request.add, &problem) || (der = draft->finish(&problem)).empty()) {
        error(err, "cannot sign %s: %s", escapePath(request.package).c_str(), problem.c_str());
        return 2;
    }
    std::string leftover;
    if (!replaceFileWhole(output, der, &why, &leftover)) {
        error(err, "cannot write %s: %s", escapePath(output).c_str(), why.c_str());
        if (!leftover.empty())
            error(err, "the new signature could not be removed and stays as %s",
                  escapePath(leftover).c_str());
        return 2;
    }
    print(out, "%s: sound, signed by %s into %s", escapePath(request.package).c_str(),
                 subjectsOf(signers).c_str(), escapePath(output).c_str());
    if (request.add) printText(out, placesText(static_cast<std::size_t>(earlier), signers.size()).c_str());
    printText(out, "\n");
    return 0;
}

}  // namespace fw
