// Keys and certificates kept in a PKCS#11 token (a hardware security module
// or a smart card), named by an RFC 7512 URI and reached through OpenSSL's
// pkcs11 engine. The engine finds tokens through its default module,
// p11-kit's proxy, which offers every module registered with p11-kit, or
// through the module named for it; token_libraries.h says where the engine
// and module are loaded from.
#pragma once

#include <string>

#include "inspect/signature/crypto_support.h"

namespace fw {

// A key or certificate named as "pkcs11:..." rather than by a file path.
bool isTokenUri(const std::string& name);
// The URI as messages show it: a pin-value attribute in it is left out,
// and it is escaped as every name in a message is.
std::string shownUri(const std::string& uri);
// A key or certificate, a file or a URI, as messages show it.
std::string shownName(const std::string& name);
// `pin` may be null: the token is then not logged in to. A message naming
// the URI when the engine is missing or cannot load the object; the PIN
// never appears in one.
KeyPtr loadTokenKey(const std::string& uri, const char* pin, std::string* why);
CertPtr loadTokenCertificate(const std::string& uri, const char* pin, std::string* why);

}  // namespace fw
