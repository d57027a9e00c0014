// Weak signatures and keys, and IP entries of subjectAltName, read from a certificate's fields.
#include "engine/net/CertificateRules.h"

#include <cstring>

#include "engine/net/TlsLibraries.h"

namespace
{
const DWORD RSA_BITS_MIN = 2048;

// Signature algorithms whose hash can be forged (RSA, DSA and ECDSA with MD2, MD4, MD5 or SHA-1).
const char* const WEAK_SIGNATURES[] = {
    szOID_RSA_MD2RSA,     szOID_RSA_MD4RSA,         szOID_RSA_MD5RSA,    szOID_RSA_SHA1RSA,
    szOID_OIWSEC_md4RSA,  szOID_OIWSEC_md5RSA,      szOID_OIWSEC_md4RSA2, szOID_OIWSEC_sha1RSASign,
    szOID_OIWSEC_shaRSA,  szOID_OIWSEC_dsaSHA1,     szOID_X957_SHA1DSA,  szOID_ECDSA_SHA1,
};
} // namespace

bool IsWeakCertificate(const CTlsLibraries* libraries, PCCERT_CONTEXT cert, bool trustedRoot)
{
    const CERT_INFO* info = cert->pCertInfo;
    if (info == NULL)
        return true;
    CERT_PUBLIC_KEY_INFO* key = const_cast<CERT_PUBLIC_KEY_INFO*>(&info->SubjectPublicKeyInfo);
    if (strcmp(key->Algorithm.pszObjId, szOID_RSA_RSA) == 0 &&
        libraries->getPublicKeyLength(X509_ASN_ENCODING, key) < RSA_BITS_MIN)
        return true;
    if (trustedRoot)
        return false;
    for (const char* weak : WEAK_SIGNATURES)
        if (strcmp(info->SignatureAlgorithm.pszObjId, weak) == 0)
            return true;
    return false;
}

bool CertificateNamesAddress(const CTlsLibraries* libraries, PCCERT_CONTEXT cert, in_addr address)
{
    const CERT_INFO* info = cert->pCertInfo;
    if (info == NULL)
        return false;
    PCERT_EXTENSION extension = libraries->findExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    CERT_ALT_NAME_INFO* names = NULL;
    DWORD size = 0;
    if (extension == NULL ||
        !libraries->decodeObject(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                                 extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, NULL, &names, &size))
        return false;
    bool named = false;
    for (DWORD i = 0; i < names->cAltEntry && !named; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
        named = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == sizeof(address) &&
                memcmp(entry.IPAddress.pbData, &address, sizeof(address)) == 0;
    }
    LocalFree(names);
    return named;
}
