#include "inspect/crypto_support.h"

#include <openssl/cms.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>

namespace fw {

// ---- trust

struct TrustStore::State {
    StorePtr store{X509_STORE_new()};
};

TrustStore::TrustStore(std::unique_ptr<State> state) : state_(std::move(state)) {}
TrustStore::~TrustStore() = default;

std::unique_ptr<TrustStore> TrustStore::load(const std::string& caPath, std::string* why) {
    CertsPtr certs;
    if (!readCertificates(caPath, "CA file", certs, why)) return nullptr;
    auto state = std::make_unique<State>();
    for (int i = 0; state->store && i < sk_X509_num(certs.get()); ++i) {
        if (X509_STORE_add_cert(state->store.get(), sk_X509_value(certs.get(), i)) != 1) {
            *why = withReason("cannot use the certificates of the CA file " + caPath);
            return nullptr;
        }
    }
    if (!state->store) {
        *why = withReason("cannot use the certificates of the CA file " + caPath);
        return nullptr;
    }
    return std::unique_ptr<TrustStore>(new TrustStore(std::move(state)));
}

// ---- verifying

struct DetachedSignature::State {
    CmsPtr cms;
    CMS_SignerInfo* si = nullptr;  // owned by cms
    std::optional<DigestAlgorithm> algorithm;
    std::string defect;  // why the bytes are no signature that can be checked
};

DetachedSignature::DetachedSignature(std::unique_ptr<State> state) : state_(std::move(state)) {}
DetachedSignature::~DetachedSignature() = default;
DetachedSignature::DetachedSignature(DetachedSignature&&) noexcept = default;
DetachedSignature& DetachedSignature::operator=(DetachedSignature&&) noexcept = default;

DetachedSignature DetachedSignature::parse(const std::uint8_t* der, std::size_t size) {
    auto state = std::make_unique<State>();
    State& s = *state;
    DetachedSignature result(std::move(state));
    if (size == 0) {
        s.defect = "the signature file is empty";
        return result;
    }
    const unsigned char* at = der;
    const long length = static_cast<long>(std::min<std::size_t>(size, 0x7fffffff));
    s.cms.reset(d2i_CMS_ContentInfo(nullptr, &at, length));
    ERR_clear_error();
    if (!s.cms) {
        s.defect = "the signature file is not a CMS signature, or it is cut short";
        return result;
    }
    if (static_cast<std::size_t>(at - der) != size) {
        s.defect = "the signature file has " + std::to_string(size - static_cast<std::size_t>(at - der)) +
                   " stray bytes after the signature";
        return result;
    }
    const int type = OBJ_obj2nid(CMS_get0_type(s.cms.get()));
    if (type != NID_pkcs7_signed) {
        s.defect = std::string("the signature file holds CMS ") +
                   (type != NID_undef ? OBJ_nid2ln(type) : "content of an unknown type") + ", not a signature";
        return result;
    }
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(s.cms.get());
    const int count = sk_CMS_SignerInfo_num(signers);
    if (count != 1) {
        s.defect = count <= 0 ? "the signature has no signer"
                              : "the signature has " + std::to_string(count) + " signers; only one is supported";
        return result;
    }
    s.si = sk_CMS_SignerInfo_value(signers, 0);
    X509_ALGOR* digest = nullptr;
    CMS_SignerInfo_get0_algs(s.si, nullptr, nullptr, &digest, nullptr);
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, digest);
    switch (OBJ_obj2nid(oid)) {
        case NID_sha256: s.algorithm = DigestAlgorithm::sha256; break;
        case NID_sha384: s.algorithm = DigestAlgorithm::sha384; break;
        case NID_sha512: s.algorithm = DigestAlgorithm::sha512; break;
        default: {
            char name[80] = "";
            OBJ_obj2txt(name, sizeof name, oid, 0);
            s.defect = std::string("the signature uses the digest ") + name +
                       "; only SHA-256, SHA-384 and SHA-512 are supported";
        }
    }
    // Ties the signer to its certificate among those carried inside.
    CMS_set1_signers_certs(s.cms.get(), nullptr, 0);
    ERR_clear_error();
    return result;
}

std::optional<DigestAlgorithm> DetachedSignature::digestAlgorithm() const {
    if (!state_->defect.empty()) return std::nullopt;
    return state_->algorithm;
}

namespace {

// The signature over the digest itself, as made without signed attributes.
// Ed25519 signs the whole content, which a digest cannot stand in for.
std::string checkBareSignature(CMS_SignerInfo* si, EVP_PKEY* key, const EVP_MD* md,
                               const std::vector<std::uint8_t>& digest) {
    if (!EVP_PKEY_is_a(key, "RSA") && !EVP_PKEY_is_a(key, "EC"))
        return std::string("the signature has no signed attributes and a ") + EVP_PKEY_get0_type_name(key) +
               " key, so it covers the package itself and cannot be checked from its digest";
    const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(si);
    KeyCtxPtr ctx{EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr)};
    const bool ok = ctx && EVP_PKEY_verify_init(ctx.get()) == 1 &&
                    (!EVP_PKEY_is_a(key, "RSA") ||
                     (EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1 &&
                      EVP_PKEY_CTX_set_signature_md(ctx.get(), md) == 1)) &&
                    EVP_PKEY_verify(ctx.get(), ASN1_STRING_get0_data(signature),
                                    static_cast<std::size_t>(ASN1_STRING_length(signature)), digest.data(),
                                    digest.size()) == 1;
    return ok ? "" : "the signature does not match the package";
}

std::string checkSignedAttributes(CMS_SignerInfo* si, EVP_PKEY* key, const std::vector<std::uint8_t>& digest) {
    const auto* messageDigest = static_cast<const ASN1_OCTET_STRING*>(
        CMS_signed_get0_data_by_OBJ(si, OBJ_nid2obj(NID_pkcs9_messageDigest), -3, V_ASN1_OCTET_STRING));
    if (messageDigest == nullptr) return "the signature's signed attributes lack the package's digest";
    if (static_cast<std::size_t>(ASN1_STRING_length(messageDigest)) != digest.size() ||
        std::memcmp(ASN1_STRING_get0_data(messageDigest), digest.data(), digest.size()) != 0)
        return "the signature does not match the package";
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
    return ok ? "" : "the signature does not match the package";
}

}  // namespace

SignatureVerdict DetachedSignature::verify(const std::vector<std::uint8_t>& packageDigest,
                                           const TrustStore& trust) const {
    SignatureVerdict verdict;
    const State& s = *state_;
    if (!s.defect.empty()) {
        verdict.checked = true;
        verdict.defect = s.defect;
        return verdict;
    }
    if (packageDigest.size() != digestSize(*s.algorithm)) {
        verdict.defect = std::string("the package's digest was not computed with ") +
                         digestAlgorithmName(*s.algorithm) + " as the signature needs";
        return verdict;
    }
    EVP_PKEY* key = nullptr;
    X509* signer = nullptr;
    CMS_SignerInfo_get0_algs(s.si, &key, &signer, nullptr, nullptr);
    verdict.checked = true;
    if (signer == nullptr || key == nullptr) {
        verdict.defect = "the signature does not carry its signer's certificate";
        return verdict;
    }
    verdict.signerSubject = oneLineName(X509_get_subject_name(signer));

    if (CMS_signed_get_attr_count(s.si) > 0)
        verdict.defect = checkSignedAttributes(s.si, key, packageDigest);
    else
        verdict.defect = checkBareSignature(s.si, key, mdOf(*s.algorithm), packageDigest);
    ERR_clear_error();
    if (!verdict.defect.empty()) return verdict;

    CertsPtr carried{CMS_get1_certs(s.cms.get())};
    StoreCtxPtr ctx{X509_STORE_CTX_new()};
    if (!ctx || X509_STORE_CTX_init(ctx.get(), trust.state_->store.get(), signer, carried.get()) != 1) {
        verdict.checked = false;
        verdict.defect = withReason("cannot check the signer's certificate");
        return verdict;
    }
    if (X509_verify_cert(ctx.get()) != 1) {
        verdict.defect = std::string("the signer is not trusted: ") +
                         X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
        ERR_clear_error();
        return verdict;
    }
    if (!allowsCodeSigning(signer)) {
        verdict.defect = "the signer's certificate is not for code signing: its extended key usage leaves code "
                         "signing out";
        return verdict;
    }
    verdict.valid = true;
    return verdict;
}

}  // namespace fw
