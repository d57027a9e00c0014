// Fake Schannel: handshake messages by name, application records masked, decrypted in place as SSPI does.
#include "FakeSchannel.h"

#include <schannel.h>

#include <cstring>

namespace
{
const ULONG_PTR CRED_ID = 0x51;
const ULONG_PTR CONTEXT_ID = 0x77;
const size_t HEADER = 5;
const char MASK = 0x5a;
const char TRAILER[] = "MAC!";

CFakeSchannel* g_fake; // the one that exists; tests run on one thread
CERT_CONTEXT g_certificate;
CERT_CHAIN_CONTEXT g_chain; // no trust errors

SecBuffer Buffer(unsigned long type, void* data, size_t size)
{
    SecBuffer buffer;
    buffer.BufferType = type;
    buffer.pvBuffer = data;
    buffer.cbBuffer = static_cast<unsigned long>(size);
    return buffer;
}

// The whole record's length, or 0 while it has not all arrived.
size_t RecordLength(const char* data, size_t size)
{
    if (size < HEADER)
        return 0;
    size_t length = HEADER + (static_cast<unsigned char>(data[3]) << 8 | static_cast<unsigned char>(data[4]));
    return length <= size ? length : 0;
}

size_t Missing(const char* data, size_t size)
{
    if (size < HEADER)
        return HEADER - size;
    return HEADER + (static_cast<unsigned char>(data[3]) << 8 | static_cast<unsigned char>(data[4])) - size;
}

bool IsOurs(PCtxtHandle context)
{
    return context->dwLower == CONTEXT_ID && context->dwUpper == CONTEXT_ID;
}

SECURITY_STATUS Answer(PSecBufferDesc output, const std::string& token, SECURITY_STATUS status)
{
    char* copy = new char[token.size()];
    memcpy(copy, token.data(), token.size());
    output->pBuffers[0] = Buffer(SECBUFFER_TOKEN, copy, token.size());
    return status;
}

SECURITY_STATUS WINAPI Acquire(SEC_CHAR*, SEC_CHAR*, unsigned long, void*, void* authData, SEC_GET_KEY_FN, void*,
                               PCredHandle credentials, PTimeStamp)
{
    g_fake->m_calls.push_back("acquire");
    g_fake->m_enabledProtocols = static_cast<SCHANNEL_CRED*>(authData)->grbitEnabledProtocols;
    credentials->dwLower = credentials->dwUpper = CRED_ID;
    return SEC_E_OK;
}

SECURITY_STATUS WINAPI FreeCredentials(PCredHandle credentials)
{
    g_fake->m_calls.push_back(credentials->dwLower == CRED_ID ? "free credentials" : "free unknown");
    return SEC_E_OK;
}

SECURITY_STATUS WINAPI Initialize(PCredHandle, PCtxtHandle context, SEC_CHAR* target, unsigned long, unsigned long,
                                  unsigned long, PSecBufferDesc input, unsigned long, PCtxtHandle newContext,
                                  PSecBufferDesc output, unsigned long* attributes, PTimeStamp)
{
    CFakeSchannel* fake = g_fake;
    *attributes = 0;
    fake->m_targets.push_back(target != NULL ? target : "(none)");
    if (context == NULL) {
        fake->m_calls.push_back("isc:first");
        if (fake->m_bFailFirstCall)
            return SEC_E_INTERNAL_ERROR;
        newContext->dwLower = newContext->dwUpper = CONTEXT_ID;
        return Answer(output, FakeMessage("client hello"), SEC_I_CONTINUE_NEEDED);
    }
    if (!IsOurs(context))
        return SEC_E_INVALID_HANDLE;
    if (fake->m_bShutdown) {
        fake->m_calls.push_back("isc:shutdown");
        return Answer(output, FakeCloseNotify(), SEC_E_OK);
    }
    if (input == NULL || input->cBuffers < 2 || input->pBuffers[0].BufferType != SECBUFFER_TOKEN)
        return SEC_E_INVALID_TOKEN;
    const char* data = static_cast<const char*>(input->pBuffers[0].pvBuffer);
    size_t size = input->pBuffers[0].cbBuffer;
    size_t length = RecordLength(data, size);
    if (length == 0) {
        fake->m_calls.push_back("isc:incomplete");
        input->pBuffers[1] = Buffer(SECBUFFER_MISSING, NULL, Missing(data, size));
        return SEC_E_INCOMPLETE_MESSAGE;
    }
    std::string message(data + HEADER, length - HEADER);
    fake->m_calls.push_back("isc:" + message);
    if (data[0] != FAKE_HANDSHAKE)
        return SEC_E_ILLEGAL_MESSAGE;
    if (message == "certificate request") {
        std::string whole(data, size);
        if (!fake->m_bCredentialsAsked) {
            fake->m_bCredentialsAsked = true;
            fake->m_askedWith = whole;
            return SEC_I_INCOMPLETE_CREDENTIALS;
        }
        if (whole != fake->m_askedWith)
            return SEC_E_ILLEGAL_MESSAGE;
    }
    if (length < size)
        input->pBuffers[1] = Buffer(SECBUFFER_EXTRA, NULL, size - length);
    if (message == "continue" || message == "certificate request")
        return Answer(output, FakeMessage("client step"), SEC_I_CONTINUE_NEEDED);
    if (message == "hello request")
        return Answer(output, FakeMessage("client hello"), SEC_I_CONTINUE_NEEDED);
    if (message == "finished" || message == "ticket")
        return SEC_E_OK;
    return SEC_E_ILLEGAL_MESSAGE;
}

SECURITY_STATUS WINAPI DeleteContext(PCtxtHandle context)
{
    g_fake->m_calls.push_back(IsOurs(context) ? "delete" : "delete unknown");
    return SEC_E_OK;
}

SECURITY_STATUS WINAPI ApplyControl(PCtxtHandle context, PSecBufferDesc input)
{
    g_fake->m_calls.push_back("shutdown");
    if (!IsOurs(context) || input->cBuffers != 1 || input->pBuffers[0].cbBuffer != sizeof(DWORD) ||
        *static_cast<DWORD*>(input->pBuffers[0].pvBuffer) != SCHANNEL_SHUTDOWN)
        return SEC_E_INVALID_TOKEN;
    g_fake->m_bShutdown = true;
    return SEC_E_OK;
}

SECURITY_STATUS WINAPI QueryAttributes(PCtxtHandle context, unsigned long attribute, void* buffer)
{
    if (!IsOurs(context))
        return SEC_E_INVALID_HANDLE;
    if (attribute == SECPKG_ATTR_STREAM_SIZES) {
        SecPkgContext_StreamSizes sizes = {HEADER, FAKE_TRAILER, 0x4000, 4, 1};
        *static_cast<SecPkgContext_StreamSizes*>(buffer) = sizes;
        return SEC_E_OK;
    }
    if (attribute == SECPKG_ATTR_CONNECTION_INFO) {
        SecPkgContext_ConnectionInfo info;
        memset(&info, 0, sizeof(info));
        info.dwProtocol = g_fake->m_protocol;
        *static_cast<SecPkgContext_ConnectionInfo*>(buffer) = info;
        return SEC_E_OK;
    }
    if (attribute == SECPKG_ATTR_REMOTE_CERT_CONTEXT) {
        *static_cast<PCCERT_CONTEXT*>(buffer) = &g_certificate;
        return SEC_E_OK;
    }
    return SEC_E_UNSUPPORTED_FUNCTION;
}

SECURITY_STATUS WINAPI FreeBuffer(void* buffer)
{
    delete[] static_cast<char*>(buffer);
    return SEC_E_OK;
}

SECURITY_STATUS WINAPI Encrypt(PCtxtHandle context, unsigned long, PSecBufferDesc message, unsigned long)
{
    if (!IsOurs(context) || message->cBuffers < 3)
        return SEC_E_INVALID_HANDLE;
    std::string plain(static_cast<char*>(message->pBuffers[1].pvBuffer), message->pBuffers[1].cbBuffer);
    std::string record = FakeDataRecord(plain);
    memcpy(message->pBuffers[0].pvBuffer, record.data(), HEADER);
    memcpy(message->pBuffers[1].pvBuffer, record.data() + HEADER, plain.size());
    memcpy(message->pBuffers[2].pvBuffer, record.data() + HEADER + plain.size(), FAKE_TRAILER);
    message->pBuffers[2].cbBuffer = FAKE_TRAILER;
    return SEC_E_OK;
}

// In place, as Schannel: header, plaintext and trailer point into the record; what follows it is EXTRA.
SECURITY_STATUS WINAPI Decrypt(PCtxtHandle context, PSecBufferDesc message, unsigned long, unsigned long*)
{
    if (!IsOurs(context) || message->cBuffers != 4 || message->pBuffers[0].BufferType != SECBUFFER_DATA)
        return SEC_E_INVALID_TOKEN;
    SecBuffer* parts = message->pBuffers;
    char* data = static_cast<char*>(parts[0].pvBuffer);
    size_t size = parts[0].cbBuffer;
    size_t length = RecordLength(data, size);
    if (length == 0) {
        parts[1] = Buffer(SECBUFFER_MISSING, NULL, Missing(data, size));
        return SEC_E_INCOMPLETE_MESSAGE;
    }
    parts[3] = length < size ? Buffer(SECBUFFER_EXTRA, data + length, size - length) : Buffer(SECBUFFER_EMPTY, NULL, 0);
    if (data[0] == FAKE_ALERT)
        return SEC_I_CONTEXT_EXPIRED;
    if (data[0] == FAKE_HANDSHAKE) { // the message itself goes back to the context
        parts[0] = Buffer(SECBUFFER_STREAM_HEADER, data, 0);
        parts[1] = Buffer(SECBUFFER_DATA, data, 0);
        parts[3] = Buffer(SECBUFFER_EXTRA, data, size);
        return SEC_I_RENEGOTIATE;
    }
    if (data[0] != FAKE_DATA || length < HEADER + FAKE_TRAILER)
        return SEC_E_DECRYPT_FAILURE;
    size_t plain = length - HEADER - FAKE_TRAILER;
    for (size_t i = 0; i < plain; ++i)
        data[HEADER + i] ^= MASK;
    parts[0] = Buffer(SECBUFFER_STREAM_HEADER, data, HEADER);
    parts[1] = Buffer(SECBUFFER_DATA, data + HEADER, plain);
    parts[2] = Buffer(SECBUFFER_STREAM_TRAILER, data + HEADER + plain, FAKE_TRAILER);
    return SEC_E_OK;
}

BOOL WINAPI GetChain(HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE, PCERT_CHAIN_PARA, DWORD, LPVOID,
                     PCCERT_CHAIN_CONTEXT* chain)
{
    g_fake->m_calls.push_back("chain");
    *chain = &g_chain;
    return TRUE;
}

BOOL WINAPI VerifyPolicy(LPCSTR, PCCERT_CHAIN_CONTEXT, PCERT_CHAIN_POLICY_PARA, PCERT_CHAIN_POLICY_STATUS status)
{
    status->dwError = 0;
    return TRUE;
}

VOID WINAPI FreeChain(PCCERT_CHAIN_CONTEXT)
{
}

BOOL WINAPI FreeCertificate(PCCERT_CONTEXT)
{
    return TRUE;
}
} // namespace

std::string FakeRecord(int type, const std::string& body)
{
    std::string record(HEADER, '\0');
    record[0] = static_cast<char>(type);
    record[1] = 3;
    record[2] = 3;
    record[3] = static_cast<char>(body.size() >> 8);
    record[4] = static_cast<char>(body.size() & 0xff);
    return record + body;
}

std::string FakeDataRecord(const std::string& plain)
{
    std::string body = plain;
    for (char& c : body)
        c ^= MASK;
    return FakeRecord(FAKE_DATA, body + TRAILER);
}

std::string FakeMessage(const std::string& body)
{
    return FakeRecord(FAKE_HANDSHAKE, body);
}

std::string FakeCloseNotify()
{
    return FakeRecord(FAKE_ALERT, std::string("\x01\x00", 2));
}

CFakeSchannel::CFakeSchannel()
    : m_bFailFirstCall(false), m_bCredentialsAsked(false), m_bShutdown(false), m_protocol(SP_PROT_TLS1_2_CLIENT),
      m_enabledProtocols(0), m_table()
{
    m_table.AcquireCredentialsHandleA = Acquire;
    m_table.FreeCredentialHandle = FreeCredentials;
    m_table.InitializeSecurityContextA = Initialize;
    m_table.DeleteSecurityContext = DeleteContext;
    m_table.ApplyControlToken = ApplyControl;
    m_table.QueryContextAttributesA = QueryAttributes;
    m_table.FreeContextBuffer = FreeBuffer;
    m_table.EncryptMessage = Encrypt;
    m_table.DecryptMessage = Decrypt;
    m_libraries.sspi = &m_table;
    m_libraries.getCertificateChain = GetChain;
    m_libraries.verifyCertificateChainPolicy = VerifyPolicy;
    m_libraries.freeCertificateChain = FreeChain;
    m_libraries.freeCertificateContext = FreeCertificate;
    // The fake chain holds no certificate: the rules that read one are crypt32's own.
    m_libraries.getPublicKeyLength = CertGetPublicKeyLength;
    m_libraries.findExtension = CertFindExtension;
    m_libraries.decodeObject = CryptDecodeObjectEx;
    g_fake = this;
}

CFakeSchannel::~CFakeSchannel()
{
    g_fake = NULL;
}

int CFakeSchannel::Count(const std::string& call) const
{
    int n = 0;
    for (const std::string& c : m_calls)
        n += c == call ? 1 : 0;
    return n;
}
