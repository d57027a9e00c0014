// TLS over one connected socket through the system's own security package (Schannel).
#pragma once

#include <winsock2.h>
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <wincrypt.h>

#include <string>
#include <vector>

struct CTlsLibraries;

enum
{
    TLS_OK,
    TLS_UNTRUSTED,     // the chain does not lead to a trusted root
    TLS_EXPIRED,       // a certificate of the chain is out of its validity
    TLS_WRONG_NAME,    // the certificate is not the host's
    TLS_FAILED,        // the handshake failed, the peer closed or the time ran out
    TLS_WOKEN          // the wake event was set: the owner ends anyway
};

class CTlsChannel
{
public:
    // libraries: the system's (TlsLibraries()) or a stand-in; NULL when the system has no TLS.
    explicit CTlsChannel(const CTlsLibraries* libraries);
    ~CTlsChannel();
    CTlsChannel(const CTlsChannel&) = delete;
    CTlsChannel& operator=(const CTlsChannel&) = delete;

    // The handshake on a connected non-blocking socket (TLS 1.2 or later), then the certificate
    // checked against the system's trusted roots, weak signatures and keys, and host. Waits on
    // the socket together with wake (may be null) for at most limitMs in all.
    int Handshake(SOCKET socket, const char* host, HANDLE wake, DWORD limitMs);

    // Encrypts and sends all of data (waiting up to 2 s for room); len, or -1 on failure.
    int Send(SOCKET socket, const char* data, int len);
    // Decrypts every complete record received, taking from the socket until plaintext comes;
    // true when plaintext is waiting, or when the connection has ended (then Receive says how).
    bool Pump(SOCKET socket);
    // Plaintext bytes, as recv would give them: above 0; 0 when the peer has closed, by its
    // close_notify or by a plain close between records (HTTP/1.0 bodies end so, and many servers
    // send no close_notify); -1 on an error or a close inside a record. Until size is reached it
    // decrypts what has come meanwhile, so one call hands out all there is. Call it after Pump
    // said true.
    int Receive(SOCKET socket, char* buf, int size);
    bool HasPlaintext() const { return m_plainPos < m_plain.size(); }
    // Our close_notify, when the channel stands: sent best effort, waiting little for room.
    void Close(SOCKET socket);

private:
    bool Negotiate(SOCKET socket, bool withInput, DWORD sendLimitMs, SECURITY_STATUS* status);
    bool Renegotiate(SOCKET socket);
    int Verify(const char* host);
    bool HasWeakCertificate(PCCERT_CHAIN_CONTEXT chain) const;
    void Decrypt(SOCKET socket);
    bool DecryptRecords();
    bool TakeInput(SOCKET socket);
    int ReceiveInput(SOCKET socket);
    bool SendAll(SOCKET socket, const char* data, int len, DWORD limitMs);

    const CTlsLibraries* m_pLibraries; // NULL when the system has no TLS: every handshake fails
    CredHandle m_cred;             // invalid until acquired
    CtxtHandle m_context;          // invalid until the first InitializeSecurityContext makes one
    std::string m_host;            // the certificate's name, checked again after a renegotiation
    bool m_bAddressHost;           // m_host is an IPv4 address, m_address: no SNI, IP entries only
    in_addr m_address;
    bool m_bStanding;              // the handshake and the certificate check have passed
    bool m_bNegotiating;           // a message after the handshake is with the context: input goes there
    SecPkgContext_StreamSizes m_sizes;
    std::vector<char> m_input;     // received, not yet decrypted
    std::vector<char> m_plain;     // decrypted, not yet handed out
    size_t m_plainPos;
    int m_ended;                   // 0 running, 1 closed by the peer, -1 failed
};
