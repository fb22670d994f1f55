// Who may sign a package and when: the signer policy, revocation, the time
// of the check, and several signers.
#include "inspect/signature/signer_policy_suite.h"

namespace {

using fwtest::Bytes;

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
    // Checked now, the signer that was trusted when it signed points to --at signing.
    const std::string hint = "; it was trusted when it signed, at 2020-06-01 12:00:00 UTC (--at signing checks it then)";
    EXPECT_EQ(verify(signature).defect, expired + hint);
    EXPECT_EQ(verify(signature, "ca.pem", at(Kind::now)).defect, expired + hint);
    const auto atSigning = verify(signature, "ca.pem", at(Kind::signing));
    EXPECT_TRUE(atSigning.valid) << atSigning.defect;
    ASSERT_EQ(atSigning.signers.size(), 1u);
    EXPECT_EQ(atSigning.signers[0].signingTime, "2020-06-01 12:00:00 UTC");
    EXPECT_EQ(fw::rfc3339Time(atSigning.signers[0].signingTime), "2020-06-01T12:00:00Z");
    for (const char* unreadable : {"", "an unreadable date", "2020-06-01 12:00:00 UTC+1", "2020-06-01T12:00:00Z"})
        EXPECT_EQ(fw::rfc3339Time(unreadable), "") << unreadable;
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

}  // namespace
