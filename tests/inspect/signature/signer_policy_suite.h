// Certificates for the signer policy's tests: a root that keeps a database,
// so its certificates can be revoked, signers of every kind the policy
// tells apart, sub-CAs and a key rotation; and ways to sign and verify with
// them outside the tool. Each test file gets its own suite of them.
#pragma once

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
#include "support/certificate_suite.h"
#include "support/in_process.h"
#include "support/test_support.h"


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
inline void addSigningTime(CMS_SignerInfo* si, const char* utcTime) {
    std::unique_ptr<ASN1_TIME, fw::Freer<ASN1_TIME_free>> time(ASN1_TIME_new());
    ASSERT_EQ(ASN1_TIME_set_string(time.get(), utcTime), 1);
    CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, V_ASN1_UTCTIME, time.get(), -1);
}

inline fw::SignerRules at(fw::CheckTime::Kind kind, std::int64_t given = 0) { return {{}, {kind, given}, false}; }

}  // namespace
