// Signing with keys kept in a PKCS#11 token: a throwaway SoftHSM2 token
// made with softhsm2-util and pkcs11-tool, reached through OpenSSL's
// pkcs11 engine, as a release pipeline with a hardware module would.
#include <openssl/crypto.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <string>
#include <vector>

#include "inspect/command/inspect_command.h"
#include "package_bytes.h"
#include "test_support.h"

namespace {

const char* const kModule = "/usr/lib/softhsm/libsofthsm2.so";
const char* const kPin = "274193";

// $1: the scratch folder. Keys are made inside the token and never leave it.
const char* const kMakeToken = R"(set -e
cd "$1"
mkdir tokens
printf "directories.tokendir = %s/tokens\nobjectstore.backend = file\nlog.level = ERROR\n" "$1" > softhsm2.conf
export SOFTHSM2_CONF="$1/softhsm2.conf"
softhsm2-util --init-token --free --label fwtest --so-pin 917364 --pin "$2"
pkcs11-tool --module "$3" --login --pin "$2" --keypairgen --key-type rsa:2048 --id 01 --label rsa
pkcs11-tool --module "$3" --login --pin "$2" --keypairgen --key-type EC:prime256v1 --id 02 --label p256
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key
openssl req -x509 -new -key ca.key -subj "/CN=Token CA" -days 30 -out ca.pem
printf "extendedKeyUsage=codeSigning\n" > code.ext
for k in rsa p256; do
  openssl req -new -engine pkcs11 -keyform engine -key "pkcs11:token=fwtest;object=$k;type=private;pin-value=$2" \
    -subj "/CN=token $k" -out $k.csr
  openssl x509 -req -in $k.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile code.ext -out $k.pem
done
pkcs11-tool --module "$3" --login --pin "$2" --write-object rsa.pem --type cert --id 01 --label rsa
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-384 -out file.key
openssl req -new -key file.key -subj "/CN=file p384" -out file.csr
openssl x509 -req -in file.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile code.ext -out file.pem
)";

using ToolRun = fwtest::InspectOutcome;

std::string keyUri(const std::string& label) { return "pkcs11:token=fwtest;object=" + label + ";type=private"; }

class TokenSigning : public ::testing::Test {
protected:
    // The pkcs11 engine, once loaded, keeps the token store it found for
    // the rest of the process: the token is made once a process, and the
    // suite signs with it however often the test program runs it.
    static void SetUpTestSuite() {
        static fwtest::ScratchDir tokenDir;
        static const bool made = makeToken(tokenDir);
        dir_ = &tokenDir;
        made_ = made;
        // The engine in this process finds the token through the same file.
        ::setenv("SOFTHSM2_CONF", dir_->file("softhsm2.conf").c_str(), 1);
        ::setenv("FWTEST_TOKEN_PIN", kPin, 1);
        ::setenv("FWTEST_WRONG_PIN", "111111", 1);
    }
    static bool makeToken(const fwtest::ScratchDir& dir) {
        const bool tools = std::system("softhsm2-util --version >/dev/null 2>&1") == 0 &&
                           std::system("command -v pkcs11-tool >/dev/null 2>&1") == 0 &&
                           std::system("openssl engine pkcs11 >/dev/null 2>&1") == 0 && fwtest::exists(kModule);
        return tools && std::system(("sh -c '" + std::string(kMakeToken) + "' sh " + dir.path() + " " + kPin + " " +
                                     kModule + " >/dev/null 2>&1")
                                        .c_str()) == 0;
    }
    void SetUp() override {
        if (!made_) GTEST_SKIP() << "softhsm2, opensc's pkcs11-tool or the openssl pkcs11 engine is missing";
        const std::string boot = dir_->write("p.boot", fwtest::patternBytes(3000, 5));
        const auto r = fwtest::runPackerWith({"-o", file("p.update"), "-b", "0c35", "-u", boot});
        ASSERT_EQ(r.status, 0) << r.output;
        std::remove(file("p.update.sig").c_str());
    }

    static std::string file(const std::string& name) { return dir_->file(name); }
    static ToolRun inspect(const std::vector<std::string>& args) { return fwtest::fwinspect(args); }
    static ToolRun sign(const std::string& key, const std::string& cert, const std::string& pinEnv = "FWTEST_TOKEN_PIN") {
        std::vector<std::string> args{"sign", "--key", key, "--cert", cert};
        if (!pinEnv.empty()) args.insert(args.end(), {"--pass-env", pinEnv});
        args.push_back(file("p.update"));
        return inspect(args);
    }
    // The built tool in a process of its own: a token stays logged in for
    // the rest of a process once a PIN opened it, so refusals of a PIN are
    // only seen by a fresh one.
    static ToolRun signApart(const std::string& key, const std::string& cert, const std::string& pinEnv,
                             const std::string& variables = "") {
        std::string command = variables + " '" + FWINSPECT_BINARY + "' sign --key '" + key + "' --cert '" + cert + "'";
        if (!pinEnv.empty()) command += " --pass-env " + pinEnv;
        command += " '" + file("p.update") + "' > '" + file("out.txt") + "' 2> '" + file("err.txt") + "'";
        const int status = std::system(command.c_str());
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, fwtest::textOf(file("out.txt")),
                fwtest::textOf(file("err.txt"))};
    }
    static bool opensslVerifies() {
        return std::system(("cd " + dir_->path() +
                            " && openssl cms -verify -binary -inform DER -in p.update.sig -content p.update "
                            "-CAfile ca.pem -purpose any -out /dev/null >/dev/null 2>&1")
                               .c_str()) == 0;
    }

    static inline fwtest::ScratchDir* dir_ = nullptr;
    static inline bool made_ = false;
};

TEST_F(TokenSigning, RsaAndP256KeysInTheTokenSignForBothVerifiers) {
    for (const std::string label : {"rsa", "p256"}) {
        const ToolRun r = sign(keyUri(label), file(label + ".pem"));
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, file("p.update") + ": sound, signed by CN=token " + label + " into " + file("p.update.sig") + "\n");
        const ToolRun verified = inspect({"verify", "--ca", file("ca.pem"), file("p.update")});
        EXPECT_EQ(verified.status, 0) << label << ": " << verified.out;
        EXPECT_TRUE(opensslVerifies()) << label;
    }
}

TEST_F(TokenSigning, CertificateMayComeFromTheTokenToo) {
    const ToolRun r = sign(keyUri("rsa"), "pkcs11:token=fwtest;object=rsa;type=cert");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(opensslVerifies());
}

TEST_F(TokenSigning, TokenKeyAndFileKeySignTogether) {
    const ToolRun r = inspect({"sign", "--key", keyUri("p256"), "--cert", file("p256.pem"), "--pass-env",
                               "FWTEST_TOKEN_PIN", "--key", file("file.key"), "--cert", file("file.pem"),
                               file("p.update")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("signed by CN=token p256 and CN=file p384"), std::string::npos) << r.out;
    EXPECT_TRUE(opensslVerifies());
}

TEST_F(TokenSigning, RefusalsNameTheUriAndNeverThePin) {
    const std::string rsa = keyUri("rsa"), rsaCert = file("rsa.pem");
    struct Case {
        std::string key, cert, pinEnv, message;
    };
    const Case cases[] = {
        {rsa, rsaCert, "FWTEST_WRONG_PIN", "cannot load the key " + rsa + " from its token (PIN incorrect)"},
        {rsa, rsaCert, "", "cannot load the key " + rsa + " from its token: no PIN was given (--pass-env names"},
        {rsa, rsaCert, "FWTEST_NO_SUCH_PIN",
         "the environment variable FWTEST_NO_SUCH_PIN, which should hold the PIN for " + rsa + ", is not set"},
        {keyUri("nothing"), rsaCert, "FWTEST_TOKEN_PIN",
         "cannot load the key " + keyUri("nothing") + " from its token (object not found)"},
        {rsa + ";pin-value=111111", rsaCert, "", "cannot load the key " + rsa + " from its token (PIN incorrect)"},
        {"pkcs11:token=no-such-token;object=rsa", rsaCert, "FWTEST_TOKEN_PIN",
         "cannot load the key pkcs11:token=no-such-token;object=rsa from its token"},
        {keyUri("p256"), rsaCert, "FWTEST_TOKEN_PIN",
         "the key in " + keyUri("p256") + " does not belong to the certificate in " + rsaCert},
        {rsa, "pkcs11:token=fwtest;object=p256;type=cert", "FWTEST_TOKEN_PIN",
         "cannot load the certificate pkcs11:token=fwtest;object=p256;type=cert from its token"},
        {keyUri("a\x1b[2J"), rsaCert, "FWTEST_TOKEN_PIN", "cannot load the key " + keyUri("a\\x1b[2J") + " from"},
    };
    for (const Case& c : cases) {
        const ToolRun r = signApart(c.key, c.cert, c.pinEnv);
        EXPECT_EQ(r.status, 2) << c.message << "\n" << r.out << r.err;
        EXPECT_EQ(r.err.rfind("fwinspect: " + c.message, 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(r.err.find(kPin), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("111111"), std::string::npos) << r.err;
        EXPECT_FALSE(fwtest::exists(file("p.update.sig")));
    }
}

// The engine and the token's module named by their full paths instead of
// found where the system keeps them; anything else is refused unloaded.
TEST_F(TokenSigning, EngineAndModuleComeFromTheFullPathsNamed) {
    std::string engines = OpenSSL_version(OPENSSL_ENGINES_DIR);  // ENGINESDIR: "..."
    engines = engines.substr(engines.find('"') + 1, engines.rfind('"') - engines.find('"') - 1);
    const std::string engine = "FWINSPECT_PKCS11_ENGINE=" + engines + "/pkcs11.so";
    const std::string key = keyUri("p256"), cert = file("p256.pem");
    ToolRun r = signApart(key, cert, "FWTEST_TOKEN_PIN", engine + " FWINSPECT_PKCS11_MODULE=" + kModule);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(opensslVerifies());
    const std::pair<std::string, std::string> refused[] = {
        {"FWINSPECT_PKCS11_ENGINE=pkcs11.so", "FWINSPECT_PKCS11_ENGINE must name a file by its full path, not \"pkcs11.so\""},
        {"FWINSPECT_PKCS11_ENGINE=/no/engine.so",
         "PKCS#11 keys need OpenSSL's pkcs11 engine, which cannot be loaded from /no/engine.so (/no/engine.so: cannot open"},
        {engine + " FWINSPECT_PKCS11_MODULE=/no/module.so", "cannot load the PKCS#11 module /no/module.so (/no/module.so:"},
    };
    for (const auto& [variables, message] : refused) {
        r = signApart(key, cert, "FWTEST_TOKEN_PIN", variables);
        EXPECT_EQ(r.status, 2) << variables;
        EXPECT_EQ(r.err.rfind("fwinspect: " + message, 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }
}

}  // namespace
