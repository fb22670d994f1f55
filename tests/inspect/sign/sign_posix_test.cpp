// fwinspect sign and verify --ca as a release engineer runs them, and as
// the openssl command line sees their signatures.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "inspect/command/inspect_command.h"
#include "inspect/extract/extract.h"
#include "support/certificate_suite.h"
#include "support/in_process.h"
#include "support/test_support.h"

namespace {

using fwtest::Bytes;

using ToolRun = fwtest::InspectOutcome;

class Signing : public fwtest::CertificateSuite<Signing> {
protected:
    friend class fwtest::CertificateSuite<Signing>;
    static const char* script() {
        static const std::string script = fwtest::releaseSignerScript +
            "openssl req -x509 -new -key ca.key -subj \"/CN=Filler 000000\" -days 30 -outform DER -out filler.der\n";
        return script.c_str();
    }
    void SetUp() override {
        CertificateSuite::SetUp();
        if (IsSkipped()) return;
        pack("p.update", 1);
        std::remove(file("p.update.sig").c_str());
    }

    static ToolRun inspect(const std::vector<std::string>& args) { return fwtest::fwinspect(args); }
    static void pack(const std::string& name, std::uint32_t salt) {
        const std::string boot = dir_->write(name + ".boot", fwtest::patternBytes(3000, salt));
        const std::string abc = dir_->write(name + ".abc", std::string("abc"));
        const auto r = fwtest::runPackerWith({"-o", file(name), "-b", "0c35", "-u", boot, "-n", "", abc});
        ASSERT_EQ(r.status, 0) << r.output;
    }
    static ToolRun sign(const std::string& package, std::vector<std::string> more = {}) {
        std::vector<std::string> args{"sign", "--key", file("signer.key"), "--cert", file("signer.pem")};
        args.insert(args.end(), more.begin(), more.end());
        args.push_back(file(package));
        return inspect(args);
    }
    // sign by the one signer `times` times over.
    static ToolRun signTimes(int times, std::vector<std::string> more = {}) {
        for (int i = 1; i < times; ++i) more.insert(more.begin(), {"--key", file("signer.key"), "--cert", file("signer.pem")});
        return sign("p.update", more);
    }

};

TEST_F(Signing, SignedPackageVerifiesHereAndWithOpenssl) {
    const ToolRun signed_ = sign("p.update");
    ASSERT_EQ(signed_.status, 0) << signed_.err;
    EXPECT_EQ(signed_.out, file("p.update") + ": sound, signed by CN=Release signer into " + file("p.update.sig") + "\n");
    const ToolRun verified = inspect({"verify", "--ca", file("ca.pem"), file("p.update")});
    EXPECT_EQ(verified.status, 0) << verified.out;
    const std::string verdict = file("p.update") + ": sound, 2 parts, signed by CN=Release signer at 20";
    EXPECT_EQ(verified.out.substr(0, verdict.size()), verdict) << verified.out;
    EXPECT_EQ(verified.out.size(), verdict.size() + std::string("26-12-08 21:15:44 UTC\n").size()) << verified.out;
    EXPECT_TRUE(openssl("cms -verify -binary -inform DER -in p.update.sig -content p.update -CAfile ca.pem "
                        "-purpose any -out /dev/null"));
}

TEST_F(Signing, OpensslSignatureVerifiesHere) {
    ASSERT_TRUE(openssl("cms -sign -binary -in p.update -signer signer.pem -inkey signer.key -outform DER "
                        "-out openssl.sig"));
    const ToolRun r = inspect({"verify", "--ca", file("ca.pem"), "--signature", file("openssl.sig"), file("p.update")});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST_F(Signing, SignatureOfAnotherPackageOrNoneIsADefect) {
    pack("q.update", 2);
    ASSERT_EQ(sign("q.update").status, 0);
    struct Case {
        std::string signature, defect;
    };
    dir_->write("empty.sig", std::string());
    dir_->write("garbage.sig", std::string("not a signature at all"));
    const Case cases[] = {
        {file("q.update.sig"), "the signature does not match the package"},
        {file("nowhere.sig"), "no signature file " + file("nowhere.sig")},
        {file("empty.sig"), "signature"},
        {file("garbage.sig"), "signature"},
    };
    for (const Case& c : cases) {
        const ToolRun r = inspect({"verify", "--ca", file("ca.pem"), "--signature", c.signature, file("p.update")});
        EXPECT_EQ(r.status, 1) << c.signature;
        EXPECT_NE(r.out.find(c.defect), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(": 1 defect\n"), std::string::npos) << r.out;
    }
}

TEST_F(Signing, DefectivePackageIsNotSigned) {
    Bytes bytes = fwtest::readFile(file("p.update"));
    bytes.back() ^= 1;
    dir_->write("bad.update", bytes);
    dir_->write("bad.update.sig", std::string("earlier"));
    const ToolRun r = sign("bad.update");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("digest does not match its data"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("not signed"), std::string::npos);
    EXPECT_EQ(fwtest::readFile(file("bad.update.sig")), Bytes({'e', 'a', 'r', 'l', 'i', 'e', 'r'}));
}

TEST_F(Signing, UnusableFilesAndOptionsExitWithTwoAndWriteNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"sign", "--key", file("missing.key"), "--cert", file("signer.pem"), file("p.update")},
        {"sign", "--key", file("ca.key"), "--cert", file("signer.pem"), file("p.update")},
        {"sign", "--cert", file("signer.pem"), file("p.update")},
        {"verify", "--signature", file("p.update.sig"), file("p.update")},
        {"verify", "--ca", file("missing.pem"), file("p.update")},
        {"verify", "--ca"},
    };
    for (const auto& args : cases) {
        const ToolRun r = inspect(args);
        EXPECT_EQ(r.status, 2) << args[1] << " " << args[2];
        EXPECT_EQ(r.err.rfind("fwinspect: ", 0), 0u) << r.err;
        EXPECT_FALSE(fwtest::exists(file("p.update.sig")));
    }
}

TEST_F(Signing, OutputOptionChoosesTheSignatureFileAndJsonReportsIt) {
    ASSERT_EQ(sign("p.update", {"--output", file("elsewhere.sig")}).status, 0);
    EXPECT_FALSE(fwtest::exists(file("p.update.sig")));
    const ToolRun r = inspect({"verify", "--json", "--ca", file("ca.pem"), "--signature", file("elsewhere.sig"), file("p.update")});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\"signature\":{\"file\":\"" + file("elsewhere.sig") +
                         "\",\"checked\":true,\"valid\":true,\"signer\":\"CN=Release signer\",\"defect\":null,\"signingTime\":\"20"),
              std::string::npos)
        << r.out;
}

// The named part's data is "abc" alone (an empty name has no name field).
TEST_F(Signing, ListShowsSha256OfEachPartAndOfThePackage) {
    const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
    const ToolRun text = inspect({"list", "--digests", file("p.update")});
    EXPECT_NE(text.out.find(" 1  ok        " + abc + "\n"), std::string::npos) << text.out;
    const ToolRun json = inspect({"list", "--json", "--digests", file("p.update")});
    EXPECT_NE(json.out.find("\"sha256\":\"" + abc + "\""), std::string::npos) << json.out;
    if (std::system("sha256sum --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no sha256sum to compare with";
    ASSERT_EQ(std::system(("sha256sum " + file("p.update") + " > " + file("p.sum")).c_str()), 0);
    const Bytes sum = fwtest::readFile(file("p.sum"));
    const std::string whole(sum.begin(), sum.begin() + 64);
    EXPECT_NE(text.out.find("\npackage       " + whole + "\n"), std::string::npos) << text.out;
    EXPECT_NE(json.out.find("\"sha256\":\"" + whole + "\""), std::string::npos);
}

}  // namespace

namespace {

// extract --ca keeps the parts only when the signature covers the bytes
// they were written from.
TEST_F(Signing, ExtractWithCaKeepsThePartsOnlyUnderAMatchingSignature) {
    pack("q.update", 2);
    ASSERT_EQ(sign("q.update").status, 0);
    ASSERT_EQ(sign("p.update").status, 0);
    const std::pair<std::string, std::string> cases[] = {
        {file("q.update.sig"), "the signature does not match the package"},
        {file("nowhere.sig"), "no signature file " + file("nowhere.sig")},
    };
    for (const auto& [signature, defect] : cases) {
        const std::string out = file("refused");
        const ToolRun r = inspect(
            {"extract", "--ca", file("ca.pem"), "--signature", signature, "--part", "boot", file("p.update"), out});
        EXPECT_EQ(r.status, 1) << signature;
        EXPECT_EQ(r.out, defect + "\n");
        EXPECT_NE(r.err.find("nothing extracted"), std::string::npos) << r.err;
        EXPECT_FALSE(fwtest::exists(out)) << signature;
    }
    // The package's named part has an empty name, which no file can have.
    const ToolRun good = inspect({"extract", "--ca", file("ca.pem"), "--part", "boot", file("p.update"), file("kept")});
    EXPECT_EQ(good.status, 0) << good.out << good.err;
    EXPECT_EQ(fwtest::readFile(file("kept/boot.img")), fwtest::patternBytes(3000, 1));
    const ToolRun untrusted =
        inspect({"extract", "--ca", file("signer.pem"), "--part", "boot", file("p.update"), file("untrusted")});
    EXPECT_EQ(untrusted.status, 1);
    EXPECT_FALSE(fwtest::exists(file("untrusted")));
}

// verify --ca, then extract, reads the package twice; a package swapped
// in between is caught only by checking the signature in the extraction.
TEST_F(Signing, ExtractWithCaRefusesAPackageSwappedWhileItIsRead) {
    ASSERT_EQ(sign("p.update").status, 0);
    pack("unsigned.update", 3);
    fw::ExtractOptions options;
    options.signature.caFile = file("ca.pem");
    options.parts = {"boot"};
    options.inspection.test.afterStructure = [] {
        ASSERT_EQ(std::rename(file("unsigned.update").c_str(), file("p.update").c_str()), 0);
    };
    fwtest::CapturedOutput out, err;
    const int status = fw::extractPackage(file("p.update").c_str(), file("swapped").c_str(), options, out.stream(),
                                          err.stream());
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out.text(), "the package changed while it was read, or its path now names another file\n");
    EXPECT_FALSE(fwtest::exists(file("swapped")));
}

}  // namespace

namespace {

// A package that cannot be read to its end has no digest to judge: the
// signature is not said to mismatch, it is not checked.
TEST_F(Signing, APackageCutShortWhileReadLeavesTheSignatureUnchecked) {
    ASSERT_EQ(sign("p.update").status, 0);
    fw::SignatureCheck check;
    std::string why;
    fw::SignaturePolicy policy;
    policy.caFile = file("ca.pem");
    policy.signatureFile = file("p.update.sig");
    ASSERT_TRUE(check.prepare(policy, &why)) << why;
    fw::InspectionOptions options;
    check.attach(options);
    options.test.afterStructure = [] { ASSERT_EQ(::truncate(file("p.update").c_str(), 1200), 0); };
    fw::InspectionSink ignored;
    EXPECT_EQ(fw::inspectPackage(file("p.update").c_str(), options, ignored, &why), fw::InspectionResult::defective);
    const fw::SignatureReport report = check.finish();
    EXPECT_FALSE(report.verdict.valid);
    EXPECT_EQ(report.verdict.defect, "the signature was not checked: the package could not be read whole");
}

}  // namespace

namespace {

TEST_F(Signing, SignRefusesMoreSignersThanVerifyTakesAndWritesNothing) {
    const ToolRun seventeen = signTimes(17);
    EXPECT_EQ(seventeen.err, "fwinspect: cannot sign " + file("p.update") +
                                 ": the signature would have 17 signers; at most 16 are accepted; nothing written\n");
    EXPECT_FALSE(fwtest::exists(file("p.update.sig")));
    ASSERT_EQ(signTimes(16).status, 0);
    const Bytes sixteen = fwtest::readFile(file("p.update.sig"));
    EXPECT_EQ(signTimes(1, {"--add"}).status, 2);
    EXPECT_EQ(fwtest::readFile(file("p.update.sig")), sixteen);
    EXPECT_EQ(inspect({"verify", "--ca", file("ca.pem"), file("p.update")}).status, 0);
}

TEST_F(Signing, SignWritesThroughALinkAndKeepsIt) {
    dir_->write("target.sig", std::string("stale"));
    ASSERT_EQ(::symlink("target.sig", file("p.update.sig").c_str()), 0);
    for (const std::vector<std::string>& more : {std::vector<std::string>{}, {"--add"}}) {
        ASSERT_EQ(sign("p.update", more).status, 0);
        struct stat st {};
        EXPECT_TRUE(::lstat(file("p.update.sig").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
        EXPECT_EQ(inspect({"verify", "--ca", file("ca.pem"), "--signature", file("target.sig"), file("p.update")}).status, 0);
    }
}

// Token URIs are in sign_hsm_test, where a token is at hand.
TEST_F(Signing, NamesThatSteerTheTerminalAreEscapedInEveryMessage) {
    const std::string odd = file("a\x1b[2J\rb"), k = file("signer.key"), c = file("signer.pem"), p = file("p.update");
    const std::vector<std::vector<std::string>> cases = {
        {"sign", "--key", odd, "--cert", c, p}, {"sign", "--key", k, "--cert", odd, p},
        {"sign", "--key", k, "--cert", c, "--chain", odd, p}, {"sign", "--key", k, "--cert", c, "--pass-env", odd, p},
        {"verify", "--ca", odd, p}, {"verify", "--ca", c, "--crl", odd, p},
        {"verify", "--ca", c, "--signer-cert", odd, p}, {"extract", "--ca", odd, p, file("out")},
    };
    for (const auto& args : cases) {
        const ToolRun r = inspect(args);
        EXPECT_EQ(r.err.find_first_of("\x1b\r"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("\\x1b[2J\\x0db"), std::string::npos) << r.err;
    }
}

TEST_F(Signing, ANewSignatureThatCannotBeRemovedIsNamed) {
    if (std::system("strace -o /dev/null true >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace cannot run here";
    ASSERT_EQ(sign("p.update").status, 0);
    const Bytes earlier = fwtest::readFile(file("p.update.sig"));
    // LeakSanitizer cannot run under a tracer.
    EXPECT_NE(std::system(("cd " + dir_->path() + " && ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -o "
                           "/dev/null -e inject=renameat:error=EIO -e inject=unlinkat:error=EIO " FWINSPECT_BINARY
                           " sign --key signer.key --cert signer.pem p.update 2> err").c_str()), 0);
    const std::string err = fwtest::textOf(file("err"));
    const std::size_t at = err.find("stays as ./.fwinspect-");
    ASSERT_NE(at, std::string::npos) << err;
    EXPECT_EQ(std::remove(file(err.substr(at + 11, 21)).c_str()), 0) << err;
    EXPECT_EQ(fwtest::readFile(file("p.update.sig")), earlier);
}

// A CA file just under the 16 MiB limit: `first`, then the filler
// certificate under `kinds` different subjects in turn.
std::string caFileAtLimit(fwtest::ScratchDir& dir, const std::string& name, const std::string& first, int kinds) {
    const Bytes der = fwtest::readFile(dir.file("filler.der"));
    const std::size_t digits = std::string(der.begin(), der.end()).find("000000");
    std::string text = fwtest::textOf(dir.file(first));
    for (int i = 0;; ++i) {
        Bytes cert = der;
        for (int n = i % kinds, d = 5; d >= 0; --d, n /= 10) cert[digits + d] = static_cast<std::uint8_t>('0' + n % 10);
        std::string pem(4 * (cert.size() + 2) / 3 + 1, '\0');
        pem.resize(static_cast<std::size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(pem.data()), cert.data(),
                                                            static_cast<int>(cert.size()))));
        for (std::size_t at = 64; at < pem.size(); at += 65) pem.insert(at, "\n");
        const std::string block = "-----BEGIN CERTIFICATE-----\n" + pem + "\n-----END CERTIFICATE-----\n";
        if (text.size() + block.size() > (16u << 20)) return dir.write(name, text);
        text += block;
    }
}

// Decoding every certificate of a 16 MiB CA file took 19 s and 260 MB.
// A sanitizer's shadow memory and slower code are no release's figures.
// The figures come from GNU time: a child forked from this test program
// would count the test program's own pages as its peak.
TEST_F(Signing, ACaFileAtTheLimitIsReadQuickly) {
    if (!fwtest::exists("/usr/bin/time")) GTEST_SKIP() << "GNU time (Debian: time) measures the run; it is missing";
    ASSERT_EQ(sign("p.update").status, 0);
    const std::pair<std::string, int> cases[] = {{caFileAtLimit(*dir_, "bundle.pem", "ca.pem", 999), 0},
                                                 {caFileAtLimit(*dir_, "collection.pem", "signer.pem", 999999), 2}};
    for (const auto& [ca, status] : cases) {
        const pid_t child = fwtest::startTool("/usr/bin/time", {"-f", "%U %S %M", "-o", file("use"), FWINSPECT_BINARY,
                                                                "verify", "--ca", ca, file("p.update")}, [] {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
        });
        int ended = 0;
        ::waitpid(child, &ended, 0);
        double user = 0, system = 0;
        long peakKiB = 0;
        std::istringstream figures(fwtest::textOf(file("use")));
        std::string line;
        // GNU time writes "Command exited with non-zero status N" first.
        while (std::getline(figures, line) && !(std::istringstream(line) >> user >> system >> peakKiB)) {}
        EXPECT_EQ(WEXITSTATUS(ended), status) << ca;
        std::remove(file("use").c_str());
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
        EXPECT_GT(peakKiB, 0) << ca;
        EXPECT_LT(user + system, 2) << ca;
        EXPECT_LT(peakKiB, 64 << 10) << ca;
#endif
    }
    EXPECT_NE(inspect({"verify", "--ca", cases[1].first, file("p.update")}).err.find(
                  "holds more than 1000 different certificates"), std::string::npos);
}

}  // namespace
