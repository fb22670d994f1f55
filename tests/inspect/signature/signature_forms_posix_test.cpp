// The signature forms verify accepts (PEM, RSA-PSS, the CMS rules for
// attributes, Ed25519), and the policy as verify's command line takes it.
#include "inspect/signature/signer_policy_suite.h"
#include "support/shell_tools.h"

namespace {

using fwtest::Bytes;

// Its own suite, with its own certificates.
class SignatureForms : public SignerPolicy {};

TEST_F(SignatureForms, AcceptsPemSignaturesAndSignerCertificatesGivenApart) {
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

TEST_F(SignatureForms, RsaPssVerifiesWithAndWithoutSignedAttributes) {
    for (const std::string more : {"-noattr -keyopt rsa_padding_mode:pss", "-keyopt rsa_padding_mode:pss",
                                   "-noattr -md sha384 -keyopt rsa_padding_mode:pss -keyopt rsa_pss_saltlen:32"}) {
        const Bytes signature = toolSign({"rsa2048"}, more);
        EXPECT_TRUE(verify(signature).valid) << more << ": " << verify(signature).defect;
        dir_->write("pss.sig", signature);
        EXPECT_FALSE(verify(signature, fw::TrustFiles{file("ca.pem"), {}, {}}, {}, "other").valid) << more;
    }
}

TEST_F(SignatureForms, UnsignedAttributesStaySmall) {
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

TEST_F(SignatureForms, SignedAttributesFollowTheCmsRules) {
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

TEST_F(SignatureForms, Ed25519SignaturesNeedTheirContentTypeToo) {
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

TEST_F(SignatureForms, VerifyTakesThePolicyOnItsCommandLineAndReportsEverySigner) {
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
    EXPECT_PYTHON_JSON(json.out,
                       "[bool(__import__('re').fullmatch(r'\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ', t)) for t in "
                       "[s['signingTime'] for s in d['signature']['signers']]]",
                       "[True, True]");
    EXPECT_NE(json.out.find("\"accepted\":false,\"defect\":\"the signer " + subject("old-signer") +
                            " is not trusted: unable to get certificate CRL\"}"),
              std::string::npos);
}

TEST_F(SignatureForms, SignatureOptionsAreUsageErrorsWithoutCaOrWithABadTime) {
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
