// How the reports show a signature's verdict and each of its signers.
#pragma once

#include <string>

#include "inspect/report/report.h"

namespace fw {

// ", signed by SUBJECT at TIME" for a sound verdict line; empty when not valid.
std::string signedByText(const SignatureReport& s);
// One line per signer, each beginning with `prefix`, when there are several.
std::string signerLinesText(const SignatureReport& s, const std::string& prefix);
// `,"signature":{...}` for the JSON report.
std::string signatureMember(const SignatureReport& s);

}  // namespace fw
