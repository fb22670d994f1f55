#include "inspect/inspect_signature.h"

#include <openssl/cms.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace fw {

namespace {

template <auto Free>
struct Freer {
    template <class T>
    void operator()(T* p) const {
        Free(p);
    }
};

void freeCertificates(STACK_OF(X509) * certs) { sk_X509_pop_free(certs, X509_free); }

using BioPtr = std::unique_ptr<BIO, Freer<BIO_free>>;
using CertPtr = std::unique_ptr<X509, Freer<X509_free>>;
using CertsPtr = std::unique_ptr<STACK_OF(X509), Freer<freeCertificates>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Freer<CMS_ContentInfo_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY_free>>;
using KeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX_free>>;
using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX_free>>;
using StorePtr = std::unique_ptr<X509_STORE, Freer<X509_STORE_free>>;
using StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Freer<X509_STORE_CTX_free>>;

// libcrypto keeps a queue of errors per thread; each public call leaves it
// empty so a reason found later belongs to that call alone.
std::string takeCryptoReason() {
    const unsigned long e = ERR_peek_last_error();
    const char* reason = e != 0 ? ERR_reason_error_string(e) : nullptr;
    ERR_clear_error();
    return reason != nullptr ? reason : "";
}

std::string withReason(std::string message) {
    const std::string reason = takeCryptoReason();
    if (!reason.empty()) message += " (" + reason + ")";
    return message;
}

// Read here rather than through a file BIO so an unreadable file is told
// with the system's own words.
bool readWholeFile(const std::string& path, std::string& bytes, std::string& reason) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        reason = std::strerror(errno);
        return false;
    }
    bytes.clear();
    char piece[8192];
    std::size_t n;
    while ((n = std::fread(piece, 1, sizeof piece, f)) > 0) bytes.append(piece, n);
    const bool failed = std::ferror(f) != 0;
    const int readErrno = errno;
    std::fclose(f);
    if (failed) reason = std::strerror(readErrno);
    return !failed;
}

BioPtr memoryBio(const std::string& bytes) {
    return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

const EVP_MD* mdOf(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::sha256: return EVP_sha256();
        case DigestAlgorithm::sha384: return EVP_sha384();
        case DigestAlgorithm::sha512: return EVP_sha512();
    }
    return EVP_sha256();
}

std::size_t digestSize(DigestAlgorithm algorithm) {
    return static_cast<std::size_t>(EVP_MD_get_size(mdOf(algorithm)));
}

std::string oneLineName(const X509_NAME* name) {
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out || X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_RFC2253) < 0) return "";
    char* data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string timeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (ASN1_TIME_to_tm(time, &tm) != 1) return "an unreadable date";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return text;
}

bool isEdwardsKey(EVP_PKEY* key) { return EVP_PKEY_is_a(key, "ED25519") || EVP_PKEY_is_a(key, "ED448"); }

// The DER that the signature covers when signed attributes are present: the
// attributes as a SET OF, each element's encoding sorted as DER asks. Made
// here because libcrypto 3.0 only offers it inside its own signing and
// verifying, which cannot handle Ed25519.
std::vector<std::uint8_t> signedAttributesDer(const CMS_SignerInfo* si) {
    std::vector<std::vector<std::uint8_t>> elements;
    for (int i = 0; i < CMS_signed_get_attr_count(si); ++i) {
        X509_ATTRIBUTE* attribute = CMS_signed_get_attr(si, i);
        const int size = i2d_X509_ATTRIBUTE(attribute, nullptr);
        if (size <= 0) return {};
        std::vector<std::uint8_t> element(static_cast<std::size_t>(size));
        unsigned char* at = element.data();
        i2d_X509_ATTRIBUTE(attribute, &at);
        elements.push_back(std::move(element));
    }
    std::sort(elements.begin(), elements.end(), [](const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
    });
    std::size_t length = 0;
    for (const auto& e : elements) length += e.size();
    std::vector<std::uint8_t> der{0x31};
    if (length < 0x80) {
        der.push_back(static_cast<std::uint8_t>(length));
    } else {
        std::vector<std::uint8_t> octets;
        for (std::size_t l = length; l != 0; l >>= 8) octets.insert(octets.begin(), static_cast<std::uint8_t>(l));
        der.push_back(static_cast<std::uint8_t>(0x80 | octets.size()));
        der.insert(der.end(), octets.begin(), octets.end());
    }
    for (const auto& e : elements) der.insert(der.end(), e.begin(), e.end());
    return der;
}

// Every certificate of a PEM file, in order. `what` names the file in messages.
bool readCertificates(const std::string& path, const char* what, CertsPtr& certs, std::string& error) {
    std::string bytes, reason;
    if (!readWholeFile(path, bytes, reason)) {
        error = std::string("cannot read the ") + what + " " + path + ": " + reason;
        return false;
    }
    certs.reset(sk_X509_new_null());
    BioPtr in = memoryBio(bytes);
    if (!certs || !in) {
        error = withReason(std::string("cannot read the ") + what + " " + path);
        return false;
    }
    while (CertPtr cert{PEM_read_bio_X509(in.get(), nullptr, nullptr, nullptr)}) {
        if (sk_X509_push(certs.get(), cert.get()) <= 0) {
            error = withReason(std::string("cannot read the ") + what + " " + path);
            return false;
        }
        cert.release();
    }
    // The loop ends at the end of the text, or at a certificate that is damaged.
    const unsigned long last = ERR_peek_last_error();
    const bool cleanEnd = ERR_GET_LIB(last) == ERR_LIB_PEM && ERR_GET_REASON(last) == PEM_R_NO_START_LINE;
    if (!cleanEnd) {
        error = withReason(std::string("the ") + what + " " + path + " holds a certificate that cannot be read");
        return false;
    }
    ERR_clear_error();
    if (sk_X509_num(certs.get()) == 0) {
        error = std::string("the ") + what + " " + path + " holds no PEM certificate";
        return false;
    }
    return true;
}

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

bool allowsCodeSigning(X509* cert) {
    if ((X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) == 0) return true;
    return (X509_get_extended_key_usage(cert) & (XKU_CODE_SIGN | XKU_ANYEKU)) != 0;
}

}  // namespace

const char* digestAlgorithmName(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::sha256: return "SHA-256";
        case DigestAlgorithm::sha384: return "SHA-384";
        case DigestAlgorithm::sha512: return "SHA-512";
    }
    return "unknown";
}

// ---- digests

struct WholeFileDigest::State {
    MdCtxPtr ctx{EVP_MD_CTX_new()};
    bool failed = false;
};

WholeFileDigest::WholeFileDigest(DigestAlgorithm algorithm)
    : algorithm_(algorithm), state_(std::make_unique<State>()) {
    state_->failed = !state_->ctx || EVP_DigestInit_ex(state_->ctx.get(), mdOf(algorithm), nullptr) != 1;
}

WholeFileDigest::~WholeFileDigest() = default;
WholeFileDigest::WholeFileDigest(WholeFileDigest&&) noexcept = default;
WholeFileDigest& WholeFileDigest::operator=(WholeFileDigest&&) noexcept = default;

void WholeFileDigest::update(const void* data, std::size_t count) {
    if (!state_->failed && count > 0) state_->failed = EVP_DigestUpdate(state_->ctx.get(), data, count) != 1;
}

std::vector<std::uint8_t> WholeFileDigest::finish() {
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    const bool ok = !state_->failed && EVP_DigestFinal_ex(state_->ctx.get(), digest.data(), &size) == 1;
    state_->failed = !state_->ctx || EVP_DigestInit_ex(state_->ctx.get(), mdOf(algorithm_), nullptr) != 1;
    ERR_clear_error();
    if (!ok) return {};
    digest.resize(size);
    return digest;
}

std::optional<Sha256Digest> Sha256::finish() {
    const std::vector<std::uint8_t> digest = digest_.finish();
    if (digest.size() != Sha256Digest{}.size()) return std::nullopt;
    Sha256Digest out;
    std::copy(digest.begin(), digest.end(), out.begin());
    return out;
}

// ---- signing

struct Signer::State {
    KeyPtr key;
    CertPtr cert;
    CertsPtr chain;
};

Signer::Signer(std::unique_ptr<State> state) : state_(std::move(state)) {}
Signer::~Signer() = default;

std::unique_ptr<Signer> Signer::load(const SignerFiles& files, std::string& error) {
    auto state = std::make_unique<State>();
    const std::string& keyPath = files.keyPath;
    PassphraseRequest request;
    if (!files.passphraseEnv.empty()) {
        request.passphrase = std::getenv(files.passphraseEnv.c_str());
        if (request.passphrase == nullptr) {
            error = "the environment variable " + files.passphraseEnv + ", which should hold the passphrase of " +
                    keyPath + ", is not set";
            return nullptr;
        }
    }

    std::string bytes, reason;
    if (!readWholeFile(keyPath, bytes, reason)) {
        error = "cannot read the key file " + keyPath + ": " + reason;
        return nullptr;
    }
    BioPtr in = memoryBio(bytes);
    state->key.reset(in ? PEM_read_bio_PrivateKey(in.get(), nullptr, supplyPassphrase, &request) : nullptr);
    OPENSSL_cleanse(bytes.data(), bytes.size());
    if (!state->key) {
        if (request.asked && request.passphrase == nullptr)
            error = "the key file " + keyPath + " is encrypted and no passphrase was given";
        else if (request.asked)
            error = "the passphrase in " + files.passphraseEnv + " does not open the key file " + keyPath;
        else
            error = "the key file " + keyPath + " holds no PEM private key that can be read";
        takeCryptoReason();
        return nullptr;
    }
    error = keyRefusal(state->key.get(), keyPath);
    if (!error.empty()) return nullptr;

    CertsPtr certs;
    if (!readCertificates(files.certPath, "certificate file", certs, error)) return nullptr;
    state->cert.reset(sk_X509_shift(certs.get()));
    X509* cert = state->cert.get();
    if (X509_check_private_key(cert, state->key.get()) != 1) {
        takeCryptoReason();
        error = "the key in " + keyPath + " does not belong to the certificate in " + files.certPath;
        return nullptr;
    }
    if (X509_cmp_current_time(X509_get0_notAfter(cert)) < 0) {
        error = "the certificate in " + files.certPath + " expired on " + timeText(X509_get0_notAfter(cert));
        return nullptr;
    }
    if (X509_cmp_current_time(X509_get0_notBefore(cert)) > 0) {
        error = "the certificate in " + files.certPath + " is not valid before " +
                timeText(X509_get0_notBefore(cert));
        return nullptr;
    }
    if (!allowsCodeSigning(cert)) {
        error = "the certificate in " + files.certPath + " is not for code signing: its extended key usage leaves "
                "code signing out";
        return nullptr;
    }

    // Certificates after the first in the certificate file travel along like
    // a chain. libcrypto refuses to carry one certificate twice, and a full
    // chain file often repeats the signer's, so repeats are dropped.
    state->chain.reset(sk_X509_new_null());
    CertsPtr chain;
    if (!files.chainPath.empty() && !readCertificates(files.chainPath, "chain file", chain, error)) return nullptr;
    for (CertsPtr* from : {&certs, &chain}) {
        while (*from && sk_X509_num(from->get()) > 0) {
            CertPtr next{sk_X509_shift(from->get())};
            bool repeated = X509_cmp(next.get(), cert) == 0;
            for (int i = 0; !repeated && i < sk_X509_num(state->chain.get()); ++i)
                repeated = X509_cmp(next.get(), sk_X509_value(state->chain.get(), i)) == 0;
            if (repeated) continue;
            if (!state->chain || sk_X509_push(state->chain.get(), next.get()) <= 0) {
                error = withReason("cannot keep the chain of " + files.certPath);
                return nullptr;
            }
            next.release();
        }
    }
    ERR_clear_error();
    return std::unique_ptr<Signer>(new Signer(std::move(state)));
}

std::string Signer::subject() const { return oneLineName(X509_get_subject_name(state_->cert.get())); }

std::vector<std::uint8_t> Signer::sign(const Sha256Digest& packageSha256, std::string& error) const {
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
        error = withReason("cannot make the signature");
        return {};
    }
    std::vector<std::uint8_t> out(der, der + size);
    OPENSSL_free(der);
    ERR_clear_error();
    return out;
}

// ---- trust

struct TrustStore::State {
    StorePtr store{X509_STORE_new()};
};

TrustStore::TrustStore(std::unique_ptr<State> state) : state_(std::move(state)) {}
TrustStore::~TrustStore() = default;

std::unique_ptr<TrustStore> TrustStore::load(const std::string& caPath, std::string& error) {
    CertsPtr certs;
    if (!readCertificates(caPath, "CA file", certs, error)) return nullptr;
    auto state = std::make_unique<State>();
    for (int i = 0; state->store && i < sk_X509_num(certs.get()); ++i) {
        if (X509_STORE_add_cert(state->store.get(), sk_X509_value(certs.get(), i)) != 1) {
            error = withReason("cannot use the certificates of the CA file " + caPath);
            return nullptr;
        }
    }
    if (!state->store) {
        error = withReason("cannot use the certificates of the CA file " + caPath);
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
