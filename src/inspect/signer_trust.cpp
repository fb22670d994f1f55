// Who may sign a package: the trusted certificates and revocation lists,
// and the rules a signer's certificate and its chain must meet.
#include "inspect/crypto_support.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>
#include <cstring>

namespace fw {
namespace {

// RSA and DSA of 2048 bits, EC of 224, no MD5 or SHA-1 on the way: what
// sign demands of its own key.
constexpr int securityLevel = 2;

// Every CRL of a PEM file into the store; a file with certificates only adds none.
bool addCrls(X509_STORE* store, const std::string& bytes, bool& added) {
    BioPtr in = memoryBio(bytes);
    STACK_OF(X509_INFO)* infos = in ? PEM_X509_INFO_read_bio(in.get(), nullptr, nullptr, nullptr) : nullptr;
    if (infos == nullptr) return false;
    bool ok = true;
    for (int i = 0; i < sk_X509_INFO_num(infos); ++i) {
        X509_INFO* info = sk_X509_INFO_value(infos, i);
        if (info->crl == nullptr) continue;
        ok = ok && X509_STORE_add_crl(store, info->crl) == 1;
        added = true;
    }
    sk_X509_INFO_pop_free(infos, X509_INFO_free);
    return ok;
}

bool readCrls(X509_STORE* store, const std::string& path, const char* what, bool mustHold, bool& added,
              std::string* why) {
    std::string bytes, reason;
    if (!readWholeFile(path, bytes, &reason)) {
        *why = std::string("cannot read the ") + what + " " + path + ": " + reason;
        return false;
    }
    bool here = false;
    if (!addCrls(store, bytes, here)) {
        *why = withReason(std::string("the ") + what + " " + path + " holds a CRL that cannot be read");
        return false;
    }
    ERR_clear_error();
    if (mustHold && !here) {
        *why = std::string("the ") + what + " " + path + " holds no PEM CRL";
        return false;
    }
    added = added || here;
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
std::string issuersDefect(STACK_OF(X509) * chain) {
    for (int i = 1; i < sk_X509_num(chain); ++i) {
        X509* issuer = sk_X509_value(chain, i);
        if (!allowsCodeSigning(issuer))
            return "is not trusted: its issuer " + oneLineName(X509_get_subject_name(issuer)) +
                   " is not for code signing";
    }
    return "";
}

// Checked at an earlier time, a CRL issued since is newer knowledge, not a
// fault: it still counts, its revocations with it.
int laterCrlsCount(int ok, X509_STORE_CTX* ctx) {
    return ok != 0 || X509_STORE_CTX_get_error(ctx) == X509_V_ERR_CRL_NOT_YET_VALID ? 1 : 0;
}

std::string chainDefect(X509* signer, STACK_OF(X509) * untrusted, const TrustStore::State& trust,
                        const SignerRules& rules, std::optional<std::int64_t> when) {
    StoreCtxPtr ctx{X509_STORE_CTX_new()};
    if (!ctx || X509_STORE_CTX_init(ctx.get(), trust.store.get(), signer, untrusted) != 1)
        return withReason("cannot be checked");
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
        return "is not trusted: " + reason;
    }
    return issuersDefect(X509_STORE_CTX_get0_chain(ctx.get()));
}

}  // namespace

TrustStore::TrustStore(std::unique_ptr<State> state) : state_(std::move(state)) {}
TrustStore::~TrustStore() = default;

std::unique_ptr<TrustStore> TrustStore::load(const TrustFiles& files, std::string* why) {
    CertsPtr certs;
    if (!readCertificates(files.caPath, "CA file", certs, why)) return nullptr;
    auto state = std::make_unique<State>();
    if (!state->store || !state->signerCerts || !addCerts(state->store.get(), certs.get())) {
        *why = withReason("cannot use the certificates of the CA file " + files.caPath);
        return nullptr;
    }
    if (!readCrls(state->store.get(), files.caPath, "CA file", false, state->hasCrls, why)) return nullptr;
    for (const std::string& path : files.crlPaths)
        if (!readCrls(state->store.get(), path, "CRL file", true, state->hasCrls, why)) return nullptr;
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

std::string signerDefect(X509* signer, STACK_OF(X509) * untrusted, const TrustStore::State& trust,
                         const SignerRules& rules, std::optional<std::int64_t> when) {
    std::string defect = endEntityDefect(signer);
    if (defect.empty()) defect = chainDefect(signer, untrusted, trust, rules, when);
    if (defect.empty() && !namedByRules(signer, rules)) defect = "is not among the signers named with --signer";
    return defect.empty() ? "" : "the signer " + oneLineName(X509_get_subject_name(signer)) + " " + defect;
}

}  // namespace fw
