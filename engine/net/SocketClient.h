// One non-blocking TCP client socket over IPv6 or IPv4: one connection attempt to an address, then its bytes.
#pragma once

#include <winsock2.h>
#include <windows.h>

class CTlsChannel;
struct CHostAddresses;
struct CHttpUrl;

// How a connection attempt ended.
enum
{
    CONNECT_OK,
    CONNECT_WOKEN,     // the wake event was set: the owner ends anyway, nothing to tell
    CONNECT_TIMED_OUT, // neither the name server nor the peer answered within the limit
    CONNECT_NOT_FOUND, // the name does not resolve (or, under the public-only rule, leads to a private address)
    CONNECT_FORBIDDEN, // a private address written as numbers, refused by the public-only rule
    CONNECT_NO_SOCKET,
    CONNECT_REFUSED,
    CONNECT_TLS_UNTRUSTED,
    CONNECT_TLS_EXPIRED,
    CONNECT_TLS_WRONG_NAME,
    CONNECT_TLS_FAILED
};

// The status text a failed attempt gives and its level (a certificate or handshake failure
// at level 1, as a fetch tells it); NULL for CONNECT_OK and CONNECT_WOKEN.
const char* ConnectFailureText(int result, int* level);

class CSocketClient
{
public:
    // owner (may be null): the window that each failed attempt is reported to. wake (may be
    // null): an event that, once set, ends a connection attempt at once, silently.
    explicit CSocketClient(HWND owner, HANDLE wake = NULL);
    virtual ~CSocketClient();

    CSocketClient(const CSocketClient&) = delete;
    CSocketClient& operator=(const CSocketClient&) = delete;

    // Connects to the address's host and port, closing any earlier connection: the name looked
    // up on a thread of its own, the public-only rule judged on each address it gave, the
    // connection made without blocking to its IPv6 address first and to its IPv4 one beside it
    // after a short while, all within limitMs together; then, for https, the TLS
    // handshake within handshakeLimitMs, the certificate checked for the host. Every wait also
    // ends at once on the wake event. CONNECT_OK, or why not (reported to the owner).
    int Connect(const CHttpUrl& url, DWORD limitMs, DWORD handshakeLimitMs);
    // Refuse addresses on private networks, judged on the addresses a name resolved to.
    void SetPublicOnly(bool publicOnly) { m_bPublicOnly = publicOnly; }
    // A name lookup may take up to ms, apart from the attempt's limit, which then counts from
    // the lookup's answer: a slow name server is no dead station. 0 (the default): the lookup
    // is part of the attempt's limit.
    void SetLookupLimit(DWORD ms) { m_dwLookupLimit = ms; }
    // Once connected; over https through the TLS channel.
    int Send(const char* data, int len);
    int Receive(char* buf, int size);
    // True when the last Receive failed only because nothing was there to take: no error, the
    // caller waits again.
    bool WouldBlock() const { return m_bWouldBlock; }
    int WaitReadable(int timeoutMicroseconds);
    // As above, but also returns 0 as soon as wake is set: a thread can sleep on the socket for
    // long and still be ended at once by another thread.
    int WaitReadable(int timeoutMicroseconds, HANDLE wake);

private:
    int Attempt(const CHttpUrl& url, DWORD limitMs, DWORD handshakeLimitMs);
    // Connects to one of the addresses within limitMs of start: m_socket and m_hNetEvent then hold it.
    int ConnectEither(const CHostAddresses& addresses, DWORD start, DWORD limitMs);
    int StartTls(const char* host, DWORD limitMs);
    void CloseSocket();
    int WaitSocketReadable(int timeoutMicroseconds);
    int WaitSocketReadable(int timeoutMicroseconds, HANDLE wake);

    HWND m_hOwner;
    HANDLE m_hWake;
    bool m_bPublicOnly;
    DWORD m_dwLookupLimit;
    SOCKET m_socket;
    bool m_bWouldBlock;
    HANDLE m_hNetEvent; // auto-reset, set by Winsock on FD_CONNECT, then on FD_READ or FD_CLOSE
    CTlsChannel* m_pTls;  // the TLS channel over the socket; none for plain HTTP
};

// Starts Winsock 2.0; 1 when it is ready. A missing Winsock 2 is reported to the window.
int StartWinsock(HWND window);
