// The certificate rules on real certificates made by openssl: weak signatures and keys, IP entries.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/net/CertificateRules.h"
#include "engine/net/TlsLibraries.h"

namespace
{
// A test certificate of make-test-certs.sh, from its PEM file; NULL when it cannot be read.
PCCERT_CONTEXT Load(const char* name)
{
    const char* root = getenv("TESTENV_ROOT");
    if (root == NULL)
        return NULL;
    std::string path = std::string("Z:") + root + "/certs/" + name + ".pem";
    FILE* f = fopen(path.c_str(), "rb");
    if (f == NULL)
        return NULL;
    std::string pem;
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), f)) > 0)
        pem.append(chunk, got);
    fclose(f);
    DWORD size = 0;
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, NULL, &size, NULL, NULL))
        return NULL;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size, NULL, NULL))
        return NULL;
    return CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
}

class CertificateRules : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (PCCERT_CONTEXT cert : m_loaded)
            CertFreeCertificateContext(cert);
    }
    PCCERT_CONTEXT Cert(const char* name)
    {
        PCCERT_CONTEXT cert = Load(name);
        EXPECT_NE(cert, nullptr) << name << " (made by tools/make-test-certs.sh at testenv up)";
        if (cert != NULL)
            m_loaded.push_back(cert);
        return cert;
    }
    bool Weak(const char* name, bool root = false)
    {
        PCCERT_CONTEXT cert = Cert(name);
        return cert == NULL || IsWeakCertificate(m_libraries, cert, root);
    }
    bool Names(const char* name, const char* address)
    {
        PCCERT_CONTEXT cert = Cert(name);
        in_addr wanted;
        wanted.s_addr = inet_addr(address);
        return cert != NULL && CertificateNamesAddress(m_libraries, cert, wanted);
    }

    const CTlsLibraries* m_libraries = TlsLibraries();
    std::vector<PCCERT_CONTEXT> m_loaded;
};
} // namespace

TEST_F(CertificateRules, ForgeableSignaturesAndShortKeysAreWeak)
{
    ASSERT_NE(m_libraries, nullptr);
    EXPECT_TRUE(Weak("md5"));
    EXPECT_TRUE(Weak("sha1"));
    EXPECT_TRUE(Weak("inter-sha1"));
    EXPECT_TRUE(Weak("rsa1024"));
    EXPECT_FALSE(Weak("station"));
    EXPECT_FALSE(Weak("sha1chain-leaf"));
    EXPECT_FALSE(Weak("ipsan"));
}

TEST_F(CertificateRules, ARootsOwnSignatureIsNotJudgedItsKeyIs)
{
    ASSERT_NE(m_libraries, nullptr);
    EXPECT_FALSE(Weak("ca", true));
    EXPECT_FALSE(Weak("sha1", true));
    EXPECT_TRUE(Weak("rsa1024", true));
}

TEST_F(CertificateRules, AnAddressIsNamedByAnIpEntryAlone)
{
    ASSERT_NE(m_libraries, nullptr);
    EXPECT_TRUE(Names("ipsan", "127.0.0.1"));
    EXPECT_TRUE(Names("station", "127.0.0.1"));
    EXPECT_FALSE(Names("ipsan", "127.0.0.2"));
    EXPECT_FALSE(Names("dnsip", "127.0.0.1"));
    EXPECT_FALSE(Names("cnonly", "127.0.0.1"));
    EXPECT_FALSE(Names("othername", "127.0.0.1"));
}
