// Signatures fwinspect sign writes, as other CMS implementations see them:
// every key kind checked by the openssl command line and by GnuTLS'
// certtool, several signers in one signature, signers added to an earlier
// signature, and keys handed over through pipes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "inspect/command/inspect_command.h"
#include "support/certificate_suite.h"
#include "support/in_process.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;

const char* const kMakeSigners = R"(set -e
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key
openssl req -x509 -new -key ca.key -subj "/CN=Interop CA" -days 30 -out ca.pem \
  -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
printf "extendedKeyUsage=codeSigning\n" > code.ext
signer() { openssl req -new -key $1.key -subj "/CN=$1" -out $1.csr
           openssl x509 -req -in $1.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile code.ext -out $1.pem; }
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa2048.key; signer rsa2048
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:3072 -out rsa3072.key; signer rsa3072
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out p256.key; signer p256
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out p384.key; signer p384
openssl genpkey -algorithm ED25519 -out ed25519.key; signer ed25519
)";

using ToolRun = fwtest::InspectOutcome;

class SignInterop : public fwtest::CertificateSuite<SignInterop> {
protected:
    friend class fwtest::CertificateSuite<SignInterop>;
    static const char* script() { return kMakeSigners; }
    static void prepareSuite() {
        certtool_ = std::system("certtool --version >/dev/null 2>&1") == 0;
    }
    void SetUp() override {
        CertificateSuite::SetUp();
        if (IsSkipped()) return;
        pack("p.update", 1);
        std::remove(file("p.update.sig").c_str());
    }

    static bool shell(const std::string& command) {
        return std::system(("cd " + dir_->path() + " && { " + command + "; } >/dev/null 2>&1").c_str()) == 0;
    }
    static bool opensslVerifies(const std::string& sig, const std::string& package = "p.update") {
        return shell("openssl cms -verify -binary -inform DER -in " + sig + " -content " + package +
                     " -CAfile ca.pem -purpose any -out /dev/null");
    }
    static bool certtoolVerifies(const std::string& sig, const std::string& package = "p.update") {
        return shell("certtool --p7-verify --load-ca-certificate ca.pem --load-data " + package + " --infile " + sig +
                     " --inder");
    }
    // The signer lines of openssl's dump, one per SignerInfo.
    static int signerCount(const std::string& sig) {
        const std::string dump = file("dump.txt");
        shell("openssl cms -cmsout -print -inform DER -in " + sig + " > " + dump);
        const std::string text = fwtest::textOf(dump);
        int count = 0;
        for (std::size_t at = text.find("signatureAlgorithm:"); at != std::string::npos;
             at = text.find("signatureAlgorithm:", at + 1))
            ++count;
        return count;
    }
    static ToolRun inspect(const std::vector<std::string>& args) { return fwtest::fwinspect(args); }
    static void pack(const std::string& name, std::uint32_t salt) {
        const std::string boot = dir_->write(name + ".boot", fwtest::patternBytes(3000, salt));
        const auto r = fwtest::runPackerWith({"-o", file(name), "-b", "0c35", "-u", boot});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    // sign with each named signer's key and certificate, in order.
    static ToolRun sign(const std::vector<std::string>& signers, std::vector<std::string> more = {},
                        const std::string& package = "p.update") {
        std::vector<std::string> args{"sign"};
        for (const auto& s : signers) args.insert(args.end(), {"--key", file(s + ".key"), "--cert", file(s + ".pem")});
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(file(package));
        return inspect(args);
    }

    static inline bool certtool_ = false;
};

TEST_F(SignInterop, EveryKeyKindIsAcceptedByOpensslAndCerttool) {
    // OpenSSL 3.0's cms command cannot check Ed25519 (see Ed25519 below).
    for (const std::string signer : {"rsa2048", "rsa3072", "p256", "p384"}) {
        const std::string sig = signer + ".sig";
        ASSERT_EQ(sign({signer}, {"--output", file(sig)}).status, 0) << signer;
        EXPECT_TRUE(opensslVerifies(sig)) << signer;
        if (certtool_) {
        EXPECT_TRUE(certtoolVerifies(sig)) << signer;
    }
    }
    pack("q.update", 2);
    EXPECT_FALSE(opensslVerifies("p256.sig", "q.update"));
    if (certtool_) {
        EXPECT_FALSE(certtoolVerifies("p256.sig", "q.update"));
    }
}

TEST_F(SignInterop, Ed25519DigestsWithSha512AndCerttoolAccepts) {
    ASSERT_EQ(sign({"ed25519"}).status, 0);
    // The message digest attribute holds the package's SHA-512.
    ASSERT_TRUE(shell("openssl dgst -sha512 -binary p.update > p.sha512"));
    const Bytes sha512 = fwtest::readFile(file("p.sha512"));
    ASSERT_EQ(sha512.size(), 64u);
    const Bytes der = fwtest::readFile(file("p.update.sig"));
    const Bytes attribute{0x04, 0x40};
    Bytes needle = attribute;
    needle.insert(needle.end(), sha512.begin(), sha512.end());
    EXPECT_NE(std::search(der.begin(), der.end(), needle.begin(), needle.end()), der.end());
    ASSERT_TRUE(shell("openssl asn1parse -inform DER -in p.update.sig > asn1.txt"));
    const std::string asn1 = fwtest::textOf(file("asn1.txt"));
    EXPECT_NE(asn1.find(":sha512"), std::string::npos);
    EXPECT_EQ(asn1.find(":sha256"), std::string::npos) << asn1;
    const ToolRun verified = inspect({"verify", "--ca", file("ca.pem"), file("p.update")});
    EXPECT_EQ(verified.status, 0) << verified.out;
    if (!certtool_) GTEST_SKIP() << "no certtool (gnutls-bin) to check with";
    EXPECT_TRUE(certtoolVerifies("p.update.sig"));
    if (shell("openssl cms -sign -binary -md sha512 -in p.update -signer ed25519.pem -inkey ed25519.key "
              "-outform DER -out probe.sig")) {
        EXPECT_TRUE(opensslVerifies("p.update.sig"));
    }
}

TEST_F(SignInterop, SeveralSignersMakeOneSignatureEveryCheckerAccepts) {
    const ToolRun r = sign({"rsa2048", "p384", "ed25519"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, file("p.update") + ": sound, signed by CN=rsa2048, CN=p384 and CN=ed25519 into " +
                         file("p.update.sig") + "\n");
    EXPECT_EQ(signerCount("p.update.sig"), 3);
    if (certtool_) {
        EXPECT_TRUE(certtoolVerifies("p.update.sig"));
    }
    ASSERT_EQ(sign({"rsa2048", "p256"}).status, 0);
    EXPECT_EQ(signerCount("p.update.sig"), 2);
    EXPECT_TRUE(opensslVerifies("p.update.sig"));
}

TEST_F(SignInterop, AddPutsSignersBesideTheEarlierOnes) {
    ASSERT_EQ(sign({"p256"}).status, 0);
    const ToolRun added = sign({"rsa3072"}, {"--add"});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(added.out, file("p.update") + ": sound, signed by CN=rsa3072 into " + file("p.update.sig") +
                             " as signer 2 of 2\n");
    EXPECT_EQ(signerCount("p.update.sig"), 2);
    EXPECT_TRUE(opensslVerifies("p.update.sig"));
    // A signature openssl made takes our signer too, the same one twice as well.
    ASSERT_TRUE(shell("openssl cms -sign -binary -in p.update -signer p384.pem -inkey p384.key -md sha384 "
                      "-outform DER -out tool.sig"));
    const ToolRun two = sign({"ed25519", "p384"}, {"--add", "--output", file("tool.sig")});
    ASSERT_EQ(two.status, 0) << two.err;
    EXPECT_NE(two.out.find("CN=ed25519 and CN=p384 into " + file("tool.sig") + " as signers 2 and 3 of 3\n"),
              std::string::npos) << two.out;
    EXPECT_EQ(signerCount("tool.sig"), 3);
    if (certtool_) {
        EXPECT_TRUE(certtoolVerifies("tool.sig"));
    }
}

TEST_F(SignInterop, AddRefusesWhatIsNoSignatureOfThisPackageAndWritesNothing) {
    pack("q.update", 2);
    ASSERT_EQ(sign({"p256"}, {}, "q.update").status, 0);
    ASSERT_TRUE(shell("openssl cms -sign -binary -noattr -in p.update -signer p256.pem -inkey p256.key "
                      "-outform DER -out bare.sig"));
    ASSERT_TRUE(shell("openssl cms -sign -binary -nodetach -in p.update -signer p256.pem -inkey p256.key "
                      "-outform DER -out attached.sig"));
    dir_->write("garbage.sig", std::string("not a signature"));
    // The same signature with its outermost length left open, as BER allows.
    ASSERT_EQ(sign({"p256"}, {"--output", file("der.sig")}).status, 0);
    Bytes ber = fwtest::readFile(file("der.sig"));
    ASSERT_EQ(ber[1], 0x82);
    ber.erase(ber.begin() + 1, ber.begin() + 4);
    ber.insert(ber.begin() + 1, 0x80);
    ber.insert(ber.end(), {0x00, 0x00});
    dir_->write("ber.sig", ber);
    ASSERT_TRUE(opensslVerifies("ber.sig"));
    const std::pair<std::string, std::string> cases[] = {
        {"q.update.sig", "is of another package: its signer CN=p256 signed other bytes; no signer added"},
        {"bare.sig", "has no signed attributes, so its package cannot be told from its digest"},
        {"attached.sig", "carries its content; only detached ones take signers"},
        {"garbage.sig", "holds no CMS signature in DER"},
        {"ber.sig", "is not in DER, so it cannot take signers without changing the earlier ones"},
        {"ca.pem", "holds no CMS signature in DER"},
        {"missing.sig", "no signature file " + file("missing.sig") + " to add a signer to"},
    };
    for (const auto& [sig, message] : cases) {
        const std::string before = fwtest::textOf(file(sig));
        const ToolRun r = sign({"rsa2048"}, {"--add", "--output", file(sig)});
        EXPECT_EQ(r.status, 2) << sig;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(fwtest::textOf(file(sig)), before) << sig;
    }
}

TEST_F(SignInterop, SignerOptionsThatDoNotPairAreUsageErrors) {
    const std::string k = file("p256.key"), c = file("p256.pem"), p = file("p.update");
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"sign", "--key", k, "--key", k, "--cert", c, p}, "sign needs one --cert for each --key, in the same order"},
        {{"sign", "--key", k, "--cert", c, "--cert", c, p}, "sign needs one --cert for each --key, in the same order"},
        {{"sign", "--key", k, "--cert", c, "--key", k, "--cert", c, "--key", k, "--cert", c, "--pass-env", "A",
          "--pass-env", "B", p},
         "--pass-env is given once for every signer or once for each --key"},
        {{"sign", "--key", k, "--cert", c, "--chain", c, "--chain", c, p},
         "--chain is given once for every signer or once for each --key"},
        {{"verify", "--add", p}, "unknown option --add"},
    };
    for (const auto& [args, message] : cases) {
        const ToolRun r = inspect(args);
        EXPECT_EQ(r.status, 2) << message;
        EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fwtest::exists(file("p.update.sig")));
}

TEST_F(SignInterop, OutputMayBeNoSignersFile) {
    const ToolRun r = sign({"p256", "rsa2048"}, {"--output", file("rsa2048.pem")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "fwinspect: " + file("rsa2048.pem") + " is the certificate; the signature goes elsewhere "
                     "(--output SIG)\n");
}

// The built tool in a shell, for pipes only a shell makes.
TEST_F(SignInterop, KeysAndCertificatesComeThroughPipesAndFifos) {
    const std::string tool = FWINSPECT_BINARY;
    const std::string tail = " --output piped.sig p.update";
    EXPECT_TRUE(shell("cat p256.key | " + tool + " sign --key /dev/stdin --cert p256.pem" + tail));
    EXPECT_TRUE(opensslVerifies("piped.sig"));
    if (std::system("bash --version >/dev/null 2>&1") == 0) {
        std::remove(file("piped.sig").c_str());
        EXPECT_TRUE(shell("bash -c '" + tool + " sign --key <(cat rsa2048.key) --cert <(cat rsa2048.pem)" + tail + "'"));
        EXPECT_TRUE(opensslVerifies("piped.sig"));
    }
    std::remove(file("piped.sig").c_str());
    ASSERT_TRUE(shell("mkfifo key.fifo"));
    EXPECT_TRUE(shell("(cat p384.key > key.fifo &) && " + tool + " sign --key key.fifo --cert p384.pem" + tail));
    EXPECT_TRUE(opensslVerifies("piped.sig"));
    // A stream that never ends is refused at the limit, not read forever.
    const ToolRun endless = inspect({"sign", "--key", "/dev/zero", "--cert", file("p256.pem"), file("p.update")});
    EXPECT_EQ(endless.status, 2);
    EXPECT_EQ(endless.err, "fwinspect: cannot read the key file /dev/zero: larger than 16777216 bytes\n");
}

}  // namespace
