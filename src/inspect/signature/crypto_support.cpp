#include "inspect/signature/crypto_support.h"

#include <openssl/cms.h>
#include <openssl/crypto.h>
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

#include <vector>

#include "platform/whole_file.h"

namespace fw {

void startCrypto() { OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr); }

// libcrypto keeps a queue of errors per thread; each public call leaves it
// empty so a reason found later belongs to that call alone.
std::string takeCryptoReason(ErrorEnd end) {
    const unsigned long e = end == ErrorEnd::first ? ERR_peek_error() : ERR_peek_last_error();
    const char* reason = e != 0 ? ERR_reason_error_string(e) : nullptr;
    ERR_clear_error();
    return reason != nullptr ? reason : "";
}

std::string withReason(std::string message) {
    const std::string reason = takeCryptoReason();
    if (!reason.empty()) message += " (" + reason + ")";
    return message;
}

bool readWholeFile(const std::string& path, std::string& bytes, std::string* why) {
    std::vector<std::uint8_t> read;
    bool missing = false;
    if (!readSmallInput(path, largestKeyFile, read, why, missing)) return false;
    bytes.assign(read.begin(), read.end());
    OPENSSL_cleanse(read.data(), read.size());
    return true;
}

BioPtr memoryBio(const std::string& bytes) {
    return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

const ASN1_OBJECT* signerDigestOidOf(CMS_SignerInfo* si) {
    X509_ALGOR* digest = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digest, nullptr);
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, digest);
    return oid;
}

const ASN1_OCTET_STRING* messageDigestOf(CMS_SignerInfo* si) {
    return static_cast<const ASN1_OCTET_STRING*>(
        CMS_signed_get0_data_by_OBJ(si, OBJ_nid2obj(NID_pkcs9_messageDigest), -3, V_ASN1_OCTET_STRING));
}

std::optional<DigestAlgorithm> signerDigestOf(CMS_SignerInfo* si) {
    switch (OBJ_obj2nid(signerDigestOidOf(si))) {
        case NID_sha256: return DigestAlgorithm::sha256;
        case NID_sha384: return DigestAlgorithm::sha384;
        case NID_sha512: return DigestAlgorithm::sha512;
        default: return std::nullopt;
    }
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

// From timeText's form, the only one a verdict's time is given in.
std::string rfc3339Time(const std::string& signingTime) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, length = 0;
    if (std::sscanf(signingTime.c_str(), "%4d-%2d-%2d %2d:%2d:%2d UTC%n", &year, &month, &day, &hour, &minute, &second,
                    &length) != 6 ||
        static_cast<std::size_t>(length) != signingTime.size())
        return "";
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, hour, minute, second);
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

// The signer's own certificate: an end entity, for code signing by name,
// its key for signatures.
bool mayEndEntitySign(X509* signer, std::string* why) {
    const std::uint32_t flags = X509_get_extension_flags(signer);
    if (X509_check_ca(signer) != 0) return refuse("is a CA certificate; only an end entity may sign", why);
    if ((flags & EXFLAG_XKUSAGE) == 0) return refuse("is not for code signing: it names no extended key usage", why);
    if ((X509_get_extended_key_usage(signer) & XKU_CODE_SIGN) == 0)
        return refuse("is not for code signing: its extended key usage leaves code signing out", why);
    if ((flags & EXFLAG_KUSAGE) != 0 && (X509_get_key_usage(signer) & KU_DIGITAL_SIGNATURE) == 0)
        return refuse("is not for signing: its key usage leaves digital signatures out", why);
    // What the chain's check refuses at verify, known from the certificate
    // alone, so sign refuses it too: an issuer's signature made with SHA-1
    // or MD5 (under the 112 bits of security a chain must have).
    int bits = 0;
    if (X509_get_signature_info(signer, nullptr, nullptr, &bits, nullptr) == 1 && bits > 0 && bits < 112)
        return refuse("is signed by its issuer with a digest too weak to trust (SHA-1 or MD5)", why);
    return true;
}

bool signerCountAccepted(int count, std::string* why) {
    // Each signer costs a chain to build; key rotation needs two or three.
    constexpr int mostSigners = 16;
    if (count <= mostSigners) return true;
    return refuse(std::to_string(count) + " signers; at most " + std::to_string(mostSigners) + " are accepted", why);
}

bool allowsCodeSigning(X509* cert) {
    if ((X509_get_extension_flags(cert) & EXFLAG_XKUSAGE) == 0) return true;
    return (X509_get_extended_key_usage(cert) & (XKU_CODE_SIGN | XKU_ANYEKU)) != 0;
}


const char* digestAlgorithmName(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::sha256: return "SHA-256";
        case DigestAlgorithm::sha384: return "SHA-384";
        case DigestAlgorithm::sha512: return "SHA-512";
    }
    return "unknown";
}

}  // namespace fw
