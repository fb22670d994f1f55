// Detached signatures of packages. The package format has no room for a
// signature, so one travels beside the package as a CMS SignedData in DER
// (PACKAGE.sig) that `openssl cms -verify` also accepts.
//
// Nothing here reads the package: the inspector reads it once, and signing
// and verifying work from the digest of the whole file that it computes on
// the way. To verify, parse the signature first, since the signature decides
// which digest the package must be hashed with:
//
//     auto signature = DetachedSignature::parse(sigBytes.data(), sigBytes.size());
//     for (DigestAlgorithm algorithm : signature.digestAlgorithms())
//         // hash the whole file with WholeFileDigest(algorithm) during the single pass
//     SignatureVerdict verdict = signature.verify(digests, trustStore, rules);
//
// Every failure comes back as one line of plain text naming the file or the
// fault; nothing throws. This is the only part of the project that speaks to
// libcrypto; its types stay behind the pointers below.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace fw {

// Before anything else uses libcrypto: it is to read no configuration file,
// neither the one of the folder fixed when it was built nor $OPENSSL_CONF,
// since one line there (default_properties = fips=yes) turns good
// signatures into defects and another loads engines from any path.
void startCrypto();

enum class DigestAlgorithm { sha256, sha384, sha512 };

// "SHA-256" and so on, for messages.
const char* digestAlgorithmName(DigestAlgorithm algorithm);

// A streaming digest of one file. One instance per stream; separate
// instances may run on separate threads.
class WholeFileDigest {
public:
    explicit WholeFileDigest(DigestAlgorithm algorithm);
    ~WholeFileDigest();
    WholeFileDigest(WholeFileDigest&&) noexcept;
    WholeFileDigest& operator=(WholeFileDigest&&) noexcept;

    DigestAlgorithm algorithm() const { return algorithm_; }
    void update(const void* data, std::size_t count);
    // The digest of everything given since construction or the previous
    // finish, after which the digest starts afresh. Empty only when libcrypto
    // failed (it cannot allocate).
    std::vector<std::uint8_t> finish();

private:
    struct State;
    DigestAlgorithm algorithm_;
    std::unique_ptr<State> state_;
};

// The package's whole-file digests, by algorithm: as many as the signers
// and an earlier signature ask for, all computed during the one read.
using PackageDigests = std::map<DigestAlgorithm, std::vector<std::uint8_t>>;

struct SignerFiles {
    // PEM private key: RSA of 2048 bits or more, ECDSA P-256 or P-384, or
    // Ed25519; or an RFC 7512 URI ("pkcs11:...") of such a key in a token.
    std::string keyPath;
    std::string certPath;       // PEM certificate of that key, or a "pkcs11:" URI of it in a token
    std::string chainPath;      // optional: PEM certificates to carry along, the signer's issuers
    std::string passphraseEnv;  // optional: the environment variable that holds the key's passphrase or token PIN
};

// A key and its certificate, checked and ready to sign any number of packages.
class Signer {
public:
    // Reads and checks every file before any package is read. Nothing and a
    // one-line message in `error` when a file cannot be read or parsed, the
    // passphrase is missing or wrong, the key is of a kind or size not
    // accepted, the key does not belong to the certificate, or the
    // certificate is outside its validity or not for code signing.
    static std::unique_ptr<Signer> load(const SignerFiles& files, std::string* why);
    ~Signer();
    Signer(const Signer&) = delete;
    Signer& operator=(const Signer&) = delete;

    // The digest this signer's SignerInfo names: SHA-512 for Ed25519, as
    // RFC 8419 asks, SHA-256 for the others.
    DigestAlgorithm digestAlgorithm() const;

    // A detached CMS SignedData by this signer alone, from `digests`, which
    // must hold the package's digest by digestAlgorithm(). See SignatureDraft.
    std::vector<std::uint8_t> sign(const PackageDigests& digests, std::string* why) const;

    // The certificate's subject, RFC 2253, one line.
    std::string subject() const;

private:
    friend class SignatureDraft;
    struct State;
    explicit Signer(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// A detached signature being made: a new one, or one read back to take
// further signers. Each signer added gets a SignerInfo whose signed
// attributes are content type (data), message digest (the package's digest
// by the signer's algorithm) and signing time; the signature carries every
// signer's certificate and chain, each certificate once.
class SignatureDraft {
public:
    static std::unique_ptr<SignatureDraft> start(std::string* why);
    // An earlier signature's DER, to add signers to; `file` names it in
    // messages. Nothing and a message when the bytes are no detached CMS
    // SignedData of data with at least one signer that has signed attributes.
    static std::unique_ptr<SignatureDraft> resume(const std::vector<std::uint8_t>& der, const std::string& file,
                                                  std::string* why);
    ~SignatureDraft();
    SignatureDraft(const SignatureDraft&) = delete;
    SignatureDraft& operator=(const SignatureDraft&) = delete;

    // The digests the signers already inside name.
    std::vector<DigestAlgorithm> heldAlgorithms() const;
    // False, with a message naming the first such signer, when a signer
    // already inside holds another package's digest.
    bool coversPackage(const PackageDigests& digests, std::string* why) const;
    bool add(const Signer& signer, const PackageDigests& digests, std::string* why);
    // The DER; empty and a message when libcrypto fails.
    std::vector<std::uint8_t> finish(std::string* why) const;
    int signerCount() const;
    // False, with a message, when `more` signers beside those inside would
    // make a signature that verify refuses for its count alone.
    bool takes(std::size_t more, std::string* why) const;

private:
    struct State;
    explicit SignatureDraft(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};


// What a verifier is given besides the signature: the certificates it
// trusts, the revocation lists it honours, and certificates of signers
// whose signatures carry none.
struct TrustFiles {
    std::string caPath;                 // PEM: trusted certificates, and any CRLs to honour
    std::vector<std::string> crlPaths;  // further PEM CRLs
    std::string signerCertPath;         // optional: PEM certificates of signers, not trusted by themselves
};

// The certificates a signer must chain to, and the revocation lists that
// apply on the way.
class TrustStore {
public:
    // Nothing and a one-line message when a file cannot be read or the CA
    // file holds no certificate.
    static std::unique_ptr<TrustStore> load(const TrustFiles& files, std::string* why);
    static std::unique_ptr<TrustStore> load(const std::string& caPath, std::string* why) {
        return load(TrustFiles{caPath, {}, {}}, why);
    }
    ~TrustStore();
    TrustStore(const TrustStore&) = delete;
    TrustStore& operator=(const TrustStore&) = delete;

    // Defined where libcrypto is seen, for the files that judge signers.
    struct State;

private:
    friend class DetachedSignature;
    explicit TrustStore(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// The moment at which a signer's certificates must be valid.
struct CheckTime {
    enum class Kind { now, signing, given } kind = Kind::now;
    std::int64_t given = 0;  // seconds since 1970 UTC, for Kind::given
};

// A date as YYYY-MM-DD, midnight UTC; nothing when it is no such day.
std::optional<std::int64_t> dayOf(const std::string& text);

// Who may sign, beyond chaining to the trusted certificates.
struct SignerRules {
    std::vector<std::string> names;  // RFC 2253 subjects or CNs; empty: any signer
    CheckTime at;
    bool partialChain = false;  // a trusted intermediate may end the chain
};

struct SignerVerdict {
    std::string subject;      // RFC 2253, one line; empty when its certificate was not found
    std::string signingTime;  // "YYYY-MM-DD HH:MM:SS UTC"; empty when not signed in
    bool matches = false;     // its signature matches the package
    bool accepted = false;    // matches, and the signer passes every rule
    std::string defect;       // one line; empty when accepted
};

// A signer's signingTime as RFC 3339 UTC ("2026-12-09T06:46:37Z"), the
// form JSON readers parse; empty when there is none or it could not be read.
std::string rfc3339Time(const std::string& signingTime);

struct SignatureVerdict {
    // A verdict was reached. False only when the check itself could not run:
    // a digest the signature needs was not given, or libcrypto failed.
    bool checked = false;
    bool valid = false;
    std::string signerSubject;  // the first accepted signer, else the first known; RFC 2253
    std::string defect;         // one line; empty when valid
    std::vector<SignerVerdict> signers;
};

// A signature file's bytes, DER or PEM, parsed. Bytes that are no usable
// signature still give an object, whose verify() reports why. libcrypto
// keeps state in it while verifying: one thread at a time per object.
class DetachedSignature {
public:
    static DetachedSignature parse(const std::uint8_t* bytes, std::size_t size);
    ~DetachedSignature();
    DetachedSignature(DetachedSignature&&) noexcept;
    DetachedSignature& operator=(DetachedSignature&&) noexcept;

    // Every digest the whole package must be hashed with, one per
    // algorithm the signers use; empty when the bytes are no signature that
    // can be checked (verify() then tells why).
    std::vector<DigestAlgorithm> digestAlgorithms() const;

    // Accepts the signature when every signer's signature matches the
    // package and at least one signer passes the rules: an end entity for
    // code signing, of security level 2, chaining to `trust` at the time
    // asked for, unrevoked where a CRL is given, and named by `rules` when
    // names are given. Each signer's verdict is listed.
    SignatureVerdict verify(const PackageDigests& digests, const TrustStore& trust, const SignerRules& rules) const;
    SignatureVerdict verify(const std::vector<std::uint8_t>& packageDigest, const TrustStore& trust) const;

private:
    struct State;
    explicit DetachedSignature(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace fw
