// What sign writes and what verify takes at their edges: the signer count,
// a signature behind a link, names that steer the terminal (those of
// token URIs in sign_hsm_test, in a process of their own), a failed
// rename, and a CA file at the size limit.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "certificate_suite.h"
#include "package_bytes.h"
#include "test_support.h"

namespace {

using fwtest::Bytes;
using ToolRun = fwtest::InspectOutcome;

const char* const kMakeSigners = R"(set -e
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key
openssl req -x509 -new -key ca.key -subj "/CN=Limits CA" -days 30 -out ca.pem
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out signer.key
openssl req -new -key signer.key -subj "/CN=Limits signer" -out signer.csr
printf "extendedKeyUsage=codeSigning\n" > signer.ext
openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile signer.ext -out signer.pem
openssl req -x509 -new -key ca.key -subj "/CN=Filler 000000" -days 30 -outform DER -out filler.der
)";

class SignLimits : public fwtest::CertificateSuite<SignLimits> {
protected:
    friend class fwtest::CertificateSuite<SignLimits>;
    static const char* script() { return kMakeSigners; }
    void SetUp() override {
        CertificateSuite::SetUp();
        if (IsSkipped()) return;
        const std::string boot = dir_->write("p.boot", fwtest::patternBytes(3000, 3));
        ASSERT_EQ(fwtest::runPackerWith({"-o", file("p.update"), "-b", "0c35", "-u", boot}).status, 0);
        std::remove(file("p.update.sig").c_str());
    }
    // sign by the one signer `times` times over.
    static ToolRun sign(int times, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"sign"};
        for (int i = 0; i < times; ++i) args.insert(args.end(), {"--key", file("signer.key"), "--cert", file("signer.pem")});
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(file("p.update"));
        return fwtest::fwinspect(args);
    }
    static int verify(const std::string& sig) {
        return fwtest::fwinspect({"verify", "--ca", file("ca.pem"), "--signature", sig, file("p.update")}).status;
    }
    // A CA file just under the 16 MiB limit: `first`, then copies of the
    // filler certificate, of `kinds` different subjects in turn.
    static std::string caFileAtLimit(const std::string& name, const std::string& first, int kinds) {
        if (fwtest::exists(file(name))) return file(name);
        const Bytes der = fwtest::readFile(file("filler.der"));
        const std::size_t digits = std::string(der.begin(), der.end()).find("000000");
        std::string text = fwtest::textOf(file(first));
        for (int i = 0;; ++i) {
            Bytes cert = der;
            for (int n = i % kinds, d = 5; d >= 0; --d, n /= 10) cert[digits + d] = static_cast<std::uint8_t>('0' + n % 10);
            std::string pem(4 * (cert.size() + 2) / 3 + 1, '\0');
            pem.resize(static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(pem.data()),
                                                                cert.data(), static_cast<int>(cert.size()))));
            for (std::size_t at = 64; at < pem.size(); at += 65) pem.insert(at, "\n");
            const std::string block = "-----BEGIN CERTIFICATE-----\n" + pem + "\n-----END CERTIFICATE-----\n";
            if (text.size() + block.size() > (16u << 20)) break;
            text += block;
        }
        return dir_->write(name, text);
    }
    struct Cost {
        int status;
        double cpuSeconds;
        long peakKiB;
    };
    static Cost measured(const std::vector<std::string>& args) {
        const pid_t child = fwtest::startTool(FWINSPECT_BINARY, args, [] {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
        });
        int status = 0;
        struct rusage use {};
        ::wait4(child, &status, 0, &use);
        const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
        return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, seconds(use.ru_utime) + seconds(use.ru_stime),
                use.ru_maxrss};
    }
};

TEST_F(SignLimits, SignRefusesMoreSignersThanVerifyTakesAndWritesNothing) {
    const ToolRun seventeen = sign(17);
    EXPECT_EQ(seventeen.status, 2);
    EXPECT_EQ(seventeen.err, "fwinspect: cannot sign " + file("p.update") +
                                 ": the signature would have 17 signers; at most 16 are accepted; nothing written\n");
    EXPECT_FALSE(fwtest::exists(file("p.update.sig")));
    ASSERT_EQ(sign(16).status, 0);
    const Bytes sixteen = fwtest::readFile(file("p.update.sig"));
    const ToolRun added = sign(1, {"--add"});
    EXPECT_EQ(added.status, 2);
    EXPECT_NE(added.err.find("would have 17 signers; at most 16 are accepted"), std::string::npos) << added.err;
    EXPECT_EQ(fwtest::readFile(file("p.update.sig")), sixteen);
    EXPECT_EQ(verify(file("p.update.sig")), 0);
}

TEST_F(SignLimits, SignWritesThroughALinkAndKeepsIt) {
    const std::string stale = dir_->write("target.sig", std::string("stale"));
    ASSERT_EQ(::symlink("target.sig", file("p.update.sig").c_str()), 0);
    for (const std::vector<std::string>& more : {std::vector<std::string>{}, {"--add"}}) {
        ASSERT_EQ(sign(1, more).status, 0);
        struct stat st {};
        ASSERT_EQ(::lstat(file("p.update.sig").c_str(), &st), 0);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        EXPECT_EQ(verify(stale), 0);
    }
}

TEST_F(SignLimits, NamesThatSteerTheTerminalAreEscapedInEveryMessage) {
    const std::string odd = file("a\x1b[2J\rb");
    const std::string k = file("signer.key"), c = file("signer.pem"), p = file("p.update");
    const std::vector<std::vector<std::string>> cases = {
        {"sign", "--key", odd, "--cert", c, p},
        {"sign", "--key", k, "--cert", odd, p},
        {"sign", "--key", k, "--cert", c, "--chain", odd, p},
        {"sign", "--key", k, "--cert", c, "--pass-env", "A\x1b[2J", p},
        {"verify", "--ca", odd, p},
        {"verify", "--ca", c, "--crl", odd, p},
        {"verify", "--ca", c, "--signer-cert", odd, p},
        {"extract", "--ca", odd, p, file("out")},
    };
    for (const auto& args : cases) {
        const ToolRun r = fwtest::fwinspect(args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.find_first_of("\x1b\r"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("\\x1b[2J"), std::string::npos) << r.err;
    }
}

TEST_F(SignLimits, ANewSignatureThatCannotBeRemovedIsNamed) {
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot run here";
    ASSERT_EQ(sign(1).status, 0);
    const Bytes earlier = fwtest::readFile(file("p.update.sig"));
    // LeakSanitizer cannot run under a tracer.
    const std::string command = "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o /dev/null "
                                "-e inject=renameat:error=EIO -e inject=unlinkat:error=EIO " +
                                std::string(FWINSPECT_BINARY) + " sign --key signer.key --cert signer.pem p.update 2> err";
    EXPECT_NE(std::system(("cd " + dir_->path() + " && " + command).c_str()), 0);
    const std::string err = fwtest::textOf(file("err"));
    const std::size_t at = err.find("stays as ./.fwinspect-");
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_TRUE(fwtest::exists(file(err.substr(at + 11, 21)))) << err;
    EXPECT_EQ(fwtest::readFile(file("p.update.sig")), earlier);
    std::remove(file(err.substr(at + 11, 21)).c_str());
}

// Decoding every certificate of a 16 MiB CA file took 19 s and 260 MB.
// AddressSanitizer's shadow memory and slower code are no release's figures.
#ifdef __SANITIZE_ADDRESS__
constexpr bool measurable = false;
#else
constexpr bool measurable = true;
#endif

TEST_F(SignLimits, ACaFileAtTheLimitIsReadQuickly) {
    ASSERT_EQ(sign(1).status, 0);
    const std::string bundle = caFileAtLimit("bundle.pem", "ca.pem", 999);
    const std::string collection = caFileAtLimit("collection.pem", "signer.pem", 999999);
    const std::pair<std::string, int> cases[] = {{bundle, 0}, {collection, 2}};
    for (const auto& [ca, status] : cases) {
        const Cost cost = measured({"verify", "--ca", ca, file("p.update")});
        EXPECT_EQ(cost.status, status) << ca;
        if (!measurable) continue;
        EXPECT_LT(cost.cpuSeconds, 2.0) << ca;
        EXPECT_LT(cost.peakKiB, 64 << 10) << ca;
    }
    const ToolRun refused = fwtest::fwinspect({"verify", "--ca", collection, file("p.update")});
    EXPECT_EQ(refused.err, "fwinspect: the CA file " + collection +
                               " holds more than 1000 different certificates; a trust store takes its few roots, "
                               "not a whole collection\n");
}

}  // namespace
