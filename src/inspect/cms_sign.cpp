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
namespace {

struct PassphraseRequest {
    const char* passphrase = nullptr;  // null: none was given
    bool asked = false;
};

int supplyPassphrase(char* buffer, int size, int, void* userData) {
    auto* request = static_cast<PassphraseRequest*>(userData);
    request->asked = true;
    if (request->passphrase == nullptr) return -1;
    const std::size_t length = std::strlen(request->passphrase);
    if (length > static_cast<std::size_t>(size)) return -1;
    std::memcpy(buffer, request->passphrase, length);
    return static_cast<int>(length);
}

// A key fwinspect signs with, or the reason it does not.
std::string keyRefusal(EVP_PKEY* key, const std::string& path) {
    if (EVP_PKEY_is_a(key, "RSA")) {
        const int bits = EVP_PKEY_get_bits(key);
        if (bits < 2048)
            return "the RSA key in " + path + " has " + std::to_string(bits) + " bits; at least 2048 are needed";
        return "";
    }
    if (EVP_PKEY_is_a(key, "EC")) {
        char curve[64] = "";
        EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, curve, sizeof curve, nullptr);
        if (std::strcmp(curve, "prime256v1") == 0 || std::strcmp(curve, "secp384r1") == 0) return "";
        return "the EC key in " + path + " is on curve " + (curve[0] != '\0' ? curve : "unknown") +
               "; only P-256 and P-384 are accepted";
    }
    if (EVP_PKEY_is_a(key, "ED25519")) return "";
    const char* type = EVP_PKEY_get0_type_name(key);
    return "the key in " + path + " is of type " + (type != nullptr ? type : "unknown") +
           "; keys must be RSA, ECDSA P-256 or P-384, or Ed25519";
}

}  // namespace

// ---- signing

struct Signer::State {
    KeyPtr key;
    CertPtr cert;
    CertsPtr chain;
};

Signer::Signer(std::unique_ptr<State> state) : state_(std::move(state)) {}
Signer::~Signer() = default;

std::unique_ptr<Signer> Signer::load(const SignerFiles& files, std::string* why) {
    auto state = std::make_unique<State>();
    const std::string& keyPath = files.keyPath;
    PassphraseRequest request;
    if (!files.passphraseEnv.empty()) {
        request.passphrase = std::getenv(files.passphraseEnv.c_str());
        if (request.passphrase == nullptr) {
            *why = "the environment variable " + files.passphraseEnv + ", which should hold the passphrase of " +
                    keyPath + ", is not set";
            return nullptr;
        }
    }

    std::string bytes, reason;
    if (!readWholeFile(keyPath, bytes, &reason)) {
        *why = "cannot read the key file " + keyPath + ": " + reason;
        return nullptr;
    }
    BioPtr in = memoryBio(bytes);
    state->key.reset(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, supplyPassphrase, &request) : nullptr);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    if (!state->key) {
        if (request.asked && request.passphrase == nullptr)
            *why = "the key file " + keyPath + " is encrypted and no passphrase was given";
        else if (request.asked)
            *why = "the passphrase in " + files.passphraseEnv + " does not open the key file " + keyPath;
        else
            *why = "the key file " + keyPath + " holds no PEM private key that can be read";
        takeCryptoReason();
        return nullptr;
    }
    *why = keyRefusal(state->key.get(), keyPath);
    if (!(*why).empty()) return nullptr;

    CertsPtr certs;
    if (!readCertificates(files.certPath, "certificate file", certs, why)) return nullptr;
    state->cert.reset(sk_X509_shift(certs.get()));
    X509* cert = state->cert.get();
    if (X509_check_private_key(cert, state->key.get()) != 1) {
        takeCryptoReason();
        *why = "the key in " + keyPath + " does not belong to the certificate in " + files.certPath;
        return nullptr;
    }
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0) {
        *why = "the certificate in " + files.certPath + " expired on " + timeText(X509_get0_notAfter(cert));
        return nullptr;
    }
    if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0) {
        *why = "the certificate in " + files.certPath + " is not valid before " +
                timeText(X509_get0_notBefore(cert));
        return nullptr;
    }
    if (!allowsCodeSigning(cert)) {
        *why = "the certificate in " + files.certPath + " is not for code signing: its extended key usage leaves "
                "code signing out";
        return nullptr;
    }

    // Certificates after the first in the certificate file travel along like
    // a chain. libcrypto refuses to carry one certificate twice, and a full
    // chain file often repeats the signer's, so repeats are dropped.
    state->chain.reset(sk_X509_new_null());
    CertsPtr chain;
    if (!files.chainPath.empty() && !readCertificates(files.chainPath, "chain file", chain, why)) return nullptr;
    for (CertsPtr* from : {&certs, &chain}) {
        while (*from && sk_X509_num(from->get()) > 0) {
            CertPtr next{sk_X509_shift(from->get())};
            bool repeated = X509_cmp(next.get(), cert) == 0;
            for (int i = 0; !repeated && i < sk_X509_num(state->chain.get()); ++i)
                repeated = X509_cmp(next.get(), sk_X509_value(state->chain.get(), i)) == 0;
            if (repeated) continue;
            if (!state->chain || sk_X509_push(state->chain.get(), next.get()) <= 0) {
                *why = withReason("cannot keep the chain of " + files.certPath);
                return nullptr;
            }
            next.release();
        }
    }
    ERR_clear_error();
    return std::unique_ptr<Signer>(new Signer(std::move(state)));
}

std::string Signer::subject() const { return oneLineName(X509_get_subject_name(state_->cert.get())); }

std::vector<std::uint8_t> Signer::sign(const Sha256Digest& packageSha256, std::string* why) const {
    // CMS_PARTIAL everywhere: libcrypto must not hash content it never sees,
    // and the signature is made below once the digest is in place.
    const unsigned int flags = CMS_PARTIAL | CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP;
    EVP_PKEY* key = state_->key.get();
    CmsPtr cms{CMS_sign(nullptr, nullptr, state_->chain.get(), nullptr, flags)};
    CMS_SignerInfo* si = cms ? CMS_add1_signer(cms.get(), state_->cert.get(), key, EVP_sha256(), flags) : nullptr;
    bool ok = si != nullptr &&
              CMS_signed_add1_attr_by_NID(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data),
                                          -1) == 1 &&
              CMS_signed_add1_attr_by_NID(si, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, packageSha256.data(),
                                          static_cast<int>(packageSha256.size())) == 1;
    if (ok && isEdwardsKey(key)) {
        // CMS_SignerInfo_sign in libcrypto 3.0 insists on hashing before an
        // Ed25519 signature, which Ed25519 refuses; so the signing time, the
        // signature and its algorithm are set here.
        std::unique_ptr<ASN1_TIME, Freer<ASN1_TIME_free>> now{X509_gmtime_adj(nullptr, 0)};
        ok = now && CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, now->type, now.get(), -1) == 1;
        const std::vector<std::uint8_t> covered = ok ? signedAttributesDer(si) : std::vector<std::uint8_t>{};
        MdCtxPtr ctx{EVP_MD_CTX_new()};
        std::size_t size = 0;
        ok = !covered.empty() && ctx && EVP_DigestSignInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key,
                                                              nullptr) == 1 &&
             EVP_DigestSign(ctx.get(), nullptr, &size, covered.data(), covered.size()) == 1;
        auto* signature = ok ? static_cast<unsigned char*>(OPENSSL_malloc(size)) : nullptr;
        ok = signature != nullptr && EVP_DigestSign(ctx.get(), signature, &size, covered.data(), covered.size()) == 1;
        if (!ok) {
            OPENSSL_free(signature);
        } else {
            ASN1_STRING_set0(CMS_SignerInfo_get0_signature(si), signature, static_cast<int>(size));
            X509_ALGOR* algorithm = nullptr;
            CMS_SignerInfo_get0_algs(si, nullptr, nullptr, nullptr, &algorithm);
            ok = X509_ALGOR_set0(algorithm, OBJ_nid2obj(EVP_PKEY_get_base_id(key)), V_ASN1_UNDEF, nullptr) == 1;
        }
    } else if (ok) {
        ok = CMS_SignerInfo_sign(si) == 1;
    }
    unsigned char* der = nullptr;
    const int size = ok ? i2d_CMS_ContentInfo(cms.get(), &der) : 0;
    if (size <= 0) {
        *why = withReason("cannot make the signature");
        return {};
    }
    std::vector<std::uint8_t> out(der, der + size);
    OPENSSL_free(der);
    ERR_clear_error();
    return out;
}

}  // namespace fw
