// CryptoAPI's AES provider: a plaintext key blob imported once, the IV set for every segment.
#include "engine/hls/SegmentCipher.h"

#include <cstring>

namespace
{
struct CKeyBlob
{
    BLOBHEADER header;
    DWORD size;
    BYTE key[SEGMENT_KEY_BYTES];
};
} // namespace

CSegmentCipher::CSegmentCipher() : m_hProvider(0), m_hKey(0)
{
}

CSegmentCipher::~CSegmentCipher()
{
    Forget();
    if (m_hProvider != 0)
        CryptReleaseContext(m_hProvider, 0);
}

void CSegmentCipher::Forget()
{
    if (m_hKey != 0)
        CryptDestroyKey(m_hKey);
    m_hKey = 0;
}

bool CSegmentCipher::SetKey(const std::string& key)
{
    Forget();
    if (key.size() != SEGMENT_KEY_BYTES)
        return false;
    if (m_hProvider == 0 &&
        !CryptAcquireContextW(&m_hProvider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
        m_hProvider = 0;
        return false;
    }
    CKeyBlob blob;
    blob.header.bType = PLAINTEXTKEYBLOB;
    blob.header.bVersion = CUR_BLOB_VERSION;
    blob.header.reserved = 0;
    blob.header.aiKeyAlg = CALG_AES_128;
    blob.size = SEGMENT_KEY_BYTES;
    memcpy(blob.key, key.data(), SEGMENT_KEY_BYTES);
    BOOL imported = CryptImportKey(m_hProvider, reinterpret_cast<const BYTE*>(&blob), sizeof(blob), 0, 0, &m_hKey);
    SecureZeroMemory(&blob, sizeof(blob));
    if (!imported) {
        m_hKey = 0;
        return false;
    }
    DWORD mode = CRYPT_MODE_CBC;
    if (!CryptSetKeyParam(m_hKey, KP_MODE, reinterpret_cast<const BYTE*>(&mode), 0)) {
        Forget();
        return false;
    }
    return true;
}

bool CSegmentCipher::Decrypt(const unsigned char iv[SEGMENT_KEY_BYTES], std::string* data)
{
    size_t len = data->size();
    // Setting the IV also starts the chain afresh.
    if (m_hKey == 0 || len == 0 || len % SEGMENT_KEY_BYTES != 0 || len > 0x7FFFFFFF ||
        !CryptSetKeyParam(m_hKey, KP_IV, iv, 0)) {
        data->clear();
        return false;
    }
    DWORD size = static_cast<DWORD>(len);
    // Not the final block to the provider: the padding is checked below, the same on every system.
    if (!CryptDecrypt(m_hKey, 0, FALSE, 0, reinterpret_cast<BYTE*>(&(*data)[0]), &size) || size != len) {
        data->clear();
        return false;
    }
    unsigned char pad = static_cast<unsigned char>((*data)[len - 1]);
    bool padded = pad >= 1 && pad <= SEGMENT_KEY_BYTES;
    for (size_t i = 0; padded && i < pad; ++i)
        padded = static_cast<unsigned char>((*data)[len - 1 - i]) == pad;
    if (!padded) {
        data->clear();
        return false;
    }
    data->resize(len - pad);
    return true;
}

void CSegmentCipher::SequenceIv(unsigned long long sequence, unsigned char iv[SEGMENT_KEY_BYTES])
{
    memset(iv, 0, SEGMENT_KEY_BYTES);
    for (int i = SEGMENT_KEY_BYTES - 1; i >= 8; --i, sequence >>= 8)
        iv[i] = static_cast<unsigned char>(sequence & 0xFF);
}
