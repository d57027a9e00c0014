// Schannel client: handshake with our own certificate check, then records encrypted and decrypted in place.
#include "engine/net/TlsChannel.h"

#include <schannel.h>
#include <wincrypt.h>

#include <cstring>

#include "engine/net/CertificateRules.h"
#include "engine/net/HostLookup.h"
#include "engine/net/TlsLibraries.h"

namespace
{
const DWORD SEND_WAIT_MS = 2000;
// Our close_notify is a courtesy: a peer that takes nothing in does not hold the close up.
const DWORD CLOSE_SEND_MS = 100;
const DWORD WAIT_SLICE_MS = 50;
// The largest TLS 1.2 record on the wire: its 5-byte header, 16 KiB of payload and the 2048
// bytes a cipher may add. Input is decrypted before more is taken, so it holds at most one
// incomplete record; handshake flights fit as well.
const size_t INPUT_MAX = 5 + 0x4000 + 2048;
// TLS 1.2 and later: older versions' handshakes rest on MD5 and SHA-1.
const DWORD PROTOCOLS = SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT;
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
    : m_pLibraries(libraries), m_bAddressHost(false), m_address(), m_bStanding(false), m_bNegotiating(false),
      m_sizes(), m_plainPos(0), m_ended(0)
{
    SecInvalidateHandle(&m_cred);
    SecInvalidateHandle(&m_context);
}

CTlsChannel::~CTlsChannel()
{
    if (SecIsValidHandle(&m_context))
        m_pLibraries->sspi->DeleteSecurityContext(&m_context);
    if (SecIsValidHandle(&m_cred))
        m_pLibraries->sspi->FreeCredentialHandle(&m_cred);
}

bool CTlsChannel::SendAll(SOCKET socket, const char* data, int len, DWORD limitMs)
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
        if (sent == 0 || WSAGetLastError() != WSAEWOULDBLOCK || spent >= limitMs ||
            WaitSocket(socket, true, NULL, limitMs - spent) != 1)
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

// One InitializeSecurityContext call on the input received so far (withInput) or on none, its
// token sent. The input keeps what the call did not use. False when the token could not be sent.
bool CTlsChannel::Negotiate(SOCKET socket, bool withInput, DWORD sendLimitMs, SECURITY_STATUS* status)
{
    const bool first = !SecIsValidHandle(&m_context);
    for (int pass = 0;; ++pass) {
        SecBuffer in[2] = {Buffer(SECBUFFER_TOKEN, m_input.data(), static_cast<unsigned long>(m_input.size())),
                           Buffer(SECBUFFER_EMPTY)};
        SecBuffer out[1] = {Buffer(SECBUFFER_TOKEN)};
        SecBufferDesc inDesc = {SECBUFFER_VERSION, 2, in};
        SecBufferDesc outDesc = {SECBUFFER_VERSION, 1, out};
        unsigned long attributes = 0;
        CtxtHandle created;
        SecInvalidateHandle(&created);
        char* target = m_bAddressHost ? NULL : const_cast<char*>(m_host.c_str());
        *status = m_pLibraries->sspi->InitializeSecurityContextA(
            &m_cred, first ? NULL : &m_context, target, ISC_FLAGS, 0, 0, withInput ? &inDesc : NULL, 0,
            first ? &created : &m_context, &outDesc, &attributes, NULL);
        // A first call that fails has made no context: nothing to delete.
        if (first && !FAILED(*status))
            m_context = created;
        if (out[0].pvBuffer != NULL) {
            bool sent = out[0].cbBuffer == 0 ||
                        SendAll(socket, static_cast<char*>(out[0].pvBuffer), out[0].cbBuffer, sendLimitMs);
            m_pLibraries->sspi->FreeContextBuffer(out[0].pvBuffer);
            if (!sent)
                return false;
        }
        // A server asking for a client certificate gets none: the same input again goes on without.
        if (*status == SEC_I_INCOMPLETE_CREDENTIALS && pass == 0)
            continue;
        if (*status == SEC_E_INCOMPLETE_MESSAGE || !withInput)
            return true;
        // What the call did not use stays for the next one (or is the first application data).
        if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0 && in[1].cbBuffer <= m_input.size())
            m_input.erase(m_input.begin(), m_input.end() - in[1].cbBuffer);
        else
            m_input.clear();
        return true;
    }
}

int CTlsChannel::Handshake(SOCKET socket, const char* host, HANDLE wake, DWORD limitMs)
{
    SCHANNEL_CRED cred;
    memset(&cred, 0, sizeof(cred));
    cred.dwVersion = SCHANNEL_CRED_VERSION;
    // Only the versions the system offers of TLS 1.2 and later; the protocol that was agreed is
    // checked again below. The certificate is checked by Verify, which tells apart why it fails.
    cred.grbitEnabledProtocols = PROTOCOLS;
    cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    CredHandle acquired;
    if (m_pLibraries == NULL ||
        m_pLibraries->sspi->AcquireCredentialsHandleA(NULL, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                                      NULL, &cred, NULL, NULL, &acquired, NULL) != SEC_E_OK)
        return TLS_FAILED;
    m_cred = acquired;
    m_host = host;
    // An address is no server name (RFC 6066): none is sent, and the certificate must name the address.
    m_bAddressHost = ParseNumericHost(host, &m_address);

    DWORD start = GetTickCount();
    bool needInput = false;
    for (;;) {
        DWORD spent = GetTickCount() - start;
        if (needInput) {
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
        } else if (spent >= limitMs) {
            return TLS_FAILED;
        }
        SECURITY_STATUS status;
        if (!Negotiate(socket, SecIsValidHandle(&m_context), SEND_WAIT_MS, &status))
            return TLS_FAILED;
        if (status == SEC_E_OK)
            break;
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needInput = true;
            continue;
        }
        if (status != SEC_I_CONTINUE_NEEDED)
            return TLS_FAILED;
        needInput = m_input.empty();
    }

    SecPkgContext_ConnectionInfo connection;
    if (m_pLibraries->sspi->QueryContextAttributesA(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes) != SEC_E_OK ||
        m_pLibraries->sspi->QueryContextAttributesA(&m_context, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK ||
        (connection.dwProtocol & (SP_PROT_TLS1_2 | SP_PROT_TLS1_3)) == 0)
        return TLS_FAILED;
    int result = Verify(host);
    m_bStanding = result == TLS_OK;
    return result;
}

// Wine's chain engine lets MD5 and SHA-1 signatures and short RSA keys pass: every certificate
// of a trusted chain is judged again, the root's own self-signature aside.
bool CTlsChannel::HasWeakCertificate(PCCERT_CHAIN_CONTEXT chain) const
{
    for (DWORD i = 0; i < chain->cChain; ++i) {
        const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[i];
        for (DWORD j = 0; j < simple->cElement; ++j) {
            const CERT_CHAIN_ELEMENT* element = simple->rgpElement[j];
            bool root = j + 1 == simple->cElement &&
                        (element->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) != 0;
            if (IsWeakCertificate(m_pLibraries, element->pCertContext, root))
                return true;
        }
    }
    return false;
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
        // An address is matched below against the certificate's IP entries alone.
        https.pwszServerName = m_bAddressHost ? NULL : wideHost;
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
        if ((trust & ~ignored) != 0 || HasWeakCertificate(chain))
            result = TLS_UNTRUSTED;
        else if ((trust & timeBits) != 0)
            result = TLS_EXPIRED;
        else if (m_pLibraries->verifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)) {
            if (status.dwError == 0)
                result = !m_bAddressHost || CertificateNamesAddress(m_pLibraries, cert, m_address) ? TLS_OK
                                                                                                   : TLS_WRONG_NAME;
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
            !SendAll(socket, header, static_cast<int>(parts[0].cbBuffer + parts[1].cbBuffer + parts[2].cbBuffer),
                     SEND_WAIT_MS))
            return -1;
        done += static_cast<int>(n);
    }
    return len;
}

// Complete records out of the input, each decrypted in place; true when one was a message for
// the context (now at the input's front), false when the rest is incomplete or the connection ended.
bool CTlsChannel::DecryptRecords()
{
    size_t used = 0;
    bool negotiate = false;
    while (m_ended == 0 && !negotiate && used < m_input.size()) {
        char* record = m_input.data() + used;
        SecBuffer parts[4] = {Buffer(SECBUFFER_DATA, record, static_cast<unsigned long>(m_input.size() - used)),
                              Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc desc = {SECBUFFER_VERSION, 4, parts};
        SECURITY_STATUS status = m_pLibraries->sspi->DecryptMessage(&m_context, &desc, 0, NULL);
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            break;
        if (status == SEC_I_CONTEXT_EXPIRED) { // the peer's close_notify
            m_ended = 1;
            break;
        }
        if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE) {
            m_ended = -1;
            break;
        }
        // A message after the handshake (a renegotiation, or a TLS 1.3 session ticket) is in
        // the EXTRA buffer and goes back to the context; reading goes on once it has done.
        negotiate = status == SEC_I_RENEGOTIATE;
        size_t rest = 0;
        for (SecBuffer& part : parts) {
            if (part.BufferType == SECBUFFER_DATA && part.cbBuffer > 0) {
                if (m_plainPos > 0) {
                    m_plain.erase(m_plain.begin(), m_plain.begin() + m_plainPos);
                    m_plainPos = 0;
                }
                const char* plain = static_cast<const char*>(part.pvBuffer);
                m_plain.insert(m_plain.end(), plain, plain + part.cbBuffer);
            } else if (part.BufferType == SECBUFFER_EXTRA && part.cbBuffer <= m_input.size() - used) {
                rest = part.cbBuffer;
            }
        }
        if (!negotiate && rest == m_input.size() - used) { // nothing used: it would never end
            m_ended = -1;
            break;
        }
        used = m_input.size() - rest;
    }
    m_input.erase(m_input.begin(), m_input.begin() + used);
    m_bNegotiating = m_bNegotiating || negotiate;
    return negotiate;
}

// The input to the context until it wants the peer's next flight (false) or has done (true:
// records follow again). A renegotiation that fails fails the connection: never a silent end.
bool CTlsChannel::Renegotiate(SOCKET socket)
{
    SECURITY_STATUS status;
    do {
        if (!Negotiate(socket, true, SEND_WAIT_MS, &status)) {
            m_ended = -1;
            return false;
        }
    } while (status == SEC_I_CONTINUE_NEEDED && !m_input.empty());
    if (status == SEC_E_INCOMPLETE_MESSAGE || status == SEC_I_CONTINUE_NEEDED)
        return false;
    m_bNegotiating = false;
    if (status != SEC_E_OK ||
        m_pLibraries->sspi->QueryContextAttributesA(&m_context, SECPKG_ATTR_STREAM_SIZES, &m_sizes) != SEC_E_OK ||
        Verify(m_host.c_str()) != TLS_OK) {
        m_ended = -1;
        return false;
    }
    return true;
}

// Every complete record of the input, and between them whatever the context is given.
void CTlsChannel::Decrypt(SOCKET socket)
{
    if (m_ended != 0)
        return;
    if (m_bNegotiating && !Renegotiate(socket))
        return;
    while (DecryptRecords() && Renegotiate(socket)) {
    }
}

// More input from the socket; false when it has none yet. A close inside a record (or a
// renegotiation) has lost data: an error; between records it ends the connection as recv does.
bool CTlsChannel::TakeInput(SOCKET socket)
{
    if (m_input.size() >= INPUT_MAX) {
        m_ended = -1;
        return true;
    }
    int got = ReceiveInput(socket);
    if (got > 0)
        return true;
    if (got < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
        return false;
    m_ended = got == 0 && m_input.empty() && !m_bNegotiating ? 1 : -1;
    return true;
}

bool CTlsChannel::Pump(SOCKET socket)
{
    Decrypt(socket);
    while (!HasPlaintext() && m_ended == 0) {
        if (!TakeInput(socket))
            return false;
        Decrypt(socket);
    }
    return true;
}

int CTlsChannel::Receive(SOCKET socket, char* buf, int size)
{
    int done = 0;
    while (done < size) {
        // What has come meanwhile goes out with what was there: one receive hands out all of it.
        if (!HasPlaintext() && (done == 0 || m_ended != 0 || !Pump(socket) || !HasPlaintext()))
            break;
        size_t n = m_plain.size() - m_plainPos;
        if (n > static_cast<size_t>(size - done))
            n = size - done;
        memcpy(buf + done, m_plain.data() + m_plainPos, n);
        m_plainPos += n;
        done += static_cast<int>(n);
    }
    if (done > 0)
        return done;
    return m_ended == 1 ? 0 : -1;
}

void CTlsChannel::Close(SOCKET socket)
{
    if (!m_bStanding)
        return;
    m_bStanding = false;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token = Buffer(SECBUFFER_TOKEN, &type, sizeof(type));
    SecBufferDesc desc = {SECBUFFER_VERSION, 1, &token};
    SECURITY_STATUS status;
    if (m_pLibraries->sspi->ApplyControlToken != NULL &&
        m_pLibraries->sspi->ApplyControlToken(&m_context, &desc) == SEC_E_OK)
        Negotiate(socket, false, CLOSE_SEND_MS, &status);
}
