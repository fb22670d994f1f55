#include "inspect/report/signature_report.h"

#include "inspect/text/json_text.h"

namespace fw {
namespace {

std::string atTime(const std::string& time) { return time.empty() ? "" : " at " + time; }

std::string jsonOrNull(const std::string& text) { return text.empty() ? "null" : jsonString(text); }

// When the accepted signer signed its time in.
std::string signingTimeOf(const SignatureVerdict& v) {
    for (const SignerVerdict& signer : v.signers)
        if (signer.accepted && signer.subject == v.signerSubject && !signer.signingTime.empty()) return signer.signingTime;
    return "";
}

}  // namespace

std::string signedByText(const SignatureReport& s) {
    if (!s.verdict.valid) return "";
    return ", signed by " + escapeText(s.verdict.signerSubject) + atTime(signingTimeOf(s.verdict));
}

std::string signerLinesText(const SignatureReport& s, const std::string& prefix) {
    const std::vector<SignerVerdict>& signers = s.verdict.signers;
    if (signers.size() < 2) return "";
    std::string lines;
    for (std::size_t i = 0; i < signers.size(); ++i) {
        const SignerVerdict& signer = signers[i];
        lines += prefix + "signer " + std::to_string(i + 1) + " of " + std::to_string(signers.size()) + ": " +
                 (signer.subject.empty() ? "no certificate" : escapeText(signer.subject)) + atTime(signer.signingTime) +
                 ": " + (signer.accepted ? "accepted" : escapeText(signer.defect)) + "\n";
    }
    return lines;
}

std::string signatureMember(const SignatureReport& s) {
    const SignatureVerdict& v = s.verdict;
    std::string signers;
    for (const SignerVerdict& signer : v.signers)
        signers += std::string(signers.empty() ? "" : ",") + "{\"subject\":" + jsonOrNull(signer.subject) +
                   ",\"signingTime\":" + jsonOrNull(rfc3339Time(signer.signingTime)) +
                   ",\"accepted\":" + (signer.accepted ? "true" : "false") + ",\"defect\":" + jsonOrNull(signer.defect) +
                   "}";
    return ",\"signature\":{\"file\":" + jsonString(s.file) + ",\"checked\":" + (v.checked ? "true" : "false") +
           ",\"valid\":" + (v.valid ? "true" : "false") + ",\"signer\":" + jsonOrNull(v.signerSubject) +
           ",\"defect\":" + jsonOrNull(v.defect) + ",\"signingTime\":" + jsonOrNull(rfc3339Time(signingTimeOf(v))) +
           ",\"signers\":[" + signers + "]}";
}

}  // namespace fw
