// The attributes of one signer of a CMS signature, held to RFC 5652's
// rules before its signature is checked.
#pragma once

#include <openssl/cms.h>

#include <string>

namespace fw {

// False, with why, when the signer's attributes are unacceptable.
// Signed attributes, when present, are a set that is not empty, holding
// the content type (data) and the message digest exactly once each and
// at most one signing time; unsigned ones stay small.
bool attributesAcceptable(CMS_SignerInfo* si, CMS_ContentInfo* cms, std::string* why);
// The signed signing time; nothing when it is absent or not a time.
const ASN1_TIME* signedSigningTime(CMS_SignerInfo* si);

}  // namespace fw
