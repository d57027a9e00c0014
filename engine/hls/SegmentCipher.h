// AES-128-CBC decryption of HLS segments through the system's CryptoAPI.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#define SEGMENT_KEY_BYTES 16

class CSegmentCipher
{
public:
    CSegmentCipher();
    ~CSegmentCipher();
    CSegmentCipher(const CSegmentCipher&) = delete;
    CSegmentCipher& operator=(const CSegmentCipher&) = delete;

    // The key, exactly 16 bytes; false for any other length or when the provider cannot take it.
    bool SetKey(const std::string& key);
    bool HasKey() const { return m_hKey != 0; }
    // Decrypts *data in place and takes off its PKCS7 padding. False, with *data cleared, for
    // no key, a length that is no whole number of blocks, or padding that does not check.
    bool Decrypt(const unsigned char iv[SEGMENT_KEY_BYTES], std::string* data);

    // The IV of a key without one of its own: the segment's media sequence number, big-endian
    // in the last bytes.
    static void SequenceIv(unsigned long long sequence, unsigned char iv[SEGMENT_KEY_BYTES]);

private:
    void Forget();

    HCRYPTPROV m_hProvider;
    HCRYPTKEY m_hKey;
};
