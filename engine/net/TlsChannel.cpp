// Schannel client: handshake with our own certificate check, then records encrypted and decrypted in place.
#include "engine/net/TlsChannel.h"

#include <schannel.h>
#include <wincrypt.h>

#include <cstring>

#include "engine/net/TlsLibraries.h"

namespace
{
const DWORD SEND_WAIT_MS = 2000;
const DWORD WAIT_SLICE_MS = 50;
// A TLS record is at most 16 KiB of payload plus its overhead; handshake flights fit as well.
const size_t INPUT_MAX = 0x4000 + 2048;
const DWORD ISC_FLAGS = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                        ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                        ISC_REQ_MANUAL_CRED_VALIDATION;

// 1 when the socket is readable (or writable), 0 when ms passed, -1 when wake was set first.
int WaitSocket(SOCKET socket, bool write, HANDLE wake, DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (wake != NULL && WaitForSingleObject(wake, 0) == WAIT_OBJECT_0)
            return -1;
        DWORD spent = GetTickCount() - start;
        if (spent >= ms)
            return 0;
        DWORD slice = ms - spent < WAIT_SLICE_MS ? ms - spent : WAIT_SLICE_MS;
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval tv = {0, static_cast<long>(slice * 1000)};
        int ready = write ? select(0, NULL, &set, NULL, &tv) : select(0, &set, NULL, NULL, &tv);
        if (ready != 0)
            return 1; // an error shows in the recv or send that follows
    }
}

SecBuffer Buffer(unsigned long type, void* data = NULL, unsigned long size = 0)
{
    SecBuffer buffer;
    buffer.cbBuffer = size;
    buffer.BufferType = type;
    buffer.pvBuffer = data;
    return buffer;
}
} // namespace

CTlsChannel::CTlsChannel(const CTlsLibraries* libraries)
    : m_pLibraries(libraries), m_bCred(false), m_bContext(false), m_sizes(), m_plainPos(0), m_ended(0)
{
}

CTlsChannel::~CTlsChannel()
{
    if (m_bContext)
        m_pLibraries->sspi->DeleteSecurityContext(&m_context);
    if (m_bCred)
        m_pLibraries->sspi->FreeCredentialHandle(&m_cred);
}

bool CTlsChannel::SendAll(SOCKET socket, const char* data, int len)
{
    DWORD start = GetTickCount();
    while (len > 0) {
        int sent = send(socket, data, len, 0);
        if (sent > 0) {
            data += sent;
            len -= sent;
            continue;
        }
        DWORD spent = GetTickCount() - start;
        if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK || spent >= SEND_WAIT_MS ||
            WaitSocket(socket, true, NULL, SEND_WAIT_MS - spent) != 1)
            return false;
    }
    return true;
}

// Appends what the socket holds to the input, up to INPUT_MAX; recv's result.
int CTlsChannel::ReceiveInput(SOCKET socket)
{
    size_t have = m_input.size();
    m_input.resize(INPUT_MAX);
    int got = recv(socket, m_input.data() + have, static_cast<int>(INPUT_MAX - have), 0);
    m_input.resize(have + (got > 0 ? got : 0));
    return got;
}

int CTlsChannel::Handshake(SOCKET socket, const char* host, HANDLE wake, DWORD limitMs)
{
    SCHANNEL_CRED cred;
    memset(&cred, 0, sizeof(cred));
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    // No protocol named: the system's own choice (TLS 1.2 and 1.3 where it offers them). The
    // certificate is checked by Verify, which tells apart why it fails.
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    if (m_pLibraries == NULL ||
        m_pLibraries->sspi->AcquireCredentialsHandleA(NULL, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                                      NULL, &cred, NULL, NULL, &m_cred, NULL) != SEC_E_OK)
        return TLS_FAILED;
    m_bCred = true;

    DWORD start = GetTickCount();
    bool needInput = false;
    for (;;) {
        if (needInput) {
            DWORD spent = GetTickCount() - start;
            int ready = spent >= limitMs ? 0 : WaitSocket(socket, false, wake, limitMs - spent);
            if (ready < 0)
                return TLS_WOKEN;
            if (ready == 0 || m_input.size() >= INPUT_MAX)
                return TLS_FAILED;
            int got = ReceiveInput(socket);
            if (got == 0 || (got < 0 && WSAGetLastError() != WSAEWOULDBLOCK))
                return TLS_FAILED;
            if (got < 0)
                continue;
        }

        SecBuffer in[2] = {Buffer(SECBUFFER_TOKEN, m_input.data(), static_cast<unsigned long>(m_input.size())),
                           Buffer(SECBUFFER_EMPTY)};
        SecBuffer out[1] = {Buffer(SECBUFFER_TOKEN)};
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
        SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
        unsigned long attributes = 0;
        SECURITY_STATUS status = m_pLibraries->sspi->InitializeSecurityContextA(
            &m_cred, m_bContext ? &m_context : NULL, const_cast<char*>(host), ISC_FLAGS, 0, 0,
            m_bContext ? &inDesc : NULL, 0, &m_context, &outDesc, &attributes, NULL);
        m_bContext = true;
        if (out[0].pvBuffer != NULL) {
            bool sent = out[0].cbBuffer == 0 || SendAll(socket, static_cast<char*>(out[0].pvBuffer), out[0].cbBuffer);
            m_pLibraries->sspi->FreeContextBuffer(out[0].pvBuffer);
            if (!sent)
                return TLS_FAILED;
        }
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needInput = true;
            continue;
        }
        // What the call did not use stays for the next one (or is the first application data).
        if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= m_input.size())
            m_input.erase(m_input.begin(), m_input.end() - in[1].cbBuffer);
        else
            m_input.clear();
        if (status == SEC_E_OK)
            break;
        if (status == SEC_I_INCOMPLETE_CREDENTIALS) { // a server asking for a client certificate: go on without
            needInput = false;
            continue;
        }
        if (status != SEC_I_CONTINUE_NEEDED)
            return TLS_FAILED;
        needInput = m_input.empty();
    }

    if (m_pLibraries->sspi->QueryContextAttributesA(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes) != SEC_E_OK)
        return TLS_FAILED;
    return Verify(host);
}

int CTlsChannel::Verify(const char* host)
{
    PCCERT_CONTEXT cert = NULL;
    if (m_pLibraries->sspi->QueryContextAttributesA(&m_context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert) != SEC_E_OK ||
        cert == NULL)
        return TLS_UNTRUSTED;
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[1] = {serverAuth};
    CERT_CHAIN_PARA chainPara;
    memset(&chainPara, 0, sizeof(chainPara));
    chainPara.cbSize = sizeof(chainPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = NULL;
    int result = TLS_UNTRUSTED;
    if (m_pLibraries->getCertificateChain(NULL, cert, NULL, cert->hCertStore, &chainPara, 0, NULL, &chain)) {
        wchar_t wideHost[300];
        MultiByteToWideChar(CP_ACP, 0, host, -1, wideHost, 300);
        HTTPSPolicyCallbackData https;
        memset(&https, 0, sizeof(https));
        https.cbStruct = sizeof(https);
        https.dwAuthType = AUTHTYPE_SERVER;
        https.pwszServerName = wideHost;
        CERT_CHAIN_POLICY_PARA policy;
        memset(&policy, 0, sizeof(policy));
        policy.cbSize = sizeof(policy);
        policy.pvExtraPolicyPara = &https;
        CERT_CHAIN_POLICY_STATUS status;
        memset(&status, 0, sizeof(status));
        status.cbSize = sizeof(status);
        // The chain's own status first: Wine's SSL policy lets a chain that ends short of any
        // root pass. Revocation is not asked for, so its unknown state is no error.
        const DWORD trust = chain->TrustStatus.dwErrorStatus;
        const DWORD timeBits = CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED;
        const DWORD ignored = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION | timeBits;
        if ((trust & ~ignored) != 0)
            result = TLS_UNTRUSTED;
        else if ((trust & timeBits) != 0)
            result = TLS_EXPIRED;
        else if (m_pLibraries->verifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
            if (status.dwError == 0)
                result = TLS_OK;
            else if (status.dwError == static_cast<DWORD>(CERT_E_EXPIRED))
                result = TLS_EXPIRED;
            else if (status.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH))
                result = TLS_WRONG_NAME;
        }
        m_pLibraries->freeCertificateChain(chain);
    }
    m_pLibraries->freeCertificateContext(cert);
    return result;
}

int CTlsChannel::Send(SOCKET socket, const char* data, int len)
{
    std::vector<char> record(m_sizes.cbHeader + m_sizes.cbMaximumMessage + m_sizes.cbTrailer);
    for (int done = 0; done < len;) {
        unsigned long n = static_cast<unsigned long>(len - done);
        if (n > m_sizes.cbMaximumMessage)
            n = m_sizes.cbMaximumMessage;
        char* header = record.data();
        memcpy(header + m_sizes.cbHeader, data + done, n);
        SecBuffer parts[4] = {Buffer(SECBUFFER_STREAM_HEADER, header, m_sizes.cbHeader),
                              Buffer(SECBUFFER_DATA, header + m_sizes.cbHeader, n),
                              Buffer(SECBUFFER_STREAM_TRAILER, header + m_sizes.cbHeader + n, m_sizes.cbTrailer),
                              Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, parts};
        if (m_pLibraries->sspi->EncryptMessage(&m_context, 0, &desc, 0) != SEC_E_OK ||
            !SendAll(socket, header, static_cast<int>(parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer)))
            return -1;
        done += static_cast<int>(n);
    }
    return len;
}

// One record out of the input: true when it gave plaintext or ended the connection, false when
// more bytes are needed.
bool CTlsChannel::Decrypt()
{
    while (!m_input.empty()) {
        SecBuffer parts[4] = {Buffer(SECBUFFER_DATA, m_input.data(), static_cast<unsigned long>(m_input.size())),
                              Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, parts};
        SECURITY_STATUS status = m_pLibraries->sspi->DecryptMessage(&m_context, &desc, 0, NULL);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            return false;
        if (status == SEC_I_CONTEXT_EXPIRED) { // the peer's close_notify
            m_ended = 1;
            return true;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
            m_ended = -1;
            return true;
        }
        // Decrypted in place: the plaintext and the unused rest both point into m_input.
        std::vector<char> rest;
        for (SecBuffer& part : parts) {
            if (part.BufferType == SECBUFFER_DATA && part.cbBuffer > 0) {
                if (m_plainPos == m_plain.size()) {
                    m_plain.clear();
                    m_plainPos = 0;
                }
                const char* plain = static_cast<const char*>(part.pvBuffer);
                m_plain.insert(m_plain.end(), plain, plain + part.cbBuffer);
            } else if (part.BufferType == SECBUFFER_EXTRA && part.cbBuffer > 0) {
                const char* extra = static_cast<const char*>(part.pvBuffer);
                rest.assign(extra, extra + part.cbBuffer);
            }
        }
        m_input.swap(rest);
        // A message after the handshake (a TLS 1.3 session ticket) goes back to the context.
        if (status == SEC_I_RENEGOTIATE && !m_input.empty()) {
            m_ended = -1;
            return true;
        }
        if (HasPlaintext())
            return true;
    }
    return false;
}

bool CTlsChannel::Pump(SOCKET socket)
{
    for (;;) {
        if (HasPlaintext() || m_ended != 0)
            return true;
        if (Decrypt())
            return true;
        if (m_input.size() >= INPUT_MAX) {
            m_ended = -1;
            return true;
        }
        int got = ReceiveInput(socket);
        if (got > 0)
            continue;
        if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
            return false;
        m_ended = got == 0 ? 1 : -1;
        return true;
    }
}

int CTlsChannel::Receive(SOCKET, char* buf, int size)
{
    if (!HasPlaintext())
        return m_ended == 1 ? 0 : -1;
    size_t n = m_plain.size() - m_plainPos;
    if (n > static_cast<size_t>(size))
        n = size;
    memcpy(buf, m_plain.data() + m_plainPos, n);
    m_plainPos += n;
    return static_cast<int>(n);
}
