#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "inspect/signature/cms_attributes.h"
#include "inspect/signature/crypto_support.h"
#include "inspect/text/plain_text.h"
#include "inspect/signature/signer_state.h"

namespace fw {

std::string Signer::subject() const { return oneLineName(X509_get_subject_name(state_->cert.get())); }

DigestAlgorithm Signer::digestAlgorithm() const {
    return isEdwardsKey(state_->key.get()) ? DigestAlgorithm::sha512 : DigestAlgorithm::sha256;
}

std::vector<std::uint8_t> Signer::sign(const PackageDigests& digests, std::string* why) const {
    const std::unique_ptr<SignatureDraft> draft = SignatureDraft::start(why);
    if (!draft || !draft->add(*this, digests, why)) return {};
    return draft->finish(why);
}

struct SignatureDraft::State {
    CmsPtr cms;
    std::string file;  // where it was read from; empty for a new one
};

SignatureDraft::SignatureDraft(std::unique_ptr<State> state) : state_(std::move(state)) {}
SignatureDraft::~SignatureDraft() = default;

namespace {

// CMS_PARTIAL everywhere: libcrypto must not hash content it never sees,
// and each signature is made once its digest is in place.
constexpr unsigned int signingFlags = CMS_PARTIAL | CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP;
constexpr const char* cannotMake = "cannot make the signature";

// libcrypto 3.0 refuses to carry one certificate twice, and signers often
// share their issuers: each certificate goes in once.
bool carry(CMS_ContentInfo* cms, X509* cert) {
    CertsPtr carried{CMS_get1_certs(cms)};
    for (int i = 0; carried && i < sk_X509_num(carried.get()); ++i)
        if (X509_cmp(cert, sk_X509_value(carried.get(), i)) == 0) return true;
    return CMS_add1_cert(cms, cert) == 1;
}

// CMS_SignerInfo_sign in libcrypto 3.0 insists on hashing before an
// Ed25519 signature, which Ed25519 refuses; so the signing time, the
// signature and its algorithm are set here.
bool signEdwards(CMS_SignerInfo* si, EVP_PKEY* key) {
    std::unique_ptr<ASN1_TIME, Freer<ASN1_TIME_free>> now{X509_gmtime_adj(nullptr, 0)};
    bool ok = now && CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, now->type, now.get(), -1) == 1;
    const std::vector<std::uint8_t> covered = ok ? signedAttributesDer(si) : std::vector<std::uint8_t>{};
    MdCtxPtr ctx{EVP_MD_CTX_new()};
    std::size_t size = 0;
    ok = !covered.empty() && ctx &&
         EVP_DigestSignInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key, nullptr) == 1 &&
         EVP_DigestSign(ctx.get(), nullptr, &size, covered.data(), covered.size()) == 1;
    auto* signature = ok ? static_cast<unsigned char*>(OPENSSL_malloc(size)) : nullptr;
    ok = signature != nullptr && EVP_DigestSign(ctx.get(), signature, &size, covered.data(), covered.size()) == 1;
    if (!ok) {
        OPENSSL_free(signature);
        return false;
    }
    ASN1_STRING_set0(CMS_SignerInfo_get0_signature(si), signature, static_cast<int>(size));
    X509_ALGOR* algorithm = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, nullptr, nullptr, &algorithm);
    return X509_ALGOR_set0(algorithm, OBJ_nid2obj(EVP_PKEY_get_base_id(key)), V_ASN1_UNDEF, nullptr) == 1;
}

// False, with why, when the signature in `file` cannot take further signers.
bool resumable(CMS_ContentInfo* cms, const std::string& file, std::string* why) {
    if (OBJ_obj2nid(CMS_get0_type(cms)) != NID_pkcs7_signed) return refuse("the file " + file + " holds no CMS signature", why);
    if (CMS_is_detached(cms) != 1)
        return refuse("the signature " + file + " carries its content; only detached ones take signers", why);
    if (OBJ_obj2nid(CMS_get0_eContentType(cms)) != NID_pkcs7_data)
        return refuse("the signature " + file + " signs content of another type than data", why);
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
    if (sk_CMS_SignerInfo_num(signers) <= 0) return refuse("the signature " + file + " has no signer to add to", why);
    for (int i = 0; i < sk_CMS_SignerInfo_num(signers); ++i) {
        CMS_SignerInfo* si = sk_CMS_SignerInfo_value(signers, i);
        const std::string which = "signer " + std::to_string(i + 1) + " of the signature " + file;
        if (!signerDigestOf(si)) return refuse(which + " uses a digest other than SHA-256, SHA-384 or SHA-512", why);
        if (messageDigestOf(si) == nullptr)
            return refuse(which + " has no signed attributes, so its package cannot be told from its digest", why);
        // verify holds every signer to these rules; one that breaks them
        // would spoil the signature whatever is added.
        if (std::string defect; !attributesAcceptable(si, cms, &defect)) return refuse(which + ": " + defect, why);
    }
    return true;
}

}  // namespace

std::unique_ptr<SignatureDraft> SignatureDraft::start(std::string* why) {
    auto state = std::make_unique<State>();
    state->cms.reset(CMS_sign(nullptr, nullptr, nullptr, nullptr, signingFlags));
    if (!state->cms) {
        *why = withReason(cannotMake);
        return nullptr;
    }
    return std::unique_ptr<SignatureDraft>(new SignatureDraft(std::move(state)));
}

std::unique_ptr<SignatureDraft> SignatureDraft::resume(const std::vector<std::uint8_t>& der, const std::string& file,
                                                       std::string* why) {
    auto state = std::make_unique<State>();
    state->file = file;
    const unsigned char* at = der.data();
    state->cms.reset(d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(der.size())));
    ERR_clear_error();
    if (!state->cms || static_cast<std::size_t>(at - der.data()) != der.size()) {
        *why = "the file " + file + " holds no CMS signature in DER, or more than one";
        return nullptr;
    }
    if (!resumable(state->cms.get(), file, why)) return nullptr;
    // Adding a signer writes the whole signature anew, in DER; bytes that
    // were not DER would come out changed, and a checker that hashes the
    // signed attributes as they were sent would no longer accept them.
    unsigned char* again = nullptr;
    const int size = i2d_CMS_ContentInfo(state->cms.get(), &again);
    const bool same = size == static_cast<int>(der.size()) && std::memcmp(again, der.data(), der.size()) == 0;
    OPENSSL_free(again);
    if (!same) {
        *why = "the signature " + file + " is not in DER, so it cannot take signers without changing the earlier ones";
        ERR_clear_error();
        return nullptr;
    }
    // Ties each signer to its certificate among those carried inside, for messages.
    CMS_set1_signers_certs(state->cms.get(), nullptr, 0);
    ERR_clear_error();
    return std::unique_ptr<SignatureDraft>(new SignatureDraft(std::move(state)));
}

int SignatureDraft::signerCount() const { return sk_CMS_SignerInfo_num(CMS_get0_SignerInfos(state_->cms.get())); }

bool SignatureDraft::takes(std::size_t more, std::string* why) const {
    const std::size_t count = static_cast<std::size_t>(signerCount()) + more;
    if (std::string tooMany; !signerCountAccepted(static_cast<int>(std::min<std::size_t>(count, INT_MAX)), &tooMany))
        return refuse("the signature would have " + tooMany, why);
    return true;
}

std::vector<DigestAlgorithm> SignatureDraft::heldAlgorithms() const {
    std::vector<DigestAlgorithm> held;
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(state_->cms.get());
    for (int i = 0; i < sk_CMS_SignerInfo_num(signers); ++i)
        if (const auto algorithm = signerDigestOf(sk_CMS_SignerInfo_value(signers, i))) held.push_back(*algorithm);
    return held;
}

bool SignatureDraft::coversPackage(const PackageDigests& digests, std::string* why) const {
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(state_->cms.get());
    for (int i = 0; i < sk_CMS_SignerInfo_num(signers); ++i) {
        CMS_SignerInfo* si = sk_CMS_SignerInfo_value(signers, i);
        const auto found = digests.find(*signerDigestOf(si));
        const ASN1_OCTET_STRING* held = messageDigestOf(si);
        if (found != digests.end() && static_cast<std::size_t>(ASN1_STRING_length(held)) == found->second.size() &&
            std::memcmp(ASN1_STRING_get0_data(held), found->second.data(), found->second.size()) == 0)
            continue;
        X509* cert = nullptr;
        CMS_SignerInfo_get0_algs(si, nullptr, &cert, nullptr, nullptr);
        *why = "the signature " + state_->file + " is of another package: its signer " +
               (cert != nullptr ? escapeText(oneLineName(X509_get_subject_name(cert))) : std::to_string(i + 1)) +
               " signed other bytes; no signer added";
        return false;
    }
    return true;
}

bool SignatureDraft::add(const Signer& signer, const PackageDigests& digests, std::string* why) {
    const Signer::State& s = *signer.state_;
    CMS_ContentInfo* cms = state_->cms.get();
    EVP_PKEY* key = s.key.get();
    const DigestAlgorithm algorithm = signer.digestAlgorithm();
    const auto digest = digests.find(algorithm);
    if (digest == digests.end() || digest->second.size() != digestSize(algorithm)) {
        *why = std::string("the package's ") + digestAlgorithmName(algorithm) + " digest was not computed";
        return false;
    }
    bool ok = carry(cms, s.cert.get());
    for (int i = 0; ok && i < sk_X509_num(s.chain.get()); ++i) ok = carry(cms, sk_X509_value(s.chain.get(), i));
    CMS_SignerInfo* si =
        ok ? CMS_add1_signer(cms, s.cert.get(), key, mdOf(algorithm), signingFlags | CMS_NOCERTS) : nullptr;
    ok = si != nullptr &&
         CMS_signed_add1_attr_by_NID(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_data), -1) ==
             1 &&
         CMS_signed_add1_attr_by_NID(si, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, digest->second.data(),
                                     static_cast<int>(digest->second.size())) == 1 &&
         (isEdwardsKey(key) ? signEdwards(si, key) : CMS_SignerInfo_sign(si) == 1);
    if (!ok) {
        *why = withReason(std::string(cannotMake) + " of " + escapeText(signer.subject()));
        return false;
    }
    ERR_clear_error();
    return true;
}

std::vector<std::uint8_t> SignatureDraft::finish(std::string* why) const {
    unsigned char* der = nullptr;
    const int size = i2d_CMS_ContentInfo(state_->cms.get(), &der);
    if (size <= 0) {
        *why = withReason(cannotMake);
        return {};
    }
    std::vector<std::uint8_t> out(der, der + size);
    OPENSSL_free(der);
    ERR_clear_error();
    return out;
}

}  // namespace fw
