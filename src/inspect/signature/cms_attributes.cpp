#include "inspect/signature/cms_attributes.h"

#include <openssl/x509.h>

#include <string>

#include "inspect/signature/crypto_support.h"

namespace fw {
namespace {

// Countersignatures and time stamps take a few KiB; a signature that
// carries more unsigned bytes than that carries something else.
constexpr int largestUnsigned = 4096;

bool unsignedFit(CMS_SignerInfo* si, std::string* why) {
    int total = 0;
    for (int i = 0; i < CMS_unsigned_get_attr_count(si); ++i) {
        const int size = i2d_X509_ATTRIBUTE(CMS_unsigned_get_attr(si, i), nullptr);
        if (size < 0) return refuse("the signature's unsigned attributes cannot be read", why);
        total += size;
        if (total > largestUnsigned)
            return refuse("the signature's unsigned attributes exceed " + std::to_string(largestUnsigned) + " bytes", why);
    }
    return true;
}

struct Once {
    int nid;
    const char* what;
    bool required;
};

constexpr Once onceOnly[] = {
    {NID_pkcs9_contentType, "content type", true},
    {NID_pkcs9_messageDigest, "message digest", true},
    {NID_pkcs9_signingTime, "signing time", false},
};

bool countsRight(CMS_SignerInfo* si, std::string* why) {
    for (const Once& once : onceOnly) {
        int count = 0;
        for (int i = 0; i < CMS_signed_get_attr_count(si); ++i) {
            X509_ATTRIBUTE* attribute = CMS_signed_get_attr(si, i);
            if (OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attribute)) != once.nid) continue;
            count += X509_ATTRIBUTE_count(attribute);
        }
        if (count == 0 && once.required) return refuse(std::string("the signature's signed attributes lack the ") + once.what, why);
        if (count > 1)
            return refuse(std::string("the signature's signed attributes hold the ") + once.what + " " +
                              std::to_string(count) + " times; once is allowed",
                          why);
    }
    return true;
}

bool contentTypeRight(CMS_SignerInfo* si, CMS_ContentInfo* cms, std::string* why) {
    const auto* type = static_cast<const ASN1_OBJECT*>(
        CMS_signed_get0_data_by_OBJ(si, OBJ_nid2obj(NID_pkcs9_contentType), -3, V_ASN1_OBJECT));
    if (type == nullptr) return refuse("the signature's signed content type is not an object identifier", why);
    if (OBJ_obj2nid(type) != NID_pkcs7_data || OBJ_cmp(type, CMS_get0_eContentType(cms)) != 0)
        return refuse("the signature's signed content type is not data, the content signed", why);
    if (CMS_signed_get_attr_by_NID(si, NID_pkcs9_signingTime, -1) >= 0 && signedSigningTime(si) == nullptr)
        return refuse("the signature's signing time is not a time", why);
    return true;
}

}  // namespace

const ASN1_TIME* signedSigningTime(CMS_SignerInfo* si) {
    const int at = CMS_signed_get_attr_by_NID(si, NID_pkcs9_signingTime, -1);
    if (at < 0) return nullptr;
    const ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(si, at), 0);
    if (value == nullptr) return nullptr;
    const int type = ASN1_TYPE_get(value);
    if (type == V_ASN1_UTCTIME) return value->value.utctime;
    if (type == V_ASN1_GENERALIZEDTIME) return value->value.generalizedtime;
    return nullptr;
}

bool attributesAcceptable(CMS_SignerInfo* si, CMS_ContentInfo* cms, std::string* why) {
    if (!unsignedFit(si, why)) return false;
    const int count = CMS_signed_get_attr_count(si);
    if (count < 0) return true;  // none: the signature covers the digest itself
    if (count == 0) return refuse("the signature's signed attributes are an empty set", why);
    return countsRight(si, why) && contentTypeRight(si, cms, why);
}

}  // namespace fw
