#include "inspect/signature/signer_match.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstring>

#include "inspect/signature/crypto_support.h"

namespace fw {
namespace {

constexpr const char* mismatch = "the signature does not match the package";

// RSASSA-PSS as the signature algorithm names it: the hash, MGF1's hash
// and the salt length, with RFC 4055's defaults where they are left out.
struct PssParameters {
    const EVP_MD* md = EVP_sha1();
    const EVP_MD* mgf1 = EVP_sha1();
    int saltLength = 20;
};

const EVP_MD* mdOfAlgor(const X509_ALGOR* algor) {
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algor);
    return EVP_get_digestbyobj(oid);
}

std::optional<PssParameters> pssParameters(const X509_ALGOR* algorithm) {
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR_get0(nullptr, &ptype, &pval, algorithm);
    PssParameters out;
    if (ptype != V_ASN1_SEQUENCE) return ptype == V_ASN1_UNDEF ? std::optional(out) : std::nullopt;
    const auto* sequence = static_cast<const ASN1_STRING*>(pval);
    const unsigned char* at = ASN1_STRING_get0_data(sequence);
    std::unique_ptr<RSA_PSS_PARAMS, Freer<RSA_PSS_PARAMS_free>> params{
        d2i_RSA_PSS_PARAMS(nullptr, &at, ASN1_STRING_length(sequence))};
    if (!params || (params->trailerField && ASN1_INTEGER_get(params->trailerField) != 1)) return std::nullopt;
    if (params->hashAlgorithm) out.md = mdOfAlgor(params->hashAlgorithm);
    if (params->maskGenAlgorithm) {
        const ASN1_OBJECT* mgf = nullptr;
        X509_ALGOR_get0(&mgf, &ptype, &pval, params->maskGenAlgorithm);
        if (OBJ_obj2nid(mgf) != NID_mgf1 || ptype != V_ASN1_SEQUENCE) return std::nullopt;
        const auto* hash = static_cast<const ASN1_STRING*>(pval);
        at = ASN1_STRING_get0_data(hash);
        std::unique_ptr<X509_ALGOR, Freer<X509_ALGOR_free>> mgfHash{d2i_X509_ALGOR(nullptr, &at, ASN1_STRING_length(hash))};
        out.mgf1 = mgfHash ? mdOfAlgor(mgfHash.get()) : nullptr;
    }
    if (params->saltLength) out.saltLength = static_cast<int>(ASN1_INTEGER_get(params->saltLength));
    if (out.md == nullptr || out.mgf1 == nullptr || out.saltLength < 0) return std::nullopt;
    return out;
}

// The padding an RSA signature made over the digest itself uses.
bool setRsaPadding(EVP_PKEY_CTX* ctx, CMS_SignerInfo* si, const EVP_MD* md, std::string* why) {
    X509_ALGOR* signature = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, nullptr, nullptr, &signature);
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, signature);
    if (OBJ_obj2nid(oid) != NID_rsassaPss)
        return (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 && EVP_PKEY_CTX_set_signature_md(ctx, md) == 1) ||
               refuse("the signature does not match the package", why);
    const auto pss = pssParameters(signature);
    if (!pss) return refuse("the signature's RSA-PSS parameters cannot be read", why);
    if (EVP_MD_get_type(pss->md) != EVP_MD_get_type(md))
        return refuse(std::string("the signature's RSA-PSS hash is not the ") + EVP_MD_get0_name(md) + " of its digest", why);
    return (EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PSS_PADDING) == 1 &&
            EVP_PKEY_CTX_set_signature_md(ctx, md) == 1 && EVP_PKEY_CTX_set_rsa_mgf1_md(ctx, pss->mgf1) == 1 &&
            EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, pss->saltLength) == 1) ||
           refuse("the signature's RSA-PSS parameters cannot be used", why);
}

// The signature over the digest itself, as made without signed attributes.
// Ed25519 signs the whole content, which a digest cannot stand in for.
bool bareSignatureMatches(CMS_SignerInfo* si, EVP_PKEY* key, const EVP_MD* md, const std::vector<std::uint8_t>& digest,
                          std::string* why) {
    if (!EVP_PKEY_is_a(key, "RSA") && !EVP_PKEY_is_a(key, "EC"))
        return refuse(std::string("the signature has no signed attributes and a ") + EVP_PKEY_get0_type_name(key) +
                          " key, so it covers the package itself and cannot be checked from its digest",
                      why);
    const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(si);
    KeyCtxPtr ctx{EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr)};
    if (!ctx || EVP_PKEY_verify_init(ctx.get()) != 1) return refuse(mismatch, why);
    if (EVP_PKEY_is_a(key, "RSA") && !setRsaPadding(ctx.get(), si, md, why)) return false;
    const bool ok = EVP_PKEY_verify(ctx.get(), ASN1_STRING_get0_data(signature),
                                    static_cast<std::size_t>(ASN1_STRING_length(signature)), digest.data(),
                                    digest.size()) == 1;
    return ok || refuse(mismatch, why);
}

bool signedAttributesMatch(CMS_SignerInfo* si, EVP_PKEY* key, const std::vector<std::uint8_t>& digest,
                           std::string* why) {
    const ASN1_OCTET_STRING* messageDigest = messageDigestOf(si);
    if (messageDigest == nullptr) return refuse("the signature's signed attributes lack the package's digest", why);
    if (static_cast<std::size_t>(ASN1_STRING_length(messageDigest)) != digest.size() ||
        std::memcmp(ASN1_STRING_get0_data(messageDigest), digest.data(), digest.size()) != 0)
        return refuse(mismatch, why);
    bool ok;
    if (isEdwardsKey(key)) {
        const std::vector<std::uint8_t> covered = signedAttributesDer(si);
        const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(si);
        MdCtxPtr ctx{EVP_MD_CTX_new()};
        ok = !covered.empty() && ctx &&
             EVP_DigestVerifyInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key, nullptr) == 1 &&
             EVP_DigestVerify(ctx.get(), ASN1_STRING_get0_data(signature),
                              static_cast<std::size_t>(ASN1_STRING_length(signature)), covered.data(),
                              covered.size()) == 1;
    } else {
        ok = CMS_SignerInfo_verify(si) == 1;
    }
    return ok || refuse(mismatch, why);
}

}  // namespace

bool signatureMatches(CMS_SignerInfo* si, EVP_PKEY* key, DigestAlgorithm algorithm,
                      const std::vector<std::uint8_t>& digest, std::string* why) {
    const bool matches = CMS_signed_get_attr_count(si) >= 0 ? signedAttributesMatch(si, key, digest, why)
                                                            : bareSignatureMatches(si, key, mdOf(algorithm), digest, why);
    ERR_clear_error();
    return matches;
}

}  // namespace fw
