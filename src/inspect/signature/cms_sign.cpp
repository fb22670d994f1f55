#include "inspect/signature/crypto_support.h"
#include "inspect/text/plain_text.h"
#include "inspect/signature/pkcs11_key.h"
#include "inspect/signature/signer_state.h"
#include "platform/process_start.h"

#include <openssl/cms.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdlib>
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

// False, with the reason, for a key fwinspect does not sign with.
bool keyAccepted(EVP_PKEY* key, const std::string& path, std::string* why) {
    if (EVP_PKEY_is_a(key, "RSA")) {
        const int bits = EVP_PKEY_get_bits(key);
        if (bits < 2048)
            return refuse("the RSA key in " + path + " has " + std::to_string(bits) + " bits; at least 2048 are needed", why);
        return true;
    }
    if (EVP_PKEY_is_a(key, "EC")) {
        char curve[64] = "";
        EVP_PKEY_get_utf8_string_param(key, OSSL_PKEY_PARAM_GROUP_NAME, curve, sizeof curve, nullptr);
        if (std::strcmp(curve, "prime256v1") == 0 || std::strcmp(curve, "secp384r1") == 0) return true;
        return refuse("the EC key in " + path + " is on curve " + (curve[0] != '\0' ? curve : "unknown") +
                          "; only P-256 and P-384 are accepted",
                      why);
    }
    if (EVP_PKEY_is_a(key, "ED25519")) return true;
    const char* type = EVP_PKEY_get0_type_name(key);
    return refuse("the key in " + path + " is of type " + (type != nullptr ? type : "unknown") +
                      "; keys must be RSA, ECDSA P-256 or P-384, or Ed25519",
                  why);
}

// A PEM key file, opened with the passphrase when it is encrypted.
KeyPtr loadKeyFile(const SignerFiles& files, const char* passphrase, std::string* why) {
    const std::string keyPath = shownName(files.keyPath);
    PassphraseRequest request{passphrase};
    std::string bytes, reason;
    if (!readWholeFile(files.keyPath, bytes, &reason)) {
        *why = "cannot read the key file " + keyPath + ": " + reason;
        return nullptr;
    }
    BioPtr in = memoryBio(bytes);
    KeyPtr key(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, supplyPassphrase, &request) : nullptr);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    if (!key) {
        if (request.asked && request.passphrase == nullptr)
            *why = "the key file " + keyPath + " is encrypted and no passphrase was given";
        else if (request.asked)
            *why = "the passphrase in " + escapeText(files.passphraseEnv) + " does not open the key file " + keyPath;
        else
            *why = "the key file " + keyPath + " holds no PEM private key that can be read";
        takeCryptoReason();
    }
    return key;
}

// The signer's certificate first, then any that follow it in its file.
bool loadCertificates(const SignerFiles& files, const char* pin, CertsPtr& certs, std::string* why) {
    if (!isTokenUri(files.certPath)) return readCertificates(files.certPath, "certificate file", certs, why);
    CertPtr cert = loadTokenCertificate(files.certPath, pin, why);
    certs.reset(sk_X509_new_null());
    if (!cert || !certs || sk_X509_push(certs.get(), cert.get()) <= 0) {
        if (cert) *why = withReason("cannot keep the certificate " + shownUri(files.certPath));
        return false;
    }
    cert.release();
    return true;
}

}  // namespace

// ---- signing

Signer::Signer(std::unique_ptr<State> state) : state_(std::move(state)) {}
Signer::~Signer() = default;

std::unique_ptr<Signer> Signer::load(const SignerFiles& files, std::string* why) {
    auto state = std::make_unique<State>();
    const bool inToken = isTokenUri(files.keyPath);
    const std::string keyPath = shownName(files.keyPath);
    const std::string variable = escapeText(files.passphraseEnv);
    // In UTF-8 on every system, as a passphrase typed on Linux was.
    std::string given;
    const char* secret = nullptr;
    if (!files.passphraseEnv.empty()) {
        if (environmentValue(files.passphraseEnv, &given)) secret = given.c_str();
        if (secret == nullptr) {
            *why = "the environment variable " + variable + ", which should hold the " +
                   (inToken ? "PIN for " : "passphrase of ") + keyPath + ", is not set";
            return nullptr;
        }
    }
    state->key = inToken ? loadTokenKey(files.keyPath, secret, why) : loadKeyFile(files, secret, why);
    if (!state->key) return nullptr;
    if (!keyAccepted(state->key.get(), keyPath, why)) return nullptr;

    CertsPtr certs;
    if (!loadCertificates(files, secret, certs, why)) return nullptr;
    state->cert.reset(sk_X509_shift(certs.get()));
    X509* cert = state->cert.get();
    const std::string certPath = shownName(files.certPath);
    if (X509_check_private_key(cert, state->key.get()) != 1) {
        takeCryptoReason();
        *why = "the key in " + keyPath + " does not belong to the certificate in " + certPath;
        return nullptr;
    }
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0) {
        *why = "the certificate in " + certPath + " expired on " + timeText(X509_get0_notAfter(cert));
        return nullptr;
    }
    if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0) {
        *why = "the certificate in " + certPath + " is not valid before " +
                timeText(X509_get0_notBefore(cert));
        return nullptr;
    }
    if (std::string defect; !mayEndEntitySign(cert, &defect)) {
        *why = "the certificate in " + certPath + " " + defect;
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
                *why = withReason("cannot keep the chain of " + certPath);
                return nullptr;
            }
            next.release();
        }
    }
    ERR_clear_error();
    return std::unique_ptr<Signer>(new Signer(std::move(state)));
}

}  // namespace fw
