#include "inspect/signature/signature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

#include "certificate_suite.h"
#include "package_bytes.h"
#include "test_support.h"

namespace {

using fwtest::Bytes;

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
    return text;
}

TEST(Sha256, MatchesTheFips180Examples) {
    const std::string million(1000000, 'a');
    const std::pair<std::string, const char*> cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [input, digest] : cases) {
        fw::Sha256 sha;
        sha.update(input.data(), input.size());
        const auto out = sha.finish();
        ASSERT_TRUE(out);
        EXPECT_EQ(hexOf({out->begin(), out->end()}), digest) << input.size() << " bytes";
    }
}

TEST(Sha256, InPiecesEqualsInOneGoAndFinishStartsAfresh) {
    const Bytes data = fwtest::patternBytes(100000);
    fw::WholeFileDigest whole(fw::DigestAlgorithm::sha256);
    whole.update(data.data(), data.size());
    const auto expected = whole.finish();
    for (std::size_t piece : {1u, 63u, 64u, 65u, 4096u}) {
        for (std::size_t at = 0; at < data.size(); at += piece)
            whole.update(data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(whole.finish(), expected) << "piece " << piece;
    }
}

TEST(WholeFileDigest, ComputesTheLongerDigestsASignatureMayAskFor) {
    const std::pair<fw::DigestAlgorithm, const char*> cases[] = {
        {fw::DigestAlgorithm::sha384,
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {fw::DigestAlgorithm::sha512,
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd454d4423643c"
         "e80e2a9ac94fa54ca49f"},
    };
    for (const auto& [algorithm, digest] : cases) {
        fw::WholeFileDigest d(algorithm);
        d.update("abc", 3);
        EXPECT_EQ(hexOf(d.finish()), digest) << fw::digestAlgorithmName(algorithm);
    }
}

// Keys and certificates, made once per test program with the openssl tool:
// a CA and an unrelated one, an intermediate CA, and signers of each key
// kind and usage the rules tell apart.
const char* const kMakeCertificates = R"(set -e
ca() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out $1.key
       openssl req -x509 -new -key $1.key -subj "/CN=$2" -days 30 -out $1.pem \
         -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign; }
ec() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:$2 -out $1.key; }
cert() { openssl req -new -key $1.key -subj "/O=Firmware Release/CN=$1" -out $1.csr
         printf "$4" > $1.ext
         openssl x509 -req -in $1.csr -CA $2.pem -CAkey $2.key -CAcreateserial -days $3 -extfile $1.ext -out $1.pem; }
code="extendedKeyUsage=codeSigning\n"
ca ca "Release CA"; ca other "Other CA"
ec inter P-256; cert inter ca 30 "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\n"
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa.key; cert rsa ca 30 $code
ec p256 P-256; cert p256 ca 30 $code
ec p384 P-384; cert p384 ca 30 $code
openssl genpkey -algorithm ED25519 -out ed25519.key; cert ed25519 ca 30 $code
ec server P-256; cert server ca 30 "extendedKeyUsage=serverAuth\n"
ec plain P-256; cert plain ca 30 "keyUsage=digitalSignature\n"
ec expired P-256; cert expired ca -1 $code
ec stranger P-256; cert stranger other 30 $code
ec leaf P-256; cert leaf inter 30 $code
openssl pkey -in p256.key -aes256 -passout pass:open-sesame -out locked.key
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:1024 -out small.key
)";

class Signature : public fwtest::CertificateSuite<Signature> {
protected:
    friend class fwtest::CertificateSuite<Signature>;
    static const char* script() { return kMakeCertificates; }
    static void prepareSuite() {
        dir_->write("package", fwtest::patternBytes(70000, 3));
        dir_->write("other-package", fwtest::patternBytes(70000, 4));
    }

    static fw::PackageDigests digestsOf(const std::string& name) {
        const Bytes bytes = fwtest::readFile(file(name));
        fw::PackageDigests digests;
        for (const auto algorithm : {fw::DigestAlgorithm::sha256, fw::DigestAlgorithm::sha512}) {
            fw::WholeFileDigest d(algorithm);
            d.update(bytes.data(), bytes.size());
            digests[algorithm] = d.finish();
        }
        return digests;
    }
    static Bytes sign(const std::string& signer, const std::string& chain = "",
                      const std::string& package = "package") {
        std::string error;
        auto s = fw::Signer::load({file(signer + ".key"), file(signer + ".pem"), chain.empty() ? "" : file(chain), ""},
                                  &error);
        EXPECT_TRUE(s) << error;
        return s ? s->sign(digestsOf(package), &error) : Bytes{};
    }
    // The check as the inspector makes it: parse, digest the package as asked, verify.
    static fw::SignatureVerdict verify(const Bytes& signature, const std::string& package = "package",
                                       const std::string& ca = "ca.pem") {
        std::string error;
        const auto trust = fw::TrustStore::load(file(ca), &error);
        EXPECT_TRUE(trust) << error;
        const auto parsed = fw::DetachedSignature::parse(signature.data(), signature.size());
        fw::WholeFileDigest digest(parsed.digestAlgorithms().empty() ? fw::DigestAlgorithm::sha256 : parsed.digestAlgorithms().front());
        const Bytes bytes = fwtest::readFile(file(package));
        digest.update(bytes.data(), bytes.size());
        return parsed.verify(digest.finish(), *trust);
    }

};

TEST_F(Signature, RoundTripsForEveryKeyKindAndTheOpensslToolAccepts) {
    for (const std::string signer : {"rsa", "p256", "p384", "ed25519"}) {
        const Bytes der = sign(signer);
        const auto verdict = verify(der);
        EXPECT_TRUE(verdict.checked && verdict.valid) << signer << ": " << verdict.defect;
        EXPECT_EQ(verdict.signerSubject, "CN=" + signer + ",O=Firmware Release");
        // RFC 8419: Ed25519 with signed attributes digests with SHA-512.
        EXPECT_EQ(fw::DetachedSignature::parse(der.data(), der.size()).digestAlgorithms(),
                  std::vector{signer == "ed25519" ? fw::DigestAlgorithm::sha512 : fw::DigestAlgorithm::sha256})
            << signer;
        if (signer == "ed25519") continue;  // below
        dir_->write(signer + ".sig", der);
        EXPECT_TRUE(openssl("cms -verify -binary -inform DER -in " + signer + ".sig -content package -CAfile ca.pem "
                            "-purpose any -out /dev/null"))
            << signer;
    }
}

TEST_F(Signature, OpensslToolAcceptsEd25519WhereItHandlesEd25519AtAll) {
    if (!openssl("cms -sign -binary -md sha512 -in package -signer ed25519.pem -inkey ed25519.key -outform DER "
                 "-out probe.sig"))
        GTEST_SKIP() << "this openssl can neither make nor check Ed25519 CMS signatures (3.0 cannot)";
    dir_->write("ed25519.sig", sign("ed25519"));
    EXPECT_TRUE(openssl("cms -verify -binary -inform DER -in ed25519.sig -content package -CAfile ca.pem -purpose any "
                        "-out /dev/null"));
}

// Written by an earlier fwinspect, which digested with SHA-256 for Ed25519
// too; its certificates are valid for a hundred years.
TEST(EarlierSignature, Ed25519WithSha256StaysAccepted) {
    const std::string data = std::string(FWTEST_DATA_DIR) + "/ed25519-sha256/";
    const Bytes der = fwtest::readFile(data + "package.update.sig");
    const auto parsed = fw::DetachedSignature::parse(der.data(), der.size());
    ASSERT_EQ(parsed.digestAlgorithms(), std::vector{fw::DigestAlgorithm::sha256});
    std::string error;
    const auto trust = fw::TrustStore::load(data + "ca.pem", &error);
    ASSERT_TRUE(trust) << error;
    fw::WholeFileDigest digest(fw::DigestAlgorithm::sha256);
    const Bytes package = fwtest::readFile(data + "package.update");
    digest.update(package.data(), package.size());
    const auto verdict = parsed.verify(digest.finish(), *trust);
    EXPECT_TRUE(verdict.valid) << verdict.defect;
    EXPECT_EQ(verdict.signerSubject, "CN=Earlier Ed25519 signer");
}

TEST_F(Signature, Ed25519SignatureCoversTheSignedAttributesAsOpensslPkeyutlSees) {
    const Bytes der = sign("ed25519");
    // Our attributes sort content type first; the 64-byte signature closes the DER.
    const Bytes contentType{0x30, 0x18, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x09, 0x03};
    const auto at = std::search(der.begin(), der.end(), contentType.begin(), contentType.end());
    ASSERT_NE(at, der.end());
    // With a SHA-512 digest the attributes pass 127 bytes: a two-byte length.
    ASSERT_EQ(at[-3], 0xa0);
    ASSERT_EQ(at[-2], 0x81);
    Bytes attributes(at - 3, at + at[-1]);
    attributes[0] = 0x31;
    dir_->write("attributes.der", attributes);
    dir_->write("ed25519.raw", Bytes(der.end() - 64, der.end()));
    ASSERT_TRUE(openssl("x509 -in ed25519.pem -pubkey -noout -out ed25519.pub"));
    EXPECT_TRUE(openssl("pkeyutl -verify -pubin -inkey ed25519.pub -rawin -in attributes.der -sigfile ed25519.raw"));
}

TEST_F(Signature, AcceptsWhatTheOpensslToolSignsWithTheDigestItChose) {
    const std::pair<std::string, fw::DigestAlgorithm> cases[] = {
        {"-signer rsa.pem -inkey rsa.key", fw::DigestAlgorithm::sha256},
        {"-signer p256.pem -inkey p256.key", fw::DigestAlgorithm::sha256},
        {"-signer p384.pem -inkey p384.key -md sha384", fw::DigestAlgorithm::sha384},
        {"-signer p384.pem -inkey p384.key -md sha512", fw::DigestAlgorithm::sha512},
        {"-signer rsa.pem -inkey rsa.key -noattr", fw::DigestAlgorithm::sha256},
        {"-signer p256.pem -inkey p256.key -noattr -md sha384", fw::DigestAlgorithm::sha384},
    };
    for (const auto& [options, algorithm] : cases) {
        ASSERT_TRUE(openssl("cms -sign -binary -in package " + options + " -outform DER -out tool.sig")) << options;
        const Bytes der = fwtest::readFile(file("tool.sig"));
        EXPECT_EQ(fw::DetachedSignature::parse(der.data(), der.size()).digestAlgorithms(), std::vector{algorithm}) << options;
        const auto good = verify(der);
        EXPECT_TRUE(good.valid) << options << ": " << good.defect;
        EXPECT_EQ(verify(der, "other-package").defect, "the signature does not match the package") << options;
    }
}

TEST_F(Signature, DoesNotMatchAnotherOrAlteredPackageSignature) {
    const auto other = verify(sign("p256", "", "other-package"));
    EXPECT_TRUE(other.checked);
    EXPECT_FALSE(other.valid);
    EXPECT_EQ(other.defect, "the signature does not match the package");
    EXPECT_EQ(other.signerSubject, "CN=p256,O=Firmware Release");
    for (const std::string signer : {"rsa", "ed25519"}) {
        Bytes der = sign(signer);
        der[der.size() - 5] ^= 1;  // inside the signature value
        EXPECT_EQ(verify(der).defect, "the signature does not match the package") << signer;
    }
}

TEST_F(Signature, TrustsOnlySignersThatChainToTheCaFileAndAreValidNow) {
    EXPECT_EQ(verify(sign("stranger")).defect,
              "the signer CN=stranger,O=Firmware Release is not trusted: unable to get local issuer certificate");
    EXPECT_EQ(verify(sign("p256"), "package", "other.pem").defect,
              "the signer CN=p256,O=Firmware Release is not trusted: unable to get local issuer certificate");
    EXPECT_TRUE(verify(sign("leaf", "inter.pem")).valid) << "the chain travels inside the signature";
    Bytes fullChain = fwtest::readFile(file("leaf.pem"));
    const Bytes intermediate = fwtest::readFile(file("inter.pem"));
    fullChain.insert(fullChain.end(), intermediate.begin(), intermediate.end());
    dir_->write("full-chain.pem", fullChain);
    EXPECT_TRUE(verify(sign("leaf", "full-chain.pem")).valid) << "a chain that repeats the signer";
    EXPECT_FALSE(verify(sign("leaf")).valid);
    ASSERT_TRUE(openssl("cms -sign -binary -in package -signer expired.pem -inkey expired.key -outform DER "
                        "-out x.sig"));
    EXPECT_EQ(verify(fwtest::readFile(file("x.sig"))).defect,
              "the signer CN=expired,O=Firmware Release is not trusted: certificate has expired");
    ASSERT_TRUE(openssl("cms -sign -binary -nocerts -in package -signer p256.pem -inkey p256.key -outform DER "
                        "-out bare.sig"));
    EXPECT_EQ(verify(fwtest::readFile(file("bare.sig"))).defect,
              "the signature does not carry its signer's certificate");
}

TEST_F(Signature, RequiresCodeSigningNamedInTheExtendedKeyUsage) {
    ASSERT_TRUE(openssl("cms -sign -binary -in package -signer server.pem -inkey server.key -outform DER -out s.sig"));
    const auto server = verify(fwtest::readFile(file("s.sig")));
    EXPECT_FALSE(server.valid);
    EXPECT_NE(server.defect.find("not for code signing"), std::string::npos) << server.defect;
    // sign refuses such a certificate as verify does; openssl signs with it.
    std::string error;
    EXPECT_FALSE(fw::Signer::load({file("plain.key"), file("plain.pem"), "", ""}, &error));
    EXPECT_EQ(error, "the certificate in " + file("plain.pem") + " is not for code signing: it names no extended key usage");
    ASSERT_TRUE(openssl("cms -sign -binary -in package -signer plain.pem -inkey plain.key -outform DER -out plain.sig"));
    EXPECT_EQ(verify(fwtest::readFile(file("plain.sig"))).defect,
              "the signer CN=plain,O=Firmware Release is not for code signing: it names no extended key usage");
}

TEST_F(Signature, BadSignatureBytesGiveOneLineDefects) {
    const Bytes good = sign("p256");
    Bytes stray = good;
    stray.push_back(0);
    ASSERT_TRUE(openssl("cms -data_create -binary -in package -outform DER -out data.cms"));
    const std::pair<Bytes, const char*> cases[] = {
        {{}, "the signature file is empty"},
        {Bytes(good.begin(), good.begin() + 100), "the signature file is not a CMS signature, or it is cut short"},
        {fwtest::patternBytes(300), "the signature file is not a CMS signature, or it is cut short"},
        {fwtest::readFile(file("ca.pem")), "the signature file holds PEM CERTIFICATE, not a CMS signature"},
        {stray, "the signature file has 1 stray bytes after the signature"},
        {fwtest::readFile(file("data.cms")), "the signature file holds CMS pkcs7-data, not a signature"},
    };
    for (const auto& [bytes, defect] : cases) {
        EXPECT_TRUE(fw::DetachedSignature::parse(bytes.data(), bytes.size()).digestAlgorithms().empty()) << defect;
        const auto verdict = verify(bytes);
        EXPECT_TRUE(verdict.checked);
        EXPECT_FALSE(verdict.valid);
        EXPECT_EQ(verdict.defect, defect);
    }
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(verify(Bytes(good.begin(), good.begin() + cut)).valid) << "cut at " << cut;
}

TEST_F(Signature, ADigestOfTheWrongLengthIsNoVerdict) {
    const Bytes der = sign("p256");
    std::string error;
    const auto trust = fw::TrustStore::load(file("ca.pem"), &error);
    const auto verdict = fw::DetachedSignature::parse(der.data(), der.size()).verify(Bytes(20), *trust);
    EXPECT_FALSE(verdict.checked);
    EXPECT_FALSE(verdict.valid);
}

TEST_F(Signature, LoadingTellsWhichFileIsWrongAndWhy) {
    ::setenv("FWTEST_PASSPHRASE", "open-sesame", 1);
    ::setenv("FWTEST_WRONG_PASSPHRASE", "sesame", 1);
    const auto files = [](const std::string& key, const std::string& cert, const std::string& chain = "",
                          const std::string& passphraseEnv = "") {
        return fw::SignerFiles{file(key), file(cert), chain.empty() ? "" : file(chain), passphraseEnv};
    };
    const std::string key = file("p256.key"), pem = file("p256.pem"), none = file("none");
    const std::string locked = file("locked.key"), noSuchFile = ": No such file or directory";
    const std::pair<fw::SignerFiles, std::string> cases[] = {
        {files("none", "p256.pem"), "cannot read the key file " + none + noSuchFile},
        {files("p256.pem", "p256.pem"), "the key file " + pem + " holds no PEM private key that can be read"},
        {files("p256.key", "none"), "cannot read the certificate file " + none + noSuchFile},
        {files("p256.key", "p256.key"), "the certificate file " + key + " holds no PEM certificate"},
        {files("p256.key", "p256.pem", "none"), "cannot read the chain file " + none + noSuchFile},
        {files("rsa.key", "p256.pem"),
         "the key in " + file("rsa.key") + " does not belong to the certificate in " + pem},
        {files("small.key", "p256.pem"),
         "the RSA key in " + file("small.key") + " has 1024 bits; at least 2048 are needed"},
        {files("locked.key", "p256.pem"), "the key file " + locked + " is encrypted and no passphrase was given"},
        {files("locked.key", "p256.pem", "", "FWTEST_WRONG_PASSPHRASE"),
         "the passphrase in FWTEST_WRONG_PASSPHRASE does not open the key file " + locked},
        {files("locked.key", "p256.pem", "", "FWTEST_UNSET"),
         "the environment variable FWTEST_UNSET, which should hold the passphrase of " + locked + ", is not set"},
        {files("server.key", "server.pem"),
         "the certificate in " + file("server.pem") + " is not for code signing: its extended key usage leaves code"},
        {files("expired.key", "expired.pem"), "the certificate in " + file("expired.pem") + " expired on 20"},
    };
    for (const auto& [files, message] : cases) {
        std::string error;
        EXPECT_FALSE(fw::Signer::load(files, &error)) << message;
        EXPECT_EQ(error.substr(0, message.size()), message);
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    std::string error;
    EXPECT_TRUE(fw::Signer::load(files("locked.key", "p256.pem", "", "FWTEST_PASSPHRASE"), &error)) << error;
}

TEST_F(Signature, TrustStoreNeedsAReadableFileWithACertificate) {
    const std::pair<std::string, std::string> cases[] = {
        {file("none.pem"), "cannot read the CA file " + file("none.pem") + ": No such file or directory"},
        {file("p256.key"), "the CA file " + file("p256.key") + " holds no PEM certificate"},
    };
    for (const auto& [path, message] : cases) {
        std::string error;
        EXPECT_FALSE(fw::TrustStore::load(path, &error));
        EXPECT_EQ(error, message);
    }
}

}  // namespace
