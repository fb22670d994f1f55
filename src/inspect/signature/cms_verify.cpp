#include "inspect/signature/crypto_support.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>

#include "inspect/signature/cms_attributes.h"
#include "inspect/signature/signer_match.h"

namespace fw {

struct DetachedSignature::State {
    std::vector<std::uint8_t> der;  // the DER of a PEM signature
    CmsPtr cms;
    std::vector<CMS_SignerInfo*> signers;  // owned by cms
    std::vector<DigestAlgorithm> signerAlgorithms;
    std::string defect;  // why the bytes are no signature that can be checked
};

DetachedSignature::DetachedSignature(std::unique_ptr<State> state) : state_(std::move(state)) {}
DetachedSignature::~DetachedSignature() = default;
DetachedSignature::DetachedSignature(DetachedSignature&&) noexcept = default;
DetachedSignature& DetachedSignature::operator=(DetachedSignature&&) noexcept = default;

namespace {

constexpr const char* notCms = "the signature file is not a CMS signature, or it is cut short";

bool isPem(const std::uint8_t* bytes, std::size_t size) {
    constexpr char begin[] = "-----BEGIN ";
    return size >= sizeof begin - 1 && std::memcmp(bytes, begin, sizeof begin - 1) == 0;
}

// The DER inside a "CMS" or "PKCS7" PEM block; empty and a defect otherwise.
std::vector<std::uint8_t> derOfPem(const std::uint8_t* bytes, std::size_t size, std::string& defect) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    BioPtr in = memoryBio(text);
    char *name = nullptr, *header = nullptr;
    unsigned char* data = nullptr;
    long length = 0;
    std::vector<std::uint8_t> der;
    if (!in || PEM_read_bio(in.get(), &name, &header, &data, &length) != 1) {
        defect = notCms;
    } else if (std::strcmp(name, PEM_STRING_CMS) != 0 && std::strcmp(name, PEM_STRING_PKCS7) != 0) {
        defect = "the signature file holds PEM " + std::string(name) + ", not a CMS signature";
    } else {
        der.assign(data, data + length);
    }
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
    ERR_clear_error();
    return der;
}

std::optional<DigestAlgorithm> algorithmOf(CMS_SignerInfo* si, std::string& defect) {
    if (const auto algorithm = signerDigestOf(si)) return algorithm;
    char name[80] = "";
    OBJ_obj2txt(name, sizeof name, signerDigestOidOf(si), 0);
    defect = std::string("the signature uses the digest ") + name + "; only SHA-256, SHA-384 and SHA-512 are supported";
    return std::nullopt;
}

// Each signer and the digest it asks for; false, with why, when one is unusable.
bool readSigners(CMS_ContentInfo* cms, std::vector<CMS_SignerInfo*>& out, std::vector<DigestAlgorithm>& algorithms,
                 std::string* why) {
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(cms);
    const int count = sk_CMS_SignerInfo_num(signers);
    if (count <= 0) return refuse("the signature has no signer", why);
    if (std::string tooMany; !signerCountAccepted(count, &tooMany)) return refuse("the signature has " + tooMany, why);
    for (int i = 0; i < count; ++i) {
        CMS_SignerInfo* si = sk_CMS_SignerInfo_value(signers, i);
        const auto algorithm = algorithmOf(si, *why);
        if (!algorithm) return false;
        out.push_back(si);
        algorithms.push_back(*algorithm);
    }
    return true;
}

}  // namespace

DetachedSignature DetachedSignature::parse(const std::uint8_t* bytes, std::size_t size) {
    auto state = std::make_unique<State>();
    State& s = *state;
    DetachedSignature result(std::move(state));
    if (size == 0) {
        s.defect = "the signature file is empty";
        return result;
    }
    if (isPem(bytes, size)) {
        s.der = derOfPem(bytes, size, s.defect);
        if (!s.defect.empty()) return result;
        bytes = s.der.data();
        size = s.der.size();
    }
    const unsigned char* at = bytes;
    const long length = static_cast<long>(std::min<std::size_t>(size, 0x7fffffff));
    s.cms.reset(d2i_CMS_ContentInfo(nullptr, &at, length));
    ERR_clear_error();
    if (!s.cms) {
        s.defect = notCms;
        return result;
    }
    if (static_cast<std::size_t>(at - bytes) != size) {
        s.defect = "the signature file has " + std::to_string(size - static_cast<std::size_t>(at - bytes)) +
                   " stray bytes after the signature";
        return result;
    }
    const int type = OBJ_obj2nid(CMS_get0_type(s.cms.get()));
    if (type != NID_pkcs7_signed) {
        s.defect = std::string("the signature file holds CMS ") +
                   (type != NID_undef ? OBJ_nid2ln(type) : "content of an unknown type") + ", not a signature";
        return result;
    }
    readSigners(s.cms.get(), s.signers, s.signerAlgorithms, &s.defect);
    return result;
}

std::vector<DigestAlgorithm> DetachedSignature::digestAlgorithms() const {
    std::vector<DigestAlgorithm> wanted;
    if (!state_->defect.empty()) return wanted;
    for (DigestAlgorithm a : state_->signerAlgorithms)
        if (std::find(wanted.begin(), wanted.end(), a) == wanted.end()) wanted.push_back(a);
    return wanted;
}

namespace {

std::optional<std::int64_t> checkTime(const SignerRules& rules, const std::optional<std::int64_t>& signedAt) {
    if (rules.at.kind == CheckTime::Kind::given) return rules.at.given;
    if (rules.at.kind == CheckTime::Kind::signing) return signedAt;
    return std::nullopt;
}

SignerVerdict judgeSigner(CMS_SignerInfo* si, CMS_ContentInfo* cms, DigestAlgorithm algorithm,
                          const std::vector<std::uint8_t>& digest, STACK_OF(X509) * untrusted,
                          const TrustStore::State& trust, const SignerRules& rules) {
    SignerVerdict v;
    EVP_PKEY* key = nullptr;
    X509* signer = nullptr;
    CMS_SignerInfo_get0_algs(si, &key, &signer, nullptr, nullptr);
    if (signer != nullptr) v.subject = oneLineName(X509_get_subject_name(signer));
    const ASN1_TIME* signingTime = signedSigningTime(si);
    if (signingTime != nullptr) v.signingTime = timeText(signingTime);
    v.matches = attributesAcceptable(si, cms, &v.defect) &&
                (signer != nullptr && key != nullptr ? signatureMatches(si, key, algorithm, digest, &v.defect)
                                                     : refuse("the signature does not carry its signer's certificate", &v.defect));
    if (!v.matches) return v;
    const std::optional<std::int64_t> signedAt = signingTime ? secondsOf(signingTime) : std::nullopt;
    if (rules.at.kind == CheckTime::Kind::signing && !signedAt)
        v.defect = "the signer " + v.subject + " gave no signing time to check its certificate at (--at signing)";
    else
        v.accepted = signerAccepted(signer, untrusted, trust, rules, checkTime(rules, signedAt), &v.defect);
    // A signature outlives its certificate: say when checking it at its
    // signing time would accept it.
    std::string then;
    if (!v.accepted && rules.at.kind == CheckTime::Kind::now && signedAt &&
        signerAccepted(signer, untrusted, trust, rules, signedAt, &then))
        v.defect += "; it was trusted when it signed, at " + v.signingTime + " (--at signing checks it then)";
    return v;
}

// Every signer must match the package, and one must be accepted.
void summarise(SignatureVerdict& verdict) {
    const auto& signers = verdict.signers;
    const auto accepted = std::find_if(signers.begin(), signers.end(), [](const SignerVerdict& v) { return v.accepted; });
    const auto known = std::find_if(signers.begin(), signers.end(), [](const SignerVerdict& v) { return !v.subject.empty(); });
    const auto mismatch = std::find_if(signers.begin(), signers.end(), [](const SignerVerdict& v) { return !v.matches; });
    verdict.signerSubject = accepted != signers.end() ? accepted->subject : known != signers.end() ? known->subject : "";
    verdict.valid = accepted != signers.end() && mismatch == signers.end();
    if (verdict.valid) return;
    const auto numbered = [&](std::size_t i) {
        return "signer " + std::to_string(i + 1) + " of " + std::to_string(signers.size()) + ": " + signers[i].defect;
    };
    if (signers.size() == 1) {
        verdict.defect = signers[0].defect;
    } else if (mismatch != signers.end()) {
        verdict.defect = numbered(static_cast<std::size_t>(mismatch - signers.begin()));
    } else {
        verdict.defect = "no signer is accepted";
        for (std::size_t i = 0; i < signers.size(); ++i) verdict.defect += (i ? "; " : ": ") + numbered(i);
    }
}

}  // namespace

SignatureVerdict DetachedSignature::verify(const PackageDigests& digests, const TrustStore& trust,
                                           const SignerRules& rules) const {
    SignatureVerdict verdict;
    const State& s = *state_;
    if (!s.defect.empty()) {
        verdict.checked = true;
        verdict.defect = s.defect;
        return verdict;
    }
    const TrustStore::State& t = *trust.state_;
    // Ties each signer to its certificate among those carried inside or given.
    CMS_set1_signers_certs(s.cms.get(), t.signerCerts.get(), 0);
    ERR_clear_error();
    CertsPtr untrusted{CMS_get1_certs(s.cms.get())};
    if (!untrusted) untrusted.reset(sk_X509_new_null());
    for (int i = 0; untrusted && i < sk_X509_num(t.signerCerts.get()); ++i)
        if (X509_add_cert(untrusted.get(), sk_X509_value(t.signerCerts.get(), i), X509_ADD_FLAG_UP_REF) != 1)
            untrusted.reset();
    if (!untrusted) {
        verdict.defect = withReason("cannot check the signer's certificate");
        return verdict;
    }
    for (std::size_t i = 0; i < s.signers.size(); ++i) {
        const DigestAlgorithm algorithm = s.signerAlgorithms[i];
        const auto digest = digests.find(algorithm);
        if (digest == digests.end() || digest->second.size() != digestSize(algorithm)) {
            verdict.defect = std::string("the package's digest was not computed with ") +
                             digestAlgorithmName(algorithm) + " as the signature needs";
            return verdict;
        }
        verdict.signers.push_back(
            judgeSigner(s.signers[i], s.cms.get(), algorithm, digest->second, untrusted.get(), t, rules));
    }
    verdict.checked = true;
    summarise(verdict);
    return verdict;
}

SignatureVerdict DetachedSignature::verify(const std::vector<std::uint8_t>& packageDigest,
                                           const TrustStore& trust) const {
    const std::vector<DigestAlgorithm> algorithms = digestAlgorithms();
    PackageDigests digests;
    if (!algorithms.empty()) digests.emplace(algorithms.front(), packageDigest);
    return verify(digests, trust, SignerRules{});
}

}  // namespace fw
