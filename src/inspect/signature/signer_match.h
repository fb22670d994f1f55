// Whether one signer's signature is that of the package: over its signed
// attributes, or, without them, over the package's digest itself.
#pragma once

#include <openssl/cms.h>

#include <cstdint>
#include <string>
#include <vector>

#include "inspect/signature/signature.h"

namespace fw {

// Whether the signature of `si`, made with `key`, covers `digest`, the
// package's digest by `algorithm`; false with why not.
bool signatureMatches(CMS_SignerInfo* si, EVP_PKEY* key, DigestAlgorithm algorithm,
                      const std::vector<std::uint8_t>& digest, std::string* why);

}  // namespace fw
