#include "inspect/report/signature_report.h"

#include "inspect/text/json_text.h"

namespace fw {
namespace {

std::string atTime(const std::string& time) { return time.empty() ? "" : " at " + time; }

std::string jsonOrNull(const std::string& text) { return text.empty() ? "null" : jsonString(text); }

}  // namespace

std::string signedByText(const SignatureReport& s) {
    if (!s.valid) return "";
    return ", signed by " + escapeText(s.signer) + atTime(s.signingTime);
}

std::string signerLinesText(const SignatureReport& s, const std::string& prefix) {
    if (s.signers.size() < 2) return "";
    std::string lines;
    for (std::size_t i = 0; i < s.signers.size(); ++i) {
        const SignerLine& signer = s.signers[i];
        lines += prefix + "signer " + std::to_string(i + 1) + " of " + std::to_string(s.signers.size()) + ": " +
                 (signer.subject.empty() ? "no certificate" : escapeText(signer.subject)) + atTime(signer.signingTime) +
                 ": " + (signer.accepted ? "accepted" : escapeText(signer.defect)) + "\n";
    }
    return lines;
}

std::string signatureMember(const SignatureReport& s) {
    std::string signers;
    for (const SignerLine& signer : s.signers)
        signers += std::string(signers.empty() ? "" : ",") + "{\"subject\":" + jsonOrNull(signer.subject) +
                   ",\"signingTime\":" + jsonOrNull(signer.signingTime) +
                   ",\"accepted\":" + (signer.accepted ? "true" : "false") + ",\"defect\":" + jsonOrNull(signer.defect) +
                   "}";
    return ",\"signature\":{\"file\":" + jsonString(s.file) + ",\"checked\":" + (s.checked ? "true" : "false") +
           ",\"valid\":" + (s.valid ? "true" : "false") + ",\"signer\":" + jsonOrNull(s.signer) +
           ",\"defect\":" + jsonOrNull(s.defect) + ",\"signingTime\":" + jsonOrNull(s.signingTime) +
           ",\"signers\":[" + signers + "]}";
}

}  // namespace fw
