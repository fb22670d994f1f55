// What the signature files share: owners for libcrypto's objects, its
// error queue, and the small conversions every step needs. Only the
// signature files include it; they are the one module that uses libcrypto.
#pragma once

#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "inspect/signature/signature.h"

namespace fw {

template <auto Free>
struct Freer {
    template <class T>
    void operator()(T* p) const {
        Free(p);
    }
};

inline void freeCertificates(STACK_OF(X509) * certs) { sk_X509_pop_free(certs, X509_free); }

using BioPtr = std::unique_ptr<BIO, Freer<BIO_free>>;
using CertPtr = std::unique_ptr<X509, Freer<X509_free>>;
using CertsPtr = std::unique_ptr<STACK_OF(X509), Freer<freeCertificates>>;
using CrlPtr = std::unique_ptr<X509_CRL, Freer<X509_CRL_free>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Freer<CMS_ContentInfo_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using KeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Freer<X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Freer<X509_STORE_CTX_free>>;

// What the verifying side trusts, shared by the signature files that check
// signatures and those that judge their signers.
struct TrustStore::State {
    StorePtr store{X509_STORE_new()};
    CertsPtr signerCerts{sk_X509_new_null()};  // given for signatures that carry none; not trusted
    bool hasCrls = false;
};

// libcrypto keeps a queue of errors per thread; each public call leaves it
// empty so a reason found later belongs to that call alone. The reason
// taken is the last one queued, the summary, unless `end` asks for the
// first: the pkcs11 engine queues the token's own reason first.
enum class ErrorEnd { first, last };
std::string takeCryptoReason(ErrorEnd end = ErrorEnd::last);
// Puts `reason` in `why` and returns false: a check's refusal.
inline bool refuse(std::string reason, std::string* why) {
    *why = std::move(reason);
    return false;
}
// The message, and libcrypto's reason behind it when there is one.
std::string withReason(std::string message);
// Keys, certificates and chains are small; a file of megabytes is not one.
// They may come through a pipe, as from a secret store.
constexpr std::size_t largestKeyFile = 16 << 20;
// A key, certificate or signature file, read through the platform's reader
// so an unreadable file is told in the system's own words.
bool readWholeFile(const std::string& path, std::string& bytes, std::string* why);
BioPtr memoryBio(const std::string& bytes);
const EVP_MD* mdOf(DigestAlgorithm algorithm);
// The digest algorithm a signer names, whichever it is.
const ASN1_OBJECT* signerDigestOidOf(CMS_SignerInfo* si);
// The digest a signer names, when it is one fwinspect computes.
std::optional<DigestAlgorithm> signerDigestOf(CMS_SignerInfo* si);
// The package digest in a signer's signed attributes; null when it has none.
const ASN1_OCTET_STRING* messageDigestOf(CMS_SignerInfo* si);
std::size_t digestSize(DigestAlgorithm algorithm);
std::string oneLineName(const X509_NAME* name);
std::string timeText(const ASN1_TIME* time);
bool isEdwardsKey(EVP_PKEY* key);
// The DER the signature covers when signed attributes are present.
std::vector<std::uint8_t> signedAttributesDer(const CMS_SignerInfo* si);
// What a PEM file holds: its certificates, each once in the order first
// met, and its revocation lists; other blocks are passed over.
struct PemContents {
    CertsPtr certs;
    std::vector<CrlPtr> crls;
};
// A PEM file read once; false with a message when it cannot be read, a
// block is damaged, or it holds more different certificates than any
// trust store. `what` names the file in messages.
bool readPemFile(const std::string& path, const char* what, PemContents& into, std::string* why);
// Its certificates alone, at least one.
bool readCertificates(const std::string& path, const char* what, CertsPtr& certs, std::string* why);
bool allowsCodeSigning(X509* cert);
// False, with why `signer` may not sign packages ("is a CA certificate;
// ...", to follow its name): what sign demands and verify checks alike.
bool mayEndEntitySign(X509* signer, std::string* why);
// False, with "17 signers; at most 16 are accepted", for a signature of more
// signers than verify checks. sign asks it before it writes, so it never
// makes a signature that verify refuses.
bool signerCountAccepted(int count, std::string* why);
// Seconds since 1970 UTC of a certificate or attribute time.
std::optional<std::int64_t> secondsOf(const ASN1_TIME* time);
// Whether `signer` may sign under `rules`, checked against `trust` at
// `when` (nothing: now) with `untrusted` as intermediates; false with why not.
bool signerAccepted(X509* signer, STACK_OF(X509) * untrusted, const TrustStore::State& trust, const SignerRules& rules,
                    std::optional<std::int64_t> when, std::string* why);

}  // namespace fw
