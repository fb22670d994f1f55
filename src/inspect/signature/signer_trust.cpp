// Who may sign a package: the trusted certificates and revocation lists,
// and the rules a signer's certificate and its chain must meet.
#include "inspect/signature/crypto_support.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>
#include <cstring>

#include "inspect/text/plain_text.h"

namespace fw {
namespace {

// RSA and DSA of 2048 bits, EC of 224, no MD5 or SHA-1 on the way: what
// sign demands of its own key.
constexpr int securityLevel = 2;

// Each CRL into the store: one that cannot be taken fails the load.
bool addCrls(X509_STORE* store, const PemContents& contents, bool& added) {
    for (const CrlPtr& crl : contents.crls) {
        if (X509_STORE_add_crl(store, crl.get()) != 1) return false;
        added = true;
    }
    return true;
}

bool addCerts(X509_STORE* store, STACK_OF(X509) * certs) {
    for (int i = 0; i < sk_X509_num(certs); ++i)
        if (X509_STORE_add_cert(store, sk_X509_value(certs, i)) != 1) return false;
    return true;
}

bool commonNameIs(const X509_NAME* name, const std::string& wanted) {
    for (int i = X509_NAME_get_index_by_NID(name, NID_commonName, -1); i >= 0;
         i = X509_NAME_get_index_by_NID(name, NID_commonName, i)) {
        unsigned char* text = nullptr;
        const int size = ASN1_STRING_to_UTF8(&text, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i)));
        const bool same = size >= 0 && wanted == std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(size));
        OPENSSL_free(text);
        if (same) return true;
    }
    return false;
}

bool namedByRules(X509* signer, const SignerRules& rules) {
    if (rules.names.empty()) return true;
    const X509_NAME* subject = X509_get_subject_name(signer);
    const std::string oneLine = oneLineName(subject);
    return std::any_of(rules.names.begin(), rules.names.end(),
                       [&](const std::string& n) { return n == oneLine || commonNameIs(subject, n); });
}

// An issuer that narrows its extended key usage must leave code signing in.
bool issuersAllowCodeSigning(STACK_OF(X509) * chain, std::string* why) {
    for (int i = 1; i < sk_X509_num(chain); ++i) {
        X509* issuer = sk_X509_value(chain, i);
        if (!allowsCodeSigning(issuer))
            return refuse("is not trusted: its issuer " + oneLineName(X509_get_subject_name(issuer)) +
                              " is not for code signing",
                          why);
    }
    return true;
}

// Checked at an earlier time, a CRL issued since is newer knowledge, not a
// fault: it still counts, its revocations with it.
int laterCrlsCount(int ok, X509_STORE_CTX* ctx) {
    return ok != 0 || X509_STORE_CTX_get_error(ctx) == X509_V_ERR_CRL_NOT_YET_VALID ? 1 : 0;
}

bool chainTrusted(X509* signer, STACK_OF(X509) * untrusted, const TrustStore::State& trust, const SignerRules& rules,
                  std::optional<std::int64_t> when, std::string* why) {
    StoreCtxPtr ctx{X509_STORE_CTX_new()};
    if (!ctx || X509_STORE_CTX_init(ctx.get(), trust.store.get(), signer, untrusted) != 1)
        return refuse(withReason("cannot be checked"), why);
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    X509_VERIFY_PARAM_set_auth_level(param, securityLevel);
    unsigned long flags = 0;
    if (trust.hasCrls) flags |= X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL;
    if (rules.partialChain) flags |= X509_V_FLAG_PARTIAL_CHAIN;
    X509_VERIFY_PARAM_set_flags(param, flags);
    if (when) {
        X509_VERIFY_PARAM_set_time(param, static_cast<time_t>(*when));
        X509_STORE_CTX_set_verify_cb(ctx.get(), laterCrlsCount);
    }
    if (X509_verify_cert(ctx.get()) != 1) {
        const std::string reason = X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
        ERR_clear_error();
        return refuse("is not trusted: " + reason, why);
    }
    return issuersAllowCodeSigning(X509_STORE_CTX_get0_chain(ctx.get()), why);
}

}  // namespace

TrustStore::TrustStore(std::unique_ptr<State> state) : state_(std::move(state)) {}
TrustStore::~TrustStore() = default;

// The CA file is read once for its certificates and its CRLs alike.
std::unique_ptr<TrustStore> TrustStore::load(const TrustFiles& files, std::string* why) {
    PemContents ca;
    if (!readPemFile(files.caPath, "CA file", ca, why)) return nullptr;
    if (sk_X509_num(ca.certs.get()) == 0) {
        *why = "the CA file " + escapePath(files.caPath) + " holds no PEM certificate";
        return nullptr;
    }
    auto state = std::make_unique<State>();
    if (!state->store || !state->signerCerts || !addCerts(state->store.get(), ca.certs.get()) ||
        !addCrls(state->store.get(), ca, state->hasCrls)) {
        *why = withReason("cannot use the CA file " + escapePath(files.caPath));
        return nullptr;
    }
    for (const std::string& path : files.crlPaths) {
        PemContents crls;
        if (!readPemFile(path, "CRL file", crls, why)) return nullptr;
        if (crls.crls.empty()) {
            *why = "the CRL file " + escapePath(path) + " holds no PEM CRL";
            return nullptr;
        }
        if (!addCrls(state->store.get(), crls, state->hasCrls)) {
            *why = withReason("cannot use the CRL file " + escapePath(path));
            return nullptr;
        }
    }
    if (!files.signerCertPath.empty() &&
        !readCertificates(files.signerCertPath, "signer certificate file", state->signerCerts, why))
        return nullptr;
    return std::unique_ptr<TrustStore>(new TrustStore(std::move(state)));
}

std::optional<std::int64_t> secondsOf(const ASN1_TIME* time) {
    using TimePtr = std::unique_ptr<ASN1_TIME, Freer<ASN1_TIME_free>>;
    const TimePtr epoch{ASN1_TIME_set(nullptr, 0)};
    int days = 0, seconds = 0;
    if (!epoch || ASN1_TIME_diff(&days, &seconds, epoch.get(), time) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return std::int64_t{days} * 86400 + seconds;
}

std::optional<std::int64_t> dayOf(const std::string& text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    std::string digits = text.substr(0, 4) + text.substr(5, 2) + text.substr(8, 2);
    if (digits.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    using TimePtr = std::unique_ptr<ASN1_TIME, Freer<ASN1_TIME_free>>;
    const TimePtr time{ASN1_TIME_new()};
    // GeneralizedTime: libcrypto checks the month and the day within it.
    if (!time || ASN1_TIME_set_string(time.get(), (digits + "000000Z").c_str()) != 1 ||
        ASN1_TIME_check(time.get()) != 1) {
        ERR_clear_error();
        return std::nullopt;
    }
    return secondsOf(time.get());
}

bool signerAccepted(X509* signer, STACK_OF(X509) * untrusted, const TrustStore::State& trust, const SignerRules& rules,
                    std::optional<std::int64_t> when, std::string* why) {
    std::string defect;
    if (mayEndEntitySign(signer, &defect) && chainTrusted(signer, untrusted, trust, rules, when, &defect) &&
        (namedByRules(signer, rules) || refuse("is not among the signers named with --signer", &defect)))
        return true;
    return refuse("the signer " + oneLineName(X509_get_subject_name(signer)) + " " + defect, why);
}

}  // namespace fw
