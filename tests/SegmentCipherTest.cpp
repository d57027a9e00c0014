// AES-128-CBC segment decryption through CryptoAPI: NIST SP 800-38A and RFC 3602 vectors, padding and key checks.
#include <gtest/gtest.h>

#include "engine/hls/SegmentCipher.h"

namespace
{
std::string Hex(const char* hex)
{
    std::string out;
    for (size_t i = 0; hex[i] != '\0' && hex[i + 1] != '\0'; i += 2)
        out += static_cast<char>(std::stoi(std::string(hex + i, 2), nullptr, 16));
    return out;
}

void Iv(const char* hex, unsigned char iv[16])
{
    std::string bytes = Hex(hex);
    memcpy(iv, bytes.data(), 16);
}

// SP 800-38A F.2.2's ciphertext, followed by the block that PKCS7 padding of the plaintext adds.
const char NIST_KEY[] = "2b7e151628aed2a6abf7158809cf4f3c";
const char NIST_IV[] = "000102030405060708090a0b0c0d0e0f";
const char NIST_PLAIN[] = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                          "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const char NIST_CIPHER[] = "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
                           "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"
                           "8cb82807230e1321d3fae00d18cc2012";
} // namespace

TEST(SegmentCipher, DecryptsTheNistVectorAndTakesOffThePadding)
{
    CSegmentCipher cipher;
    ASSERT_TRUE(cipher.SetKey(Hex(NIST_KEY)));
    unsigned char iv[16];
    Iv(NIST_IV, iv);
    std::string data = Hex(NIST_CIPHER);
    ASSERT_TRUE(cipher.Decrypt(iv, &data));
    EXPECT_EQ(Hex(NIST_PLAIN), data);
    // The IV starts each segment's chain afresh: the same segment again gives the same text.
    data = Hex(NIST_CIPHER);
    ASSERT_TRUE(cipher.Decrypt(iv, &data));
    EXPECT_EQ(Hex(NIST_PLAIN), data);
}

TEST(SegmentCipher, DecryptsTheRfc3602SingleBlockCase)
{
    CSegmentCipher cipher;
    ASSERT_TRUE(cipher.SetKey(Hex("06a9214036b8a15b512e03d534120006")));
    unsigned char iv[16];
    Iv("3dafba429d9eb430b422da802c9fac41", iv);
    std::string data = Hex("e353779c1079aeb82708942dbe77181ab97c825e1c785146542d396941bce55d");
    ASSERT_TRUE(cipher.Decrypt(iv, &data));
    EXPECT_EQ("Single block msg", data);
}

TEST(SegmentCipher, WrongIvOrKeyFailsThePaddingCheck)
{
    CSegmentCipher cipher;
    ASSERT_TRUE(cipher.SetKey(Hex(NIST_KEY)));
    unsigned char iv[16];
    Iv(NIST_IV, iv);
    // A wrong IV only garbles the first block; the padding is still right.
    std::string data = Hex(NIST_CIPHER);
    iv[0] ^= 1;
    ASSERT_TRUE(cipher.Decrypt(iv, &data));
    EXPECT_NE(Hex(NIST_PLAIN), data);
    EXPECT_EQ(Hex(NIST_PLAIN).substr(16), data.substr(16));
    // A wrong key garbles the padding as well.
    ASSERT_TRUE(cipher.SetKey(Hex("2b7e151628aed2a6abf7158809cf4f3d")));
    Iv(NIST_IV, iv);
    data = Hex(NIST_CIPHER);
    EXPECT_FALSE(cipher.Decrypt(iv, &data));
    EXPECT_TRUE(data.empty());
}

TEST(SegmentCipher, RefusesKeysAndLengthsThatAreNotWholeBlocks)
{
    CSegmentCipher cipher;
    unsigned char iv[16] = {};
    std::string data = Hex(NIST_CIPHER);
    EXPECT_FALSE(cipher.Decrypt(iv, &data)) << "no key yet";
    EXPECT_FALSE(cipher.SetKey(std::string(15, 'k')));
    EXPECT_FALSE(cipher.SetKey(std::string(17, 'k')));
    EXPECT_FALSE(cipher.HasKey());
    ASSERT_TRUE(cipher.SetKey(Hex(NIST_KEY)));
    data = Hex(NIST_CIPHER).substr(0, 47);
    EXPECT_FALSE(cipher.Decrypt(iv, &data));
    data.clear();
    EXPECT_FALSE(cipher.Decrypt(iv, &data));
}

TEST(SegmentCipher, TheSequenceNumberIsTheIvBigEndian)
{
    unsigned char iv[16];
    CSegmentCipher::SequenceIv(0x0102030405ull, iv);
    const unsigned char expected[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5};
    EXPECT_EQ(0, memcmp(expected, iv, 16));
}
