// PEM files of certificates and revocation lists, each read once, block
// by block. Decoding a certificate is the dear step (libcrypto 3.0 takes
// a fifth of a millisecond for each), so a certificate met again is
// skipped before it is decoded, and a file of more different ones than a
// trust store of any size holds is refused before the work runs away.
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <array>
#include <cstring>
#include <set>
#include <vector>

#include "inspect/signature/crypto_support.h"
#include "inspect/text/plain_text.h"
#include "platform/whole_file.h"

namespace fw {
namespace {

// Every public root of a browser's store is about 150; a company's own
// store adds its few. Several times that decodes in a fraction of a second.
constexpr int mostCertificates = 1000;

struct PemBlock {
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long size = 0;
    ~PemBlock() {
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_free(data);
    }
};

using Fingerprint = std::array<std::uint8_t, 32>;

// False only when libcrypto cannot allocate.
bool fingerprintOf(const unsigned char* der, long size, Fingerprint& fingerprint) {
    WholeFileDigest digest(DigestAlgorithm::sha256);
    digest.update(der, static_cast<std::size_t>(size));
    const std::vector<std::uint8_t> d = digest.finish();
    if (d.size() != fingerprint.size()) return false;
    std::copy(d.begin(), d.end(), fingerprint.begin());
    return true;
}

bool isCertificate(const char* name) {
    return std::strcmp(name, PEM_STRING_X509) == 0 || std::strcmp(name, PEM_STRING_X509_OLD) == 0;
}

class PemReader {
public:
    PemReader(const std::string& file, const char* what, PemContents& into) : file_(file), what_(what), into_(into) {}

    // One block into the contents; false with a message when it is refused.
    bool take(const PemBlock& block, std::string* why) {
        const unsigned char* at = block.data;
        if (std::strcmp(block.name, PEM_STRING_X509_CRL) == 0) {
            CrlPtr crl{d2i_X509_CRL(nullptr, &at, block.size)};
            if (!crl) return fail("holds a CRL that cannot be read", why);
            into_.crls.push_back(std::move(crl));
            return true;
        }
        if (!isCertificate(block.name)) return true;
        Fingerprint fingerprint;
        if (!fingerprintOf(block.data, block.size, fingerprint)) return fail("cannot be kept", why);
        if (!seen_.insert(fingerprint).second) return true;
        if (static_cast<int>(seen_.size()) > mostCertificates)
            return fail("holds more than " + std::to_string(mostCertificates) + " different certificates; " +
                            "a trust store takes its few roots, not a whole collection",
                        why);
        CertPtr cert{d2i_X509(nullptr, &at, block.size)};
        if (!cert) return fail("holds a certificate that cannot be read", why);
        if (sk_X509_push(into_.certs.get(), cert.get()) <= 0) return fail("cannot be kept", why);
        cert.release();
        return true;
    }

    bool fail(const std::string& problem, std::string* why) const {
        *why = withReason("the " + std::string(what_) + " " + file_ + " " + problem);
        return false;
    }

private:
    const std::string& file_;
    const char* what_;
    PemContents& into_;
    std::set<Fingerprint> seen_;
};

}  // namespace

bool readPemFile(const std::string& path, const char* what, PemContents& into, std::string* why) {
    const std::string file = escapePath(path);
    // Read as keys are, but into the one buffer that is parsed: the file
    // may be as large as the limit, and holds nothing secret to wipe.
    std::vector<std::uint8_t> bytes;
    std::string reason;
    bool missing = false;
    if (!readSmallInput(path, largestKeyFile, bytes, &reason, missing)) {
        *why = std::string("cannot read the ") + what + " " + file + ": " + reason;
        return false;
    }
    into.certs.reset(sk_X509_new_null());
    into.crls.clear();
    PemReader reader(file, what, into);
    BioPtr in{BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()))};
    if (!into.certs || !in) return reader.fail("cannot be read", why);
    for (;;) {
        PemBlock block;
        if (PEM_read_bio(in.get(), &block.name, &block.header, &block.data, &block.size) != 1) break;
        if (!reader.take(block, why)) return false;
    }
    // The walk ends at the end of the text, or at a block that is damaged.
    const unsigned long last = ERR_peek_last_error();
    if (ERR_GET_LIB(last) != ERR_LIB_PEM || ERR_GET_REASON(last) != PEM_R_NO_START_LINE)
        return reader.fail("holds a certificate that cannot be read", why);
    ERR_clear_error();
    return true;
}

bool readCertificates(const std::string& path, const char* what, CertsPtr& certs, std::string* why) {
    PemContents contents;
    if (!readPemFile(path, what, contents, why)) return false;
    if (sk_X509_num(contents.certs.get()) == 0) {
        *why = std::string("the ") + what + " " + escapePath(path) + " holds no PEM certificate";
        return false;
    }
    certs = std::move(contents.certs);
    return true;
}

}  // namespace fw
