// Who may sign a package and when: the signer policy, revocation, the time
// of the check, several signers, and the signature forms verify accepts.
#include <gtest/gtest.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "inspect/signature/crypto_support.h"
#include "inspect/command/inspect_command.h"
#include "certificate_suite.h"
#include "package_bytes.h"
#include "test_support.h"

namespace {

using fwtest::Bytes;

// A root valid from 2018 to 2040 that keeps a database, so that its
// certificates can be revoked, and signers of every kind the policy tells
// apart; two sub-CAs; an old and a new root for key rotation.
const char* const kMakePolicyCertificates = R"sh(set -e
cat > ca.cnf <<'X'
[ca]
default_ca = d
[d]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = p
unique_subject = no
default_crl_days = 30
[p]
organizationName = optional
commonName = supplied
[req]
distinguished_name = n
[n]
X
touch index.txt; echo 1000 > serial
key() { case $2 in rsa*) openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:${2#rsa} -out $1.key ;;
        ed25519) openssl genpkey -algorithm ED25519 -out $1.key ;;
        *) openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:$2 -out $1.key ;; esac; }
csr() { openssl req -new -config ca.cnf -key $1.key -subj "/O=Firmware Release/CN=$1" -out $1.csr; }
# issue NAME KEY EXTENSIONS [MD] [START END]: a certificate from the root's database, so it can be revoked
issue() { key $1 $2; csr $1; printf "$3" > $1.ext
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in $1.csr -out $1.pem -notext -extfile $1.ext \
    -md ${4:-sha256} -startdate ${5:-20190101000000Z} -enddate ${6:-20391231000000Z}; }
# under ISSUER NAME KEY EXTENSIONS
under() { key $2 $3; csr $2; printf "$4" > $2.ext
  openssl x509 -req -in $2.csr -CA $1.pem -CAkey $1.key -CAcreateserial -days 30 -extfile $2.ext -out $2.pem; }
code="extendedKeyUsage=codeSigning\n"
sub="basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n"
key ca P-256; openssl req -new -config ca.cnf -key ca.key -subj "/CN=Policy CA" -out ca.csr
printf "$sub" > ca.ext
openssl ca -batch -config ca.cnf -selfsign -keyfile ca.key -in ca.csr -out ca.pem -notext -extfile ca.ext \
  -startdate 20180101000000Z -enddate 20400101000000Z
issue good P-256 "keyUsage=critical,digitalSignature\n$code"
issue bare P-256 "$code"
issue rsa2048 rsa2048 "$code"; issue rsa3072 rsa3072 "$code"; issue p384 P-384 "$code"
issue catrue P-256 "basicConstraints=critical,CA:TRUE\n$code"
issue noeku P-256 "keyUsage=digitalSignature\n"
issue anyeku P-256 "extendedKeyUsage=anyExtendedKeyUsage\n"
issue encipher rsa2048 "keyUsage=keyEncipherment\n$code"
issue certsign P-256 "keyUsage=keyCertSign\n$code"
issue rsa1024 rsa1024 "$code"
issue sha1 P-256 "$code" sha1
issue past P-256 "$code" sha256 20200101000000Z 20210101000000Z
issue revoked P-256 "$code"
issue sub P-256 "$sub"
issue serversub P-256 "$sub""extendedKeyUsage=serverAuth\n"
issue codesub P-256 "$sub""extendedKeyUsage=codeSigning\n"
under sub leaf P-256 "$code"
under serversub serverleaf P-256 "$code"
under codesub codeleaf P-256 "$code"
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -revoke revoked.pem
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -gencrl -out ca.crl
cat ca.pem ca.crl > ca-crl.pem
for r in old new; do key $r-root P-256
  openssl req -x509 -new -config ca.cnf -key $r-root.key -subj "/CN=$r root" -days 30 -addext "$(printf "$sub" | head -1)" -out $r-root.pem
  under $r-root $r-signer P-256 "$code"; done
openssl genpkey -algorithm ED25519 -out ed.key; csr ed; printf "$code" > ed.ext
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in ed.csr -out ed.pem -notext -extfile ed.ext -startdate 20190101000000Z -enddate 20391231000000Z
)sh";

using ToolRun = fwtest::InspectOutcome;

class SignerPolicy : public fwtest::CertificateSuite<SignerPolicy> {
protected:
    friend class fwtest::CertificateSuite<SignerPolicy>;
    static const char* script() { return kMakePolicyCertificates; }
    static void prepareSuite() {
        dir_->write("package", fwtest::patternBytes(50000, 7));
        dir_->write("other", fwtest::patternBytes(50000, 8));
    }

    // A detached DER signature of the package by `signers` (each NAME.pem and NAME.key), made by openssl cms.
    static Bytes toolSign(const std::vector<std::string>& signers, const std::string& more = "",
                          const std::string& package = "package") {
        std::string args = "cms -sign -binary -in " + package + " -outform DER -out tool.sig";
        for (const auto& s : signers) args += " -signer " + s + ".pem -inkey " + s + ".key";
        args += " " + more;  // after the signers, so -keyopt applies to the last
        EXPECT_TRUE(openssl(args)) << args;
        return fwtest::readFile(file("tool.sig"));
    }
    static fw::SignatureVerdict verify(const Bytes& signature, const fw::TrustFiles& trustFiles,
                                       const fw::SignerRules& rules = {}, const std::string& package = "package") {
        std::string error;
        const auto trust = fw::TrustStore::load(trustFiles, &error);
        EXPECT_TRUE(trust) << error;
        if (!trust) return {};
        const auto parsed = fw::DetachedSignature::parse(signature.data(), signature.size());
        const Bytes bytes = fwtest::readFile(file(package));
        fw::PackageDigests digests;
        for (fw::DigestAlgorithm algorithm : parsed.digestAlgorithms()) {
            fw::WholeFileDigest digest(algorithm);
            digest.update(bytes.data(), bytes.size());
            digests.emplace(algorithm, digest.finish());
        }
        return parsed.verify(digests, *trust, rules);
    }
    static fw::SignatureVerdict verify(const Bytes& signature, const std::string& ca = "ca.pem",
                                       const fw::SignerRules& rules = {}) {
        return verify(signature, fw::TrustFiles{file(ca), {}, {}}, rules);
    }
    static std::string subject(const std::string& name) { return "CN=" + name + ",O=Firmware Release"; }

    // A signature made through libcrypto, for what the tool cannot make:
    // `before` changes the signer before its attributes are signed, `after`
    // once they are.
    using Edit = std::function<void(CMS_SignerInfo*)>;
    static Bytes craft(const std::string& signer, const Edit& before, const Edit& after = [](CMS_SignerInfo*) {}) {
        return craft({{signer, EVP_sha256()}}, before, after);
    }
    // Each signer (NAME.pem and NAME.key) with its digest; the edits apply to the last.
    static Bytes craft(const std::vector<std::pair<std::string, const EVP_MD*>>& signers, const Edit& before,
                       const Edit& after = [](CMS_SignerInfo*) {}) {
        const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL;
        fw::CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
        CMS_SignerInfo* si = nullptr;
        for (const auto& [name, md] : signers) {
            fw::BioPtr certIn(BIO_new_file(file(name + ".pem").c_str(), "r"));
            fw::BioPtr keyIn(BIO_new_file(file(name + ".key").c_str(), "r"));
            fw::CertPtr cert(PEM_read_bio_X509(certIn.get(), nullptr, nullptr, nullptr));
            fw::KeyPtr key(PEM_read_bio_PrivateKey(keyIn.get(), nullptr, nullptr, nullptr));
            si = cms ? CMS_add1_signer(cms.get(), cert.get(), key.get(), md, flags) : nullptr;
            if (si == nullptr) return {};
        }
        before(si);
        const Bytes content = fwtest::readFile(file("package"));
        fw::BioPtr data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
        if (CMS_final(cms.get(), data.get(), nullptr, flags) != 1) return {};
        after(si);
        return derOf(cms.get());
    }
    static Bytes derOf(CMS_ContentInfo* cms) {
        const int size = i2d_CMS_ContentInfo(cms, nullptr);
        Bytes der(static_cast<std::size_t>(std::max(size, 0)));
        unsigned char* at = der.data();
        i2d_CMS_ContentInfo(cms, &at);
        return der;
    }
    static ToolRun inspect(const std::vector<std::string>& args) { return fwtest::fwinspect(args); }
    static void pack(const std::string& name) {
        const std::string boot = dir_->write(name + ".boot", fwtest::patternBytes(3000, 5));
        const auto r = fwtest::runPackerWith({"-o", file(name), "-b", "0c35", "-u", boot});
        ASSERT_EQ(r.status, 0) << r.output;
    }

};

// A signing time as UTCTime text, added to the signed attributes.
void addSigningTime(CMS_SignerInfo* si, const char* utcTime) {
    std::unique_ptr<ASN1_TIME, fw::Freer<ASN1_TIME_free>> time(ASN1_TIME_new());
    ASSERT_EQ(ASN1_TIME_set_string(time.get(), utcTime), 1);
    CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, V_ASN1_UTCTIME, time.get(), -1);
}

fw::SignerRules at(fw::CheckTime::Kind kind, std::int64_t given = 0) { return {{}, {kind, given}, false}; }

TEST_F(SignerPolicy, RefusesSignersThatAreNoCodeSigningEndEntityOfSecurityLevelTwo) {
    const std::string ca = " is a CA certificate; only an end entity may sign";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"ca"}, "the signer CN=Policy CA" + ca},
        {{"sub"}, "the signer " + subject("sub") + ca},
        {{"catrue"}, "the signer " + subject("catrue") + ca},
        {{"certsign"}, "the signer " + subject("certsign") + ca},
        {{"noeku"}, "the signer " + subject("noeku") + " is not for code signing: it names no extended key usage"},
        {{"anyeku"},
         "the signer " + subject("anyeku") + " is not for code signing: its extended key usage leaves code signing out"},
        {{"encipher"},
         "the signer " + subject("encipher") + " is not for signing: its key usage leaves digital signatures out"},
        {{"rsa1024"}, "the signer " + subject("rsa1024") + " is not trusted: EE certificate key too weak"},
        {{"sha1"}, "the signer " + subject("sha1") + " is signed by its issuer with a digest too weak to trust (SHA-1 or MD5)"},
        {{"serverleaf", "serversub"},
         "the signer " + subject("serverleaf") + " is not trusted: its issuer " + subject("serversub") +
             " is not for code signing"},
    };
    for (const auto& [files, defect] : cases) {
        const std::string chain = files.size() > 1 ? "-certfile " + files[1] + ".pem" : "";
        const auto verdict = verify(toolSign({files[0]}, chain));
        EXPECT_TRUE(verdict.checked) << files[0];
        EXPECT_FALSE(verdict.valid) << files[0];
        EXPECT_EQ(verdict.defect, defect);
    }
    // What verify refuses from the certificate alone, sign refuses before it writes.
    pack("refused.update");
    for (const std::string who : {"catrue", "sha1"}) {
        const ToolRun r = inspect({"sign", "--key", file(who + ".key"), "--cert", file(who + ".pem"), file("refused.update")});
        EXPECT_EQ(r.status, 2) << who << r.err;
        EXPECT_FALSE(fwtest::exists(file("refused.update.sig"))) << who;
    }
}

TEST_F(SignerPolicy, AcceptsCodeSigningEndEntitiesOfEveryKeyKindTheToolSignsWith) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"good"}, ""},
        {{"bare"}, ""},
        {{"rsa2048"}, ""},
        {{"rsa3072"}, "-md sha512"},
        {{"p384"}, "-md sha384"},
        {{"rsa2048"}, "-noattr"},
        {{"leaf", "sub"}, ""},
        {{"codeleaf", "codesub"}, ""},
    };
    for (const auto& [files, more] : cases) {
        const std::string chain = files.size() > 1 ? " -certfile " + files[1] + ".pem" : "";
        const auto verdict = verify(toolSign({files[0]}, more + chain));
        EXPECT_TRUE(verdict.valid) << files[0] << " " << more << ": " << verdict.defect;
        EXPECT_EQ(verdict.signerSubject, subject(files[0]));
    }
}

TEST_F(SignerPolicy, SignerNamesRestrictBySubjectOrCommonName) {
    const Bytes signature = toolSign({"good"});
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"good"}, true},
        {{subject("good")}, true},
        {{"bare", "good"}, true},
        {{"Firmware Release"}, false},
        {{"goo"}, false},
        {{"O=Firmware Release,CN=good"}, false},
    };
    for (const auto& [names, accepted] : cases) {
        const auto verdict = verify(signature, "ca.pem", fw::SignerRules{names, {}, false});
        EXPECT_EQ(verdict.valid, accepted) << names.back();
        if (!accepted) {
            EXPECT_EQ(verdict.defect, "the signer " + subject("good") + " is not among the signers named with --signer");
        }
    }
}

TEST_F(SignerPolicy, HonoursRevocationListsInTheCaFileAndGivenApart) {
    const Bytes revoked = toolSign({"revoked"});
    EXPECT_TRUE(verify(revoked).valid) << "without a CRL nothing is known of revocation";
    const std::string defect = "the signer " + subject("revoked") + " is not trusted: certificate revoked";
    EXPECT_EQ(verify(revoked, "ca-crl.pem").defect, defect);
    EXPECT_EQ(verify(revoked, fw::TrustFiles{file("ca.pem"), {file("ca.crl")}, {}}).defect, defect);
    EXPECT_EQ(verify(revoked, "ca-crl.pem", at(fw::CheckTime::Kind::given, *fw::dayOf("2020-01-01"))).defect, defect)
        << "a CRL issued after the time checked still revokes";
    EXPECT_TRUE(verify(toolSign({"good"}), "ca-crl.pem").valid);
    // Every issuer on the way needs its CRL once one is given: the sub-CA has none.
    EXPECT_EQ(verify(toolSign({"leaf"}, "-certfile sub.pem"), "ca-crl.pem").defect,
              "the signer " + subject("leaf") + " is not trusted: unable to get certificate CRL");
}

TEST_F(SignerPolicy, UnusableRevocationAndSignerCertificateFilesAreRefusedOnLoading) {
    const std::pair<fw::TrustFiles, std::string> cases[] = {
        {{file("ca.pem"), {file("none.crl")}, {}}, "cannot read the CRL file " + file("none.crl") + ": No such file or directory"},
        {{file("ca.pem"), {file("good.pem")}, {}}, "the CRL file " + file("good.pem") + " holds no PEM CRL"},
        {{file("ca.pem"), {}, file("good.key")}, "the signer certificate file " + file("good.key") + " holds no PEM certificate"},
    };
    for (const auto& [files, message] : cases) {
        std::string error;
        EXPECT_FALSE(fw::TrustStore::load(files, &error));
        EXPECT_EQ(error, message);
    }
}

TEST_F(SignerPolicy, PartialChainOnlyWhenAskedFor) {
    const Bytes signature = toolSign({"leaf"}, "-certfile sub.pem");
    EXPECT_EQ(verify(signature, "sub.pem").defect,
              "the signer " + subject("leaf") + " is not trusted: unable to get issuer certificate");
    EXPECT_TRUE(verify(signature, "sub.pem", fw::SignerRules{{}, {}, true}).valid);
}

TEST_F(SignerPolicy, ChecksTheChainAtTheSigningTimeNowOrAGivenDay) {
    // Valid through 2020, signed mid-2020; expired today.
    const Bytes signature = craft("past", [](CMS_SignerInfo* si) {
        addSigningTime(si, "200601120000Z");
    });
    ASSERT_FALSE(signature.empty());
    const std::string expired = "the signer " + subject("past") + " is not trusted: certificate has expired";
    const std::string early = "the signer " + subject("past") + " is not trusted: certificate is not yet valid";
    using Kind = fw::CheckTime::Kind;
    EXPECT_EQ(verify(signature).defect, expired);
    EXPECT_EQ(verify(signature, "ca.pem", at(Kind::now)).defect, expired);
    const auto atSigning = verify(signature, "ca.pem", at(Kind::signing));
    EXPECT_TRUE(atSigning.valid) << atSigning.defect;
    ASSERT_EQ(atSigning.signers.size(), 1u);
    EXPECT_EQ(atSigning.signers[0].signingTime, "2020-06-01 12:00:00 UTC");
    EXPECT_TRUE(verify(signature, "ca.pem", at(Kind::given, *fw::dayOf("2020-03-01"))).valid);
    EXPECT_TRUE(verify(signature, "ca-crl.pem", at(Kind::signing)).valid) << "a CRL issued since still applies";
    EXPECT_EQ(verify(signature, "ca.pem", at(Kind::given, *fw::dayOf("2019-12-31"))).defect, early);
    EXPECT_EQ(verify(signature, "ca.pem", at(Kind::given, *fw::dayOf("2021-01-02"))).defect, expired);
    EXPECT_EQ(verify(toolSign({"good"}, "-noattr"), "ca.pem", at(Kind::signing)).defect,
              "the signer " + subject("good") + " gave no signing time to check its certificate at (--at signing)");
}

TEST_F(SignerPolicy, DaysAreCalendarDays) {
    EXPECT_EQ(fw::dayOf("1970-01-02"), 86400);
    EXPECT_EQ(fw::dayOf("2024-02-29"), 1709164800);
    for (const char* bad : {"2023-02-29", "2024-13-01", "2024-1-01", "20240101", "2024-01-0x", "", "now"})
        EXPECT_FALSE(fw::dayOf(bad)) << bad;
}

// The signers of a SET OF come in the order of their encoding, not that of signing.
const fw::SignerVerdict* signerNamed(const fw::SignatureVerdict& verdict, const std::string& subject) {
    for (const auto& v : verdict.signers)
        if (v.subject == subject) return &v;
    return nullptr;
}

TEST_F(SignerPolicy, SeveralSignersNeedEveryMatchAndOneAccepted) {
    const Bytes both = toolSign({"old-signer", "new-signer"});
    for (const std::string root : {"old", "new"}) {
        const auto verdict = verify(both, root + "-root.pem");
        EXPECT_TRUE(verdict.valid) << root << ": " << verdict.defect;
        ASSERT_EQ(verdict.signers.size(), 2u);
        const std::string other = root == "old" ? "new" : "old";
        ASSERT_TRUE(signerNamed(verdict, subject(root + "-signer")) && signerNamed(verdict, subject(other + "-signer")));
        EXPECT_TRUE(signerNamed(verdict, subject(root + "-signer"))->accepted);
        EXPECT_EQ(signerNamed(verdict, subject(other + "-signer"))->defect,
                  "the signer " + subject(other + "-signer") + " is not trusted: unable to get local issuer certificate");
        EXPECT_EQ(verdict.signerSubject, subject(root + "-signer"));
    }
    Bytes roots = fwtest::readFile(file("old-root.pem"));
    const Bytes newRoot = fwtest::readFile(file("new-root.pem"));
    roots.insert(roots.end(), newRoot.begin(), newRoot.end());
    dir_->write("roots.pem", roots);
    const auto eachRoot = verify(both, "roots.pem");
    EXPECT_TRUE(eachRoot.valid && eachRoot.signers[0].accepted && eachRoot.signers[1].accepted) << eachRoot.defect;
    const auto none = verify(both, "ca.pem");
    EXPECT_FALSE(none.valid);
    EXPECT_EQ(none.defect, "no signer is accepted: signer 1 of 2: " + none.signers[0].defect + "; signer 2 of 2: " +
                               none.signers[1].defect);
    Bytes broken = both;
    broken[broken.size() - 3] ^= 1;  // inside the last signer's signature value
    const auto verdict = verify(broken, "old-root.pem");
    EXPECT_FALSE(verdict.valid);
    EXPECT_EQ(verdict.defect, "signer 2 of 2: the signature does not match the package");
    EXPECT_TRUE(verdict.signers[0].matches);
    EXPECT_FALSE(verdict.signers[1].matches);
}

TEST_F(SignerPolicy, SignersWithDifferentDigestsEachGetTheirOwn) {
    const Bytes both = craft({{"good", EVP_sha512()}, {"p384", EVP_sha384()}}, [](CMS_SignerInfo*) {});
    ASSERT_FALSE(both.empty());
    const auto parsed = fw::DetachedSignature::parse(both.data(), both.size());
    auto algorithms = parsed.digestAlgorithms();
    std::sort(algorithms.begin(), algorithms.end());
    EXPECT_EQ(algorithms, (std::vector{fw::DigestAlgorithm::sha384, fw::DigestAlgorithm::sha512}));
    const auto verdict = verify(both);
    EXPECT_TRUE(verdict.valid) << verdict.defect;
    EXPECT_EQ(verdict.signers.size(), 2u);
}

TEST_F(SignerPolicy, AcceptsPemSignaturesAndSignerCertificatesGivenApart) {
    ASSERT_TRUE(openssl("cms -sign -binary -in package -signer good.pem -inkey good.key -outform PEM -out pem.sig"));
    const Bytes pem = fwtest::readFile(file("pem.sig"));
    ASSERT_EQ(std::string(pem.begin(), pem.begin() + 15), "-----BEGIN CMS-");
    EXPECT_TRUE(verify(pem).valid);
    std::string text(pem.begin(), pem.end());
    for (const std::string& word : {std::string("BEGIN "), std::string("END ")})
        text.replace(text.find(word + "CMS"), word.size() + 3, word + "PKCS7");
    EXPECT_TRUE(verify(Bytes(text.begin(), text.end())).valid) << text.substr(0, 20);
    const std::string cert = fwtest::textOf(file("good.pem"));
    EXPECT_EQ(verify(Bytes(cert.begin(), cert.end())).defect, "the signature file holds PEM CERTIFICATE, not a CMS signature");

    const Bytes bare = toolSign({"good"}, "-nocerts");
    EXPECT_EQ(verify(bare).defect, "the signature does not carry its signer's certificate");
    EXPECT_TRUE(verify(bare, fw::TrustFiles{file("ca.pem"), {}, file("good.pem")}).valid);
    EXPECT_EQ(verify(bare, fw::TrustFiles{file("ca.pem"), {}, file("bare.pem")}).defect,
              "the signature does not carry its signer's certificate");
}

TEST_F(SignerPolicy, RsaPssVerifiesWithAndWithoutSignedAttributes) {
    for (const std::string more : {"-noattr -keyopt rsa_padding_mode:pss", "-keyopt rsa_padding_mode:pss",
                                   "-noattr -md sha384 -keyopt rsa_padding_mode:pss -keyopt rsa_pss_saltlen:32"}) {
        const Bytes signature = toolSign({"rsa2048"}, more);
        EXPECT_TRUE(verify(signature).valid) << more << ": " << verify(signature).defect;
        dir_->write("pss.sig", signature);
        EXPECT_FALSE(verify(signature, fw::TrustFiles{file("ca.pem"), {}, {}}, {}, "other").valid) << more;
    }
}

TEST_F(SignerPolicy, UnsignedAttributesStaySmall) {
    const auto withUnsigned = [](std::size_t size) {
        return craft("good", [size](CMS_SignerInfo* si) {
            const Bytes value(size, 0x55);
            CMS_unsigned_add1_attr_by_NID(si, NID_id_smime_aa_timeStampToken, V_ASN1_OCTET_STRING, value.data(),
                                          static_cast<int>(value.size()));
        });
    };
    EXPECT_TRUE(verify(withUnsigned(100)).valid);
    for (std::size_t size : {std::size_t{5000}, std::size_t{200} << 10})
        EXPECT_EQ(verify(withUnsigned(size)).defect, "the signature's unsigned attributes exceed 4096 bytes") << size;
}

TEST_F(SignerPolicy, SignedAttributesFollowTheCmsRules) {
    const auto none = [](CMS_SignerInfo*) {};
    const auto empty = craft("good", none, [](CMS_SignerInfo* si) {
        while (CMS_signed_get_attr_count(si) > 0) X509_ATTRIBUTE_free(CMS_signed_delete_attr(si, 0));
    });
    EXPECT_EQ(verify(empty).defect, "the signature's signed attributes are an empty set");
    // libcrypto will not sign these, so they are added once signed: the
    // rules refuse them before the signature is looked at.
    const auto twice = craft("good", none, [](CMS_SignerInfo* si) {
        addSigningTime(si, "200601120000Z");
    });
    EXPECT_EQ(verify(twice).defect, "the signature's signed attributes hold the signing time 2 times; once is allowed");
    const auto otherType = craft("good", none, [](CMS_SignerInfo* si) {
        X509_ATTRIBUTE_free(CMS_signed_delete_attr(si, CMS_signed_get_attr_by_NID(si, NID_pkcs9_contentType, -1)));
        CMS_signed_add1_attr_by_NID(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_nid2obj(NID_pkcs7_signed), -1);
    });
    EXPECT_EQ(verify(otherType).defect, "the signature's signed content type is not data, the content signed");
    const auto noDigest = craft("good", none, [](CMS_SignerInfo* si) {
        X509_ATTRIBUTE_free(CMS_signed_delete_attr(si, CMS_signed_get_attr_by_NID(si, NID_pkcs9_messageDigest, -1)));
    });
    EXPECT_EQ(verify(noDigest).defect, "the signature's signed attributes lack the message digest");
}

TEST_F(SignerPolicy, Ed25519SignaturesNeedTheirContentTypeToo) {
    std::string error;
    auto signer = fw::Signer::load({file("ed.key"), file("ed.pem"), "", ""}, &error);
    ASSERT_TRUE(signer) << error;
    const Bytes content = fwtest::readFile(file("package"));
    fw::WholeFileDigest sha512(fw::DigestAlgorithm::sha512);
    sha512.update(content.data(), content.size());
    const Bytes der = signer->sign({{fw::DigestAlgorithm::sha512, sha512.finish()}}, &error);
    ASSERT_FALSE(der.empty()) << error;
    EXPECT_TRUE(verify(der).valid) << verify(der).defect;

    const unsigned char* at = der.data();
    fw::CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &at, static_cast<long>(der.size())));
    ASSERT_TRUE(cms);
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(CMS_get0_SignerInfos(cms.get()), 0);
    X509_ATTRIBUTE_free(CMS_signed_delete_attr(si, CMS_signed_get_attr_by_NID(si, NID_pkcs9_contentType, -1)));
    const Bytes covered = fw::signedAttributesDer(si);
    fw::BioPtr keyIn(BIO_new_file(file("ed.key").c_str(), "r"));
    fw::KeyPtr key(PEM_read_bio_PrivateKey(keyIn.get(), nullptr, nullptr, nullptr));
    fw::MdCtxPtr ctx(EVP_MD_CTX_new());
    unsigned char value[64];
    std::size_t size = sizeof value;
    ASSERT_EQ(EVP_DigestSignInit_ex(ctx.get(), nullptr, nullptr, nullptr, nullptr, key.get(), nullptr), 1);
    ASSERT_EQ(EVP_DigestSign(ctx.get(), value, &size, covered.data(), covered.size()), 1);
    ASN1_STRING_set(CMS_SignerInfo_get0_signature(si), value, static_cast<int>(size));
    EXPECT_EQ(verify(derOf(cms.get())).defect, "the signature's signed attributes lack the content type");
}

TEST_F(SignerPolicy, VerifyTakesThePolicyOnItsCommandLineAndReportsEverySigner) {
    pack("p.update");
    ASSERT_TRUE(openssl("cms -sign -binary -in p.update -signer old-signer.pem -inkey old-signer.key -signer "
                        "new-signer.pem -inkey new-signer.key -certfile old-root.pem -outform DER -out p.update.sig"));
    const ToolRun text = inspect({"verify", "--ca", file("new-root.pem"), "--signer", "new-signer", "--at", "now",
                                  file("p.update")});
    EXPECT_EQ(text.status, 0) << text.out << text.err;
    const std::string p = file("p.update") + ": ";
    for (const std::string& line : std::vector<std::string>{subject("old-signer") + " at 20", "UTC: the signer " + subject("old-signer") + " is not trusted: ",
          subject("new-signer") + " at 20", "UTC: accepted\n", p + "signer 1 of 2: ", p + "signer 2 of 2: ",
          p + "sound, 1 part, signed by " + subject("new-signer") + " at 20"})
        EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;

    const ToolRun named = inspect({"verify", "--ca", file("new-root.pem"), "--signer", "old-signer", file("p.update")});
    EXPECT_EQ(named.status, 1);
    EXPECT_NE(named.out.find("the signer " + subject("new-signer") + " is not among the signers named with --signer"),
              std::string::npos)
        << named.out;
    // A CRL for one root only leaves the other root's signer of unknown status.
    const ToolRun json = inspect({"verify", "--json", "--ca", file("old-root.pem"), "--crl", file("ca.crl"),
                                  "--partial-chain", file("p.update")});
    EXPECT_EQ(json.status, 1);
    EXPECT_NE(json.out.find(",\"signers\":[{\"subject\":\"CN="), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"signingTime\":\"20"), std::string::npos);
    EXPECT_NE(json.out.find("\"accepted\":false,\"defect\":\"the signer " + subject("old-signer") +
                            " is not trusted: unable to get certificate CRL\"}"),
              std::string::npos);
}

TEST_F(SignerPolicy, SignatureOptionsAreUsageErrorsWithoutCaOrWithABadTime) {
    pack("q.update");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"verify", "--crl", file("ca.crl"), file("q.update")}, "--crl needs --ca"},
        {{"verify", "--signer", "x", file("q.update")}, "--signer needs --ca"},
        {{"verify", "--partial-chain", file("q.update")}, "--partial-chain needs --ca"},
        {{"extract", "--signer-cert", file("good.pem"), file("q.update"), file("q.out")}, "--signer-cert needs --ca"},
        {{"verify", "--ca", file("ca.pem"), "--at", "yesterday", file("q.update")},
         "--at takes signing, now or a date YYYY-MM-DD, not \"yesterday\""},
        {{"verify", "--ca", file("ca.pem"), "--at", "2023-02-29", file("q.update")}, "--at takes"},
        {{"verify", "--ca", file("ca.pem"), "--crl", file("none.crl"), file("q.update")}, "cannot read the CRL file"},
        {{"verify", "--ca", file("ca.pem"), "--signer"}, "--signer needs a value"},
    };
    for (const auto& [args, message] : cases) {
        const ToolRun r = inspect(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
}

}  // namespace
